// The plug-in as a host sees it: loaded from the built binary and driven only through its
// entry point and descriptor.
#include "host/VstHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

namespace {

constexpr VstInt32 kParams = 35;

class PluginInterface : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.error().empty()) << host.error();
        effect = host.open();
        ASSERT_NE(effect, nullptr);
    }

    VstSpeakerArrangement arrangement(VstInt32 type, VstInt32 channels) {
        VstSpeakerArrangement a{};
        a.type = type;
        a.numChannels = channels;
        for (int i = 0; i < 8; ++i) {
            a.speakers[i].type = i + 1;
            std::snprintf(a.speakers[i].name, sizeof a.speakers[i].name, "spk%d", i);
        }
        return a;
    }

    VstIntPtr setArrangement(VstSpeakerArrangement* in, VstSpeakerArrangement* out) {
        return host.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(in), out);
    }

    void getArrangement(VstSpeakerArrangement*& in, VstSpeakerArrangement*& out) {
        in = nullptr;
        out = nullptr;
        ASSERT_EQ(
            host.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out), 1);
        ASSERT_NE(in, nullptr);
        ASSERT_NE(out, nullptr);
    }

    VstHost host{VELTRANO_PLUGIN_PATH};
    AEffect* effect{nullptr};
};

TEST(PluginLoading, HostThatDoesNotAnswerTheVersionGetsNoDescriptor) {
    VstHost host(VELTRANO_PLUGIN_PATH);
    host.versionAnswer = 0;
    EXPECT_EQ(host.open(), nullptr);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
}

TEST(PluginLoading, MainIsTheSameEntryAsVstPluginMain) {
    VstHost host(VELTRANO_PLUGIN_PATH);
    AEffect* effect = host.open("main");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->uniqueID, vstFourCC('V', 'T', 'V', 'T'));
    EXPECT_EQ(host.close(), 1);
}

TEST(PluginLoading, InstancesKeepTheirOwnParameters) {
    VstHost first(VELTRANO_PLUGIN_PATH);
    VstHost second(VELTRANO_PLUGIN_PATH);
    ASSERT_NE(first.open(), nullptr);
    ASSERT_NE(second.open(), nullptr);
    first.setParameter(30, 0.25f);
    EXPECT_FLOAT_EQ(first.getParameter(30), 0.25f);
    EXPECT_FLOAT_EQ(second.getParameter(30), 0.0f);
}

TEST_F(PluginInterface, LoadingAsksTheVersionThenReportsItsChannels) {
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.calls[1].opcode, audioMasterIOChanged);
}

TEST_F(PluginInterface, DescriptorHoldsThePublishedValues) {
    EXPECT_EQ(effect->magic, 0x56737450);
    EXPECT_EQ(effect->uniqueID, 0x56545654); // 'VTVT'
    EXPECT_EQ(effect->version, 1);
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->numParams, kParams);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    // Replacing processing and an editor; no chunks, no double precision, no synth.
    EXPECT_EQ(effect->flags, effFlagsCanReplacing | effFlagsHasEditor);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->resvd2, 0);
    EXPECT_EQ(effect->realQualities, 0);
    EXPECT_EQ(effect->offQualities, 0);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_NE(effect->object, nullptr);
    EXPECT_EQ(effect->user, nullptr);
    EXPECT_NE(effect->dispatcher, nullptr);
    EXPECT_NE(effect->process, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->processDoubleReplacing, nullptr);
    for (char byte : effect->future) {
        EXPECT_EQ(byte, 0);
    }
}

TEST_F(PluginInterface, IdentityStrings) {
    char text[256];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(host.dispatch(effGetVendorString, 0, 0, text), 1);
    EXPECT_STREQ(text, "Brimwater");
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(host.dispatch(effGetProductString, 0, 0, text), 1);
    EXPECT_STREQ(text, "Veltrano VST");
    // No effect name: nothing written.
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(host.dispatch(effGetEffectName, 0, 0, text), 0);
    EXPECT_EQ(text[0], 'x');
}

