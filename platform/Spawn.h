// Starting helper programs directly (no shell, so no character of an argument is taken as a
// command). Linux only.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The program's path if a folder of PATH holds it as an executable, else empty.
std::string findProgram(std::string_view name);

// Starts `program` with the arguments; its standard output goes to `outputFd` when that is not
// negative. The child's process id, or nullopt when it could not be started. The caller waits
// for it.
std::optional<pid_t> spawn(const std::string& program, const std::vector<std::string>& arguments,
                           int outputFd = -1);

// Starts `program` with the arguments so that it belongs to nobody here: it is started by a
// short-lived child that exits at once (so it is collected at once), and lives on as a child
// of the system's init. Nothing of ours waits for it or runs when it ends, so this code may be
// unloaded meanwhile. False when it could not be started.
bool spawnDetached(const std::string& program, const std::vector<std::string>& arguments);

} // namespace platform
