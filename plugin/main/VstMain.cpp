// The plug-in library's entry point, exported as VSTPluginMain and as main.
#include "editor/PluginEditor.h"
#include "plugin/VeltranoVST.h"

#include <new>

#if defined(_WIN32)
#define VELTRANO_EXPORT __declspec(dllexport)
#else
#define VELTRANO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" VELTRANO_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
    // A host that does not answer the version query is not one we can run in.
    if (audioMaster == nullptr ||
        audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) {
        return nullptr;
    }
    // Nothing may escape into the host: a failed construction is a plug-in that does not load.
    try {
        auto* effect = new (std::nothrow) VeltranoVST(audioMaster);
        if (effect == nullptr) {
            return nullptr;
        }
        try {
            effect->installEditor(createPluginEditor(effect)); // sets effFlagsHasEditor
        } catch (...) {
            delete effect;
            return nullptr;
        }
        return effect->getAeffect();
    } catch (...) {
        return nullptr;
    }
}

#if !defined(_WIN32)
// Older Linux hosts look for "main"; the module definition file gives Windows the same alias.
extern "C" VELTRANO_EXPORT AEffect* VSTCALLBACK
vstPluginMainAlias(audioMasterCallback audioMaster) __asm__("main");
extern "C" AEffect* VSTCALLBACK vstPluginMainAlias(audioMasterCallback audioMaster) {
    return VSTPluginMain(audioMaster);
}
#endif
