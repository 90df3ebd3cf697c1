// vst-inspect PLUGIN.so [RATE]: loads a VST 2.4 plug-in the way a host does and prints what the
// host sees: the descriptor, the identity strings, the parameters, the callbacks the plug-in
// made while loading and, after a sample-rate change, the latency it reports.
#include "host/VstHost.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string fourCC(VstInt32 value) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((static_cast<std::uint32_t>(value) >> shift) & 0xff);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

const char* callbackName(VstInt32 opcode) {
    switch (opcode) {
    case audioMasterAutomate:
        return "audioMasterAutomate";
    case audioMasterVersion:
        return "audioMasterVersion";
    case audioMasterIdle:
        return "audioMasterIdle";
    case audioMasterIOChanged:
        return "audioMasterIOChanged";
    case audioMasterCanDo:
        return "audioMasterCanDo";
    case audioMasterBeginEdit:
        return "audioMasterBeginEdit";
    case audioMasterEndEdit:
        return "audioMasterEndEdit";
    default:
        return "other";
    }
}

void printCalls(VstHost& host) {
    for (const VstHost::Call& call : host.calls) {
        std::printf("  callback %-22s (%d) index %d value %ld opt %g\n", callbackName(call.opcode),
                    call.opcode, call.index, static_cast<long>(call.value),
                    static_cast<double>(call.opt));
    }
    host.clearCalls();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vst-inspect PLUGIN.so [SAMPLE_RATE]\n");
        return 2;
    }
    const float rate = argc > 2 ? std::strtof(argv[2], nullptr) : 44100.0f;

    VstHost host(argv[1]);
    if (!host.error().empty()) {
        std::fprintf(stderr, "vst-inspect: %s\n", host.error().c_str());
        return 1;
    }
    AEffect* effect = host.open();
    if (effect == nullptr) {
        std::fprintf(stderr, "vst-inspect: the plug-in did not load (%s)\n",
                     host.error().empty() ? "entry returned null" : host.error().c_str());
        return 1;
    }

    std::printf("plug-in     %s\n", argv[1]);
    std::printf("loading:\n");
    printCalls(host);

    char vendor[kVstMaxVendorStrLen + 1] = {};
    char product[kVstMaxProductStrLen + 1] = {};
    const VstIntPtr hasVendor = host.dispatch(effGetVendorString, 0, 0, vendor);
    const VstIntPtr hasProduct = host.dispatch(effGetProductString, 0, 0, product);
    std::printf("magic       '%s'\n", fourCC(effect->magic).c_str());
    std::printf("uniqueID    '%s'\n", fourCC(effect->uniqueID).c_str());
    std::printf("version     %d\n", effect->version);
    std::printf("vendor      \"%s\" (answer %ld)\n", vendor, static_cast<long>(hasVendor));
    std::printf("product     \"%s\" (answer %ld)\n", product, static_cast<long>(hasProduct));
    std::printf("VST version %ld\n", static_cast<long>(host.dispatch(effGetVstVersion)));
    std::printf("category    %ld\n", static_cast<long>(host.dispatch(effGetPlugCategory)));
    std::printf("programs    %d\n", effect->numPrograms);
    std::printf("parameters  %d\n", effect->numParams);
    std::printf("inputs      %d\n", effect->numInputs);
    std::printf("outputs     %d\n", effect->numOutputs);
    std::printf("flags       0x%x%s%s%s\n", effect->flags,
                (effect->flags & effFlagsHasEditor) ? " HasEditor" : "",
                (effect->flags & effFlagsCanReplacing) ? " CanReplacing" : "",
                (effect->flags & effFlagsCanDoubleReplacing) ? " CanDoubleReplacing" : "");
    std::printf("initialDelay %d\n", effect->initialDelay);
    std::printf("parameter values:\n");
    for (VstInt32 i = 0; i < effect->numParams; ++i) {
        std::printf("  %2d  %.8g\n", i, static_cast<double>(host.getParameter(i)));
    }

    host.setSampleRate(rate);
    std::printf("after effSetSampleRate %g:\n", static_cast<double>(rate));
    printCalls(host);
    std::printf("initialDelay %d frames\n", effect->initialDelay);

    const VstIntPtr closed = host.close();
    std::printf("effClose answered %ld\n", static_cast<long>(closed));
    return 0;
}
