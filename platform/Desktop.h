// What the editor asks of the desktop besides its windows: where the plug-in is installed and
// opening a file with the user's default program for its type.
//
// Threads: the GUI thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The longest install path built, terminating zero included (Linux; Windows builds MAX_PATH).
inline constexpr std::size_t kMaxInstallPath = 4096;

// The step of building an install path that failed; each has its own message in the editor.
enum class InstallPathFailure {
    kNone,         // the path was built
    kFolder,       // the base folder is unknown
    kAppendFolder, // the plug-in's own folder could not be appended
    kAppendFile    // the file name could not be appended
};

struct InstallPath {
    std::string path; // valid when failed is kNone
    InstallPathFailure failed = InstallPathFailure::kNone;
};

// The folder the plug-in is installed in, followed by `fileName` (empty: the folder itself).
// Windows: the Program Files folder (created if missing), then "Brimwater\Veltrano VST\", then
// the file name, as SHGetFolderPathA and PathAppendA build it. Linux: the folder of the loaded
// plug-in (moduleFolder), then the file name.
InstallPath installFolderPath(std::string_view fileName);

// `fileName` in `folder` joined with '/' (added when the folder does not end in one), as the
// Linux install path is built: kFolder without a folder, kAppendFolder when the folder alone,
// kAppendFile when the whole path does not fit kMaxInstallPath.
InstallPath pathInFolder(const std::optional<std::string>& folder, std::string_view fileName);

// The folder holding the loaded plug-in binary (this code's own module), ending in '/' ('\' on
// Windows). Nullopt when the system cannot say.
std::optional<std::string> moduleFolder();

// Opens `path` with the desktop's default program for its type (xdg-open on Linux, the
// shell's "open" verb on Windows), without waiting for that program. False when no opener
// could be started.
bool shellOpen(const std::string& path);

} // namespace platform