TEST_F(PluginInterface, NamesLabelsAndDisplaysAreEmptyForEveryIndex) {
    for (VstInt32 opcode :
         {effGetParamName, effGetParamLabel, effGetParamDisplay, effGetProgramName}) {
        for (VstInt32 index : {-1, 0, 19, 34, 35, 71, 1000}) {
            char text[64];
            std::memset(text, 'x', sizeof text);
            EXPECT_EQ(host.dispatch(opcode, index, 0, text), 0);
            EXPECT_EQ(text[0], '\0') << "opcode " << opcode << " index " << index;
            EXPECT_EQ(text[1], 'x') << "wrote more than a terminator";
        }
    }
}

TEST_F(PluginInterface, OpcodeAnswers) {
    struct Expected {
        VstInt32 opcode;
        VstIntPtr value;
        VstIntPtr answer;
    };
    const Expected table[] = {
        {effOpen, 0, 0},
        {effSetProgramName, 0, 0},
        {effGetVu, 0, 0},
        {effSetBlockSize, 512, 0},
        {effMainsChanged, 1, 0},
        {effMainsChanged, 0, 0},
        {effEditGetRect, 0, 0},
        {effEditOpen, 0, 0},
        {effEditClose, 0, 0},
        {effEditDraw, 0, 0},
        {effEditMouse, 0, 0},
        {effEditKey, 0, 0},
        {effEditIdle, 0, 0},
        {effEditTop, 0, 0},
        {effEditSleep, 0, 0},
        {effIdentify, 0, 0x4E764566},
        {effGetChunk, 0, 0},
        {effSetChunk, 0, 0},
        {effProcessEvents, 0, 0},
        {effString2Parameter, 0, 0},
        {effGetProgramNameIndexed, 0, 0},
        {effGetInputProperties, 0, 0},
        {effGetOutputProperties, 0, 0},
        {effGetPlugCategory, 0, kPlugCategUnknown},
        {effOfflineNotify, 0, 0},
        {effOfflinePrepare, 0, 0},
        {effOfflineRun, 0, 0},
        {effProcessVarIo, 0, 0},
        {effSetBypass, 1, 0},
        {effGetVendorVersion, 0, 0},
        {effVendorSpecific, 0, 0},
        {effGetTailSize, 0, 0},
        {effGetParameterProperties, 0, 0},
        {effGetVstVersion, 0, 2400},
        {effEditKeyDown, 0, 0},
        {effEditKeyUp, 0, 0},
        {effSetEditKnobMode, 2, 0},
        {effGetMidiProgramName, 0, 0},
        {effGetCurrentMidiProgram, 0, -1},
        {effGetMidiProgramCategory, 0, 0},
        {effHasMidiProgramsChanged, 0, 0},
        {effGetMidiKeyName, 0, 0},
        {effBeginSetProgram, 0, 0},
        {effEndSetProgram, 0, 0},
        {effShellGetNextPlugin, 0, 0},
        {effStartProcess, 0, 0},
        {effStopProcess, 0, 0},
        {effSetTotalSampleToProcess, 123456, 123456},
        {effSetPanLaw, 0, 0},
        {effBeginLoadBank, 0, 0},
        {effBeginLoadProgram, 0, 0},
        {effSetProcessPrecision, 1, 0},
        {effGetNumMidiInputChannels, 0, 0},
        {effGetNumMidiOutputChannels, 0, 0},
    };
    for (const Expected& e : table) {
        EXPECT_EQ(host.dispatch(e.opcode, 0, e.value, nullptr, 0.0f), e.answer)
            << "opcode " << e.opcode;
    }
    // Deprecated, undefined and out-of-range opcodes answer 0.
    for (VstInt32 opcode : {28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57, 80, 81, 1000, -1,
                            std::numeric_limits<VstInt32>::min()}) {
        EXPECT_EQ(host.dispatch(opcode, 0, 0, nullptr, 0.0f), 0) << "opcode " << opcode;
    }
    // None of this touched the parameters.
    EXPECT_FLOAT_EQ(host.getParameter(34), 0.6552886f);
}

TEST_F(PluginInterface, EveryIndexCanBeAutomatedAndNothingIsDone) {
    for (VstInt32 index : {-1, 0, 34, 35, 71, 5000}) {
        EXPECT_EQ(host.dispatch(effCanBeAutomated, index), 1);
    }
    char canDoText[] = "receiveVstEvents";
    char bypass[] = "bypass";
    char empty[] = "";
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, canDoText), 0);
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, bypass), 0);
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, empty), 0);
    EXPECT_EQ(host.dispatch(effCanDo, 0, 0, nullptr), 0);
}

