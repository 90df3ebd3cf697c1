// What the editor asks of the desktop besides its windows: where the plug-in is installed and
// opening a file with the user's default program for its type.
//
// Threads: the GUI thread.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The folder holding the loaded plug-in binary (this code's own module), ending in '/'; the
// manual is installed beside the plug-in. Nullopt when the system cannot say.
std::optional<std::string> moduleFolder();

// Opens `path` with the desktop's default program for its type (xdg-open on Linux), without
// waiting for that program. False when no opener could be started.
bool shellOpen(const std::string& path);

} // namespace platform
