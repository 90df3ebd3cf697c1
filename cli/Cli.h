// The veltrano command: argument handling, the batch with its worker threads, progress, the
// summary, the settings commands and the demonstration.
#pragma once

#include <iosfwd>

namespace cli {

// Runs the command; returns the exit status: 0 every file restored, 1 some file failed,
// 2 the command itself is wrong (nothing was touched), 130 interrupted.
int run(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace cli