TEST_F(PluginInterface, OnlyTheOneProgramExists) {
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
    for (VstIntPtr program : {VstIntPtr{1}, VstIntPtr{5}, VstIntPtr{-1}, VstIntPtr{-100}}) {
        EXPECT_EQ(host.dispatch(effSetProgram, 0, program), 0);
        EXPECT_EQ(host.dispatch(effGetProgram), 0) << "after effSetProgram " << program;
    }
    EXPECT_EQ(host.dispatch(effSetProgram, 0, 0), 0);
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
}

TEST_F(PluginInterface, NullPointersWriteNothingAndAnswerFalse) {
    for (VstInt32 opcode : std::initializer_list<VstInt32>{
             effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName,
             effGetVendorString, effGetProductString, effGetEffectName, effCanDo, effGetChunk,
             effSetChunk, effEditGetRect, effGetSpeakerArrangement, effSetSpeakerArrangement,
             effString2Parameter, effGetProgramNameIndexed}) {
        EXPECT_EQ(host.dispatch(opcode, 0, 0, nullptr), 0) << "opcode " << opcode;
    }
    // Non-finite and huge option values where the plug-in reads one.
    EXPECT_EQ(host.dispatch(effEditKeyDown, 65, 0, nullptr, std::nanf("")), 0);
    EXPECT_EQ(host.dispatch(effEditKeyUp, 65, 0, nullptr, 1e30f), 0);
}

TEST_F(PluginInterface, TheEditorGivesItsSizeAndRefusesAParentThatIsNoWindow) {
    ERect* rect = nullptr;
    ASSERT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 470);
    EXPECT_EQ(rect->right, 576);
    // Not a window on any display (or no display at all): nothing opens, nothing breaks.
    int notAWindow = 0;
    EXPECT_EQ(host.dispatch(effEditOpen, 0, 0, &notAWindow), 0);
    EXPECT_EQ(host.dispatch(effEditIdle), 0);
    EXPECT_EQ(host.dispatch(effEditClose), 0);
}

TEST_F(PluginInterface, InitialParameterValues) {
    for (VstInt32 band = 0; band < 20; ++band) {
        EXPECT_EQ(host.getParameter(band), 1.0f) << "band " << band;
    }
    for (VstInt32 index = 20; index < 33; ++index) {
        EXPECT_EQ(host.getParameter(index), 0.0f) << "index " << index;
    }
    EXPECT_NEAR(host.getParameter(33), 0.16656236f, 1e-7f);
    EXPECT_EQ(host.getParameter(34), 0.6552886f);
}

TEST_F(PluginInterface, IndicesBeyondTheParametersReadZero) {
    for (VstInt32 index :
         {35, 42, 43, 44, 45, 48, 67, 68, 69, 70, 71, 72, 1000, -1,
          std::numeric_limits<VstInt32>::min(), std::numeric_limits<VstInt32>::max()}) {
        host.setParameter(index, 0.25f);
        EXPECT_EQ(host.getParameter(index), 0.0f) << "index " << index;
    }
}

TEST_F(PluginInterface, ValuesAreClampedWhereTheMappingSaysSo) {
    host.setParameter(30, 1.5f);
    EXPECT_EQ(host.getParameter(30), 1.0f);
    host.setParameter(30, -0.2f);
    EXPECT_EQ(host.getParameter(30), 0.0f);
    host.setParameter(45, 0.25f);
    EXPECT_EQ(host.getParameter(30), 0.25f);
    host.setParameter(46, 2.0f);
    EXPECT_EQ(host.getParameter(31), 1.0f);
    host.setParameter(47, -3.0f);
    EXPECT_EQ(host.getParameter(32), 0.0f);
    host.setParameter(68, 0.5f);
    EXPECT_EQ(host.getParameter(33), 0.5f);
    host.setParameter(34, 7.0f);
    EXPECT_EQ(host.getParameter(34), 1.0f);
    host.setParameter(48, 1.7f);
    EXPECT_EQ(host.getParameter(0), 1.0f);
    host.setParameter(67, -1.0f);
    EXPECT_EQ(host.getParameter(19), 0.0f);
    // Switches and bands 0-19 store what they receive.
    host.setParameter(20, 0.5f);
    EXPECT_EQ(host.getParameter(20), 0.5f);
    host.setParameter(29, 3.0f);
    EXPECT_EQ(host.getParameter(29), 3.0f);
    host.setParameter(5, 1.7f);
    EXPECT_EQ(host.getParameter(5), 1.7f);
    host.setParameter(6, -0.5f);
    EXPECT_EQ(host.getParameter(6), -0.5f);
}

