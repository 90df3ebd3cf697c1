// A minimal VST 2.4 host for tests and inspection: loads a plug-in binary with dlopen (with
// LoadLibrary on Windows), drives it only through its exported entry point and descriptor, and
// records every call the plug-in makes back into the host.
#pragma once

#include "plugin/VstInterface.h"

#include <map>
#include <string>
#include <vector>

class VstHost {
public:
    // One call from the plug-in into the host.
    struct Call {
        VstInt32 opcode;
        VstInt32 index;
        VstIntPtr value;
        float opt;
        std::string text; // the string behind ptr for audioMasterCanDo
    };

    explicit VstHost(const std::string& libraryPath);
    ~VstHost();
    VstHost(const VstHost&) = delete;
    VstHost& operator=(const VstHost&) = delete;

    // Why loading failed, empty when the library and its entry point were found.
    const std::string& error() const { return loadError; }

    // Calls the entry point (VSTPluginMain, else main) with the host callback. Returns the
    // descriptor, or null when the plug-in refused to load.
    AEffect* open(const char* entryName = "VSTPluginMain");
    // effClose; the descriptor is gone afterwards.
    VstIntPtr close();

    AEffect* effect() const { return plugin; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);
    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    void processReplacing(float** inputs, float** outputs, VstInt32 frames);
    // Convenience: effSetSampleRate.
    void setSampleRate(float rate) { dispatch(effSetSampleRate, 0, 0, nullptr, rate); }

    // What the host answers.
    VstIntPtr versionAnswer{kVstVersion};   // to audioMasterVersion
    std::map<std::string, VstIntPtr> canDo; // to audioMasterCanDo, by string

    std::vector<Call> calls; // every callback received, in order
    void clearCalls() { calls.clear(); }
    // The calls with this opcode.
    std::vector<Call> callsOf(VstInt32 opcode) const;

    static VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                              VstIntPtr value, void* ptr, float opt);

private:
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    void* library{nullptr};
    std::string loadError;
    AEffect* plugin{nullptr};
};
