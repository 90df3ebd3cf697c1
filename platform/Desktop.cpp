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
#include <sys/wait.h>

#include <cerrno>
#include <thread>

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
    const auto child = spawn(opener, {path});
    if (!child) {
        return false;
    }
    // xdg-open may run as long as the viewer does; a thread of its own collects it so no
    // zombie is left, and the GUI thread never waits.
    std::thread([pid = *child] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace platform

#endif
