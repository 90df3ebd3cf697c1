#include "host/VstHost.h"

#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// Callbacks carry only the descriptor; the registry finds the host it belongs to. During the
// entry call the plug-in has no descriptor known to us yet, so the loading host answers.
std::mutex registryMutex;
std::map<AEffect*, VstHost*> registry;
thread_local VstHost* loadingHost = nullptr;

VstHost* hostFor(AEffect* effect) {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto it = registry.find(effect);
        if (it != registry.end()) {
            return it->second;
        }
    }
    return loadingHost;
}

// The platform's loader.
#ifdef _WIN32

void* loadLibrary(const std::string& path, std::string& error) {
    void* library = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (library == nullptr) {
        error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    }
    return library;
}

void freeLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

VstPluginMainProc findEntry(void* library, const char* entryName) {
    return reinterpret_cast<VstPluginMainProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(library), entryName)));
}

#else

void* loadLibrary(const std::string& path, std::string& error) {
    // Kept mapped after dlclose, as many hosts keep their plug-ins: the libraries a plug-in
    // pulls in may hold caches of their own (FFTW's planner) that only a process exit frees.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "dlopen failed";
    }
    return library;
}

void freeLibrary(void* library) {
    dlclose(library);
}

VstPluginMainProc findEntry(void* library, const char* entryName) {
    return reinterpret_cast<VstPluginMainProc>(dlsym(library, entryName));
}

#endif

} // namespace

VstHost::VstHost(const std::string& libraryPath) {
    library = loadLibrary(libraryPath, loadError);
}

VstHost::~VstHost() {
    if (plugin != nullptr) {
        close();
    }
    if (library != nullptr) {
        freeLibrary(library);
    }
}

AEffect* VstHost::open(const char* entryName) {
    if (library == nullptr) {
        return nullptr;
    }
    const VstPluginMainProc entry = findEntry(library, entryName);
    if (entry == nullptr) {
        loadError = std::string("no entry point ") + entryName;
        return nullptr;
    }
    loadingHost = this;
    plugin = entry(hostCallback);
    loadingHost = nullptr;
    if (plugin != nullptr) {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry[plugin] = this;
    }
    return plugin;
}

VstIntPtr VstHost::close() {
    if (plugin == nullptr) {
        return 0;
    }
    const VstIntPtr result = plugin->dispatcher(plugin, effClose, 0, 0, nullptr, 0.0f);
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(plugin);
    plugin = nullptr;
    return result;
}

VstIntPtr VstHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                            float opt) {
    return plugin->dispatcher(plugin, opcode, index, value, ptr, opt);
}

void VstHost::setParameter(VstInt32 index, float value) {
    plugin->setParameter(plugin, index, value);
}

float VstHost::getParameter(VstInt32 index) {
    return plugin->getParameter(plugin, index);
}

void VstHost::processReplacing(float** inputs, float** outputs, VstInt32 frames) {
    plugin->processReplacing(plugin, inputs, outputs, frames);
}

std::vector<VstHost::Call> VstHost::callsOf(VstInt32 opcode) const {
    std::vector<Call> result;
    for (const Call& call : calls) {
        if (call.opcode == opcode) {
            result.push_back(call);
        }
    }
    return result;
}

VstIntPtr VSTCALLBACK VstHost::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                            VstIntPtr value, void* ptr, float opt) {
    VstHost* host = hostFor(effect);
    if (host == nullptr) {
        return 0;
    }
    return host->answer(opcode, index, value, ptr, opt);
}

VstIntPtr VstHost::answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    Call call{opcode, index, value, opt, {}};
    if (opcode == audioMasterCanDo && ptr != nullptr) {
        call.text = static_cast<const char*>(ptr);
    }
    calls.push_back(call);
    switch (opcode) {
    case audioMasterVersion:
        return versionAnswer;
    case audioMasterCanDo: {
        auto it = canDo.find(call.text);
        return it != canDo.end() ? it->second : 0;
    }
    case audioMasterIOChanged:
        return 1;
    default:
        return 0;
    }
}
