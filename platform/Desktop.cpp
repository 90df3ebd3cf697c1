#include "platform/Desktop.h"

namespace platform {

InstallPath pathInFolder(const std::optional<std::string>& folder, std::string_view fileName) {
    InstallPath result;
    if (!folder.has_value()) {
        result.failed = InstallPathFailure::kFolder;
        return result;
    }
    std::string built = *folder;
    if (!built.empty() && built.back() != '/') {
        built.push_back('/');
    }
    if (built.size() >= kMaxInstallPath) {
        result.failed = InstallPathFailure::kAppendFolder;
        return result;
    }
    if (built.size() + fileName.size() >= kMaxInstallPath) {
        result.failed = InstallPathFailure::kAppendFile;
        return result;
    }
    built.append(fileName);
    result.path = std::move(built);
    return result;
}

} // namespace platform

#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdint>

namespace platform {

InstallPath installFolderPath(std::string_view fileName) {
    InstallPath result;
    char path[MAX_PATH] = {};
    // CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE
    if (FAILED(SHGetFolderPathA(nullptr, 0x8026, nullptr, 0, path))) {
        result.failed = InstallPathFailure::kFolder;
        return result;
    }
    if (!PathAppendA(path, "Brimwater\\Veltrano VST\\")) {
        result.failed = InstallPathFailure::kAppendFolder;
        return result;
    }
    // PathAppendA takes a terminated name; a name of MAX_PATH or more cannot fit anyway.
    const std::string name(fileName.substr(0, MAX_PATH));
    if (fileName.size() >= MAX_PATH || !PathAppendA(path, name.c_str())) {
        result.failed = InstallPathFailure::kAppendFile;
        return result;
    }
    result.path = path;
    return result;
}

std::optional<std::string> moduleFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&moduleFolder), &module)) {
        return std::nullopt;
    }
    char name[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::nullopt; // failed, or cut short
    }
    std::string path(name, length);
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return std::nullopt;
    }
    path.resize(separator + 1);
    return path;
}

bool shellOpen(const std::string& path) {
    const HINSTANCE done = ShellExecuteA(nullptr, "open", path.c_str(), nullptr, "", SW_SHOWNORMAL);
    // Values above 32 mean success.
    return reinterpret_cast<std::intptr_t>(done) > 32;
}

} // namespace platform

#else

#include "platform/Spawn.h"

#include <dlfcn.h>

namespace platform {

InstallPath installFolderPath(std::string_view fileName) {
    return pathInFolder(moduleFolder(), fileName);
}

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