TEST_F(PluginInterface, NonFiniteValuesAreIgnored) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    std::vector<float> before;
    for (VstInt32 index = 0; index < kParams; ++index) {
        before.push_back(host.getParameter(index));
    }
    for (float value : bad) {
        for (VstInt32 index = 0; index <= 75; ++index) {
            host.setParameter(index, value);
        }
    }
    for (VstInt32 index = 0; index < kParams; ++index) {
        EXPECT_EQ(host.getParameter(index), before[index]) << "index " << index;
    }
}

TEST_F(PluginInterface, HumFrequencyStepsAndStopsAtTheEnds) {
    host.setParameter(43, 1.0f);
    EXPECT_FLOAT_EQ(host.getParameter(34), 0.6552886f - 0.01f);
    for (int i = 0; i < 100; ++i) {
        host.setParameter(43, 1.0f);
    }
    EXPECT_EQ(host.getParameter(34), 0.0f);
    for (int i = 0; i < 150; ++i) {
        host.setParameter(43, -1.0f);
    }
    EXPECT_EQ(host.getParameter(34), 1.0f);
}

TEST_F(PluginInterface, EqualizerCommands) {
    host.setParameter(69, 0.0f); // flat
    host.setParameter(44, 3.0f); // every band 3 dB down
    for (VstInt32 band = 0; band < 20; ++band) {
        EXPECT_NEAR(host.getParameter(band), 0.9f, 1e-6f) << "band " << band;
    }
    host.setParameter(44, 30.0f); // clamps at -30 dB
    for (VstInt32 band = 0; band < 20; ++band) {
        EXPECT_NEAR(host.getParameter(band), 0.0f, 1e-6f) << "band " << band;
    }
    host.setParameter(69, 0.3f); // the value plays no part
    for (VstInt32 band = 0; band < 20; ++band) {
        EXPECT_EQ(host.getParameter(band), 1.0f) << "band " << band;
    }

    host.setParameter(70, 0.123f); // low cut
    EXPECT_NEAR(host.getParameter(0), (20.0f * std::log10(0.0398f) + 30.0f) / 30.0f, 1e-6f);
    EXPECT_NEAR(host.getParameter(10), (20.0f * std::log10(0.8995f) + 30.0f) / 30.0f, 1e-6f);
    for (VstInt32 band = 11; band < 20; ++band) {
        EXPECT_EQ(host.getParameter(band), 1.0f) << "band " << band;
    }

    host.setParameter(71, 0.9f); // high cut
    for (VstInt32 band = 0; band < 8; ++band) {
        EXPECT_EQ(host.getParameter(band), 1.0f) << "band " << band;
    }
    EXPECT_NEAR(host.getParameter(8), (20.0f * std::log10(0.9739f) + 30.0f) / 30.0f, 1e-6f);
    EXPECT_NEAR(host.getParameter(19), (20.0f * std::log10(0.0394f) + 30.0f) / 30.0f, 1e-6f);
}

TEST_F(PluginInterface, SpeakerArrangementsStartStereo) {
    VstSpeakerArrangement* in = nullptr;
    VstSpeakerArrangement* out = nullptr;
    getArrangement(in, out);
    EXPECT_EQ(in->type, kSpeakerArrStereo);
    EXPECT_EQ(in->numChannels, 2);
    EXPECT_EQ(out->type, kSpeakerArrStereo);
    EXPECT_EQ(out->numChannels, 2);
    // One pointer missing: nothing written, false.
    VstSpeakerArrangement* onlyIn = nullptr;
    EXPECT_EQ(
        host.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&onlyIn), nullptr),
        0);
    EXPECT_EQ(onlyIn, nullptr);
}

