#include "platform/Desktop.h"

#if defined(_WIN32)

namespace platform {

std::optional<std::string> moduleFolder() {
    return std::nullopt;
}

bool shellOpen(const std::string&) {
    return false;
}

} // namespace platform

#else

#include "platform/Spawn.h"

#include <dlfcn.h>

namespace platform {

std::optional<std::string> moduleFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleFolder), &info) == 0 || info.dli_fname == nullptr) {
        return std::nullopt;
    }
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::string("./"); // a program found through PATH resolution names no folder
    }
    path.resize(slash + 1);
    return path;
}

bool shellOpen(const std::string& path) {
    const std::string opener = findProgram("xdg-open");
    if (opener.empty()) {
        return false;
    }
    // The viewer may outlive the plug-in (a host may unload it meanwhile): nothing of ours
    // stays behind to wait for it.
    return spawnDetached(opener, {path});
}

} // namespace platform

#endif
