// veltrano verify: the chain-of-custody check of processing records. For each record it hashes
// the input, output and residue files the record names again and says, file by file, whether
// each is still the file that was recorded. With --reprocess it also runs the recorded setting
// on the input again, in a temporary folder of its own, and checks that the output is the
// recorded output bit for bit; where it is not, it counts the samples that differ.
//
// It only reads the files a record names: nothing is written beside them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// `args`: record files or folders (every *.record.json in them) and --reprocess. Returns the
// exit status: 0 every file of every record matches (and reprocesses to the recorded output),
// 1 something does not match or is missing, 2 a usage error or a record that cannot be read,
// 130 interrupted.
int runVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace cli