TEST_F(PluginInterface, MonoInputMakesTheOutputMonoToo) {
    VstSpeakerArrangement monoIn = arrangement(kSpeakerArrMono, 1);
    VstSpeakerArrangement stereoOut = arrangement(kSpeakerArrStereo, 2);
    EXPECT_EQ(setArrangement(&monoIn, &stereoOut), 0);
    VstSpeakerArrangement* in = nullptr;
    VstSpeakerArrangement* out = nullptr;
    getArrangement(in, out);
    EXPECT_EQ(in->numChannels, 1);
    EXPECT_EQ(in->type, kSpeakerArrMono);
    EXPECT_STREQ(in->speakers[0].name, "spk0");
    EXPECT_EQ(out->numChannels, 1);
    EXPECT_EQ(out->type, kSpeakerArrMono);

    VstSpeakerArrangement monoOut = arrangement(kSpeakerArrMono, 1);
    EXPECT_EQ(setArrangement(&monoIn, &monoOut), 1);
    getArrangement(in, out);
    EXPECT_EQ(in->numChannels, 1);
    EXPECT_EQ(out->numChannels, 1);

    VstSpeakerArrangement stereoIn = arrangement(kSpeakerArrStereo, 2);
    EXPECT_EQ(setArrangement(&stereoIn, &stereoOut), 1);
    getArrangement(in, out);
    EXPECT_EQ(in->numChannels, 2);
    EXPECT_EQ(out->numChannels, 2);
    EXPECT_STREQ(out->speakers[1].name, "spk1");
}

TEST_F(PluginInterface, ChannelCountsWeCannotHandleFallBackToStereo) {
    VstSpeakerArrangement stereo = arrangement(kSpeakerArrStereo, 2);
    for (VstInt32 channels : {3, 8, 1000000, std::numeric_limits<VstInt32>::max(), 0, -1,
                              std::numeric_limits<VstInt32>::min()}) {
        VstSpeakerArrangement offered = arrangement(kSpeakerArrUserDefined, channels);
        EXPECT_EQ(setArrangement(&offered, &stereo), 0) << channels << " channels";
        VstSpeakerArrangement* in = nullptr;
        VstSpeakerArrangement* out = nullptr;
        getArrangement(in, out);
        EXPECT_EQ(in->numChannels, 2);
        EXPECT_EQ(in->type, kSpeakerArrStereo);
        EXPECT_EQ(out->numChannels, 2);
        // An output we cannot match follows the input and answers false.
        VstSpeakerArrangement badOut = arrangement(kSpeakerArrUserDefined, channels);
        EXPECT_EQ(setArrangement(&stereo, &badOut), 0);
        getArrangement(in, out);
        EXPECT_EQ(out->numChannels, 2);
    }
}

TEST_F(PluginInterface, NullArrangementsChangeNothing) {
    VstSpeakerArrangement mono = arrangement(kSpeakerArrMono, 1);
    EXPECT_EQ(setArrangement(nullptr, &mono), 0);
    EXPECT_EQ(setArrangement(&mono, nullptr), 0);
    VstSpeakerArrangement* in = nullptr;
    VstSpeakerArrangement* out = nullptr;
    getArrangement(in, out);
    EXPECT_EQ(in->numChannels, 2);
    EXPECT_EQ(out->numChannels, 2);
}

TEST_F(PluginInterface, HandingBackOurOwnArrangementsKeepsThem) {
    VstSpeakerArrangement monoIn = arrangement(kSpeakerArrMono, 1);
    EXPECT_EQ(setArrangement(&monoIn, &monoIn), 1);
    VstSpeakerArrangement* in = nullptr;
    VstSpeakerArrangement* out = nullptr;
    getArrangement(in, out);
    EXPECT_EQ(setArrangement(in, out), 1);
    VstSpeakerArrangement* in2 = nullptr;
    VstSpeakerArrangement* out2 = nullptr;
    getArrangement(in2, out2);
    EXPECT_EQ(in2, in); // the same storage stays valid
    EXPECT_EQ(in2->numChannels, 1);
    EXPECT_STREQ(in2->speakers[0].name, "spk0");
    EXPECT_EQ(out2->numChannels, 1);
}

TEST_F(PluginInterface, CloseAnswersOne) {
    EXPECT_EQ(host.close(), 1);
    EXPECT_EQ(host.effect(), nullptr);
}

} // namespace
