// The parameter model's working values and what it tells the editor.
#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Records what the plug-in tells its editor.
class RecordingEditor : public EditorLink {
public:
    using EditorLink::EditorLink;
    struct Told {
        VstInt32 index;
        float value;
    };
    struct BandCall {
        char what; // 't' text, 's' slider
        int band;
        float value;
    };
    void setParameter(VstInt32 index, float value) override { told.push_back({index, value}); }
    void setEqBandText(int band, float cutDb) override { bands.push_back({'t', band, cutDb}); }
    void setEqBandSlider(int band, float position) override {
        bands.push_back({'s', band, position});
    }
    std::vector<Told> told;
    std::vector<BandCall> bands;
};

struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    float opt;
};
std::vector<HostCall> hostCalls;

VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                                    float opt) {
    hostCalls.push_back({opcode, index, opt});
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

class ParameterModel : public ::testing::Test {
protected:
    void SetUp() override {
        hostCalls.clear();
        plugin = std::make_unique<VeltranoVST>(recordingHost);
        editor = new RecordingEditor(plugin.get());
        plugin->installEditor(editor);
    }

    void openEditor() {
        static int window;
        editor->open(&window);
    }

    std::unique_ptr<VeltranoVST> plugin;
    RecordingEditor* editor{nullptr}; // owned by the plug-in
};

TEST_F(ParameterModel, InstallingAnEditorSetsTheFlag) {
    EXPECT_NE(plugin->getAeffect()->flags & effFlagsHasEditor, 0);
    plugin->installEditor(nullptr);
    EXPECT_EQ(plugin->getAeffect()->flags & effFlagsHasEditor, 0);
    plugin->setParameter(kHumAttenuation, 0.5f); // no editor: the forward is skipped
    EXPECT_EQ(plugin->getParameter(kHumAttenuation), 0.5f);
}

TEST_F(ParameterModel, EveryIndexIsToldToTheEditorAsReceived) {
    for (VstInt32 index : {0, 20, 30, 34, 35, 40, 42, 44, 48, 69, 72, 500, -3}) {
        editor->told.clear();
        plugin->setParameter(index, 0.75f);
        ASSERT_EQ(editor->told.size(), 1u) << "index " << index;
        EXPECT_EQ(editor->told[0].index, index);
        EXPECT_EQ(editor->told[0].value, 0.75f);
    }
    // A value that is clamped is still told as received.
    editor->told.clear();
    plugin->setParameter(kHumAttenuation, 1.5f);
    EXPECT_EQ(editor->told[0].value, 1.5f);
    // Non-finite values are not told at all.
    editor->told.clear();
    plugin->setParameter(kHumAttenuation, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(editor->told.empty());
}

TEST_F(ParameterModel, HumFrequencyReachesBothDetectors) {
    plugin->setParameter(kHumFrequency, 0.6552886f);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(plugin->humDetector(c).frequency, 60.0f, 1e-5f);
        EXPECT_FLOAT_EQ(plugin->humDetector(c).minFrequency, 54.0f);
        EXPECT_FLOAT_EQ(plugin->humDetector(c).maxFrequency, 66.0f);
    }
    plugin->setParameter(kHumFrequency, 1.0f);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(plugin->humDetector(c).frequency, 68.18f);
        EXPECT_EQ(plugin->humDetector(c).maxFrequency, 68.18f);
        EXPECT_FLOAT_EQ(plugin->humDetector(c).minFrequency, 61.362f);
    }
    plugin->setParameter(kHumFrequency, 0.0f);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(plugin->humDetector(c).frequency, 44.45f);
        EXPECT_EQ(plugin->humDetector(c).minFrequency, 44.45f);
        EXPECT_FLOAT_EQ(plugin->humDetector(c).maxFrequency, 48.895f);
    }
}

TEST_F(ParameterModel, HumFrequencyStepTellsTheNewFrequency) {
    plugin->setParameter(kHumFrequencyStep, 1.0f);
    const float x = plugin->getParameter(kHumFrequency);
    EXPECT_FLOAT_EQ(x, 0.6452886f);
    EXPECT_NEAR(plugin->humDetector(0).frequency, 59.76f, 0.005f);
    EXPECT_EQ(plugin->humDetector(1).frequency, plugin->humDetector(0).frequency);
    ASSERT_EQ(editor->told.size(), 1u);
    EXPECT_EQ(editor->told[0].index, kHumFrequencyStep);
    EXPECT_EQ(editor->told[0].value, x);
}

TEST_F(ParameterModel, BandGains) {
    plugin->setParameter(0, 1.0f);
    EXPECT_EQ(plugin->bandGain(0), 1.0f);
    plugin->setParameter(0, 0.0f);
    EXPECT_FLOAT_EQ(plugin->bandGain(0), 0.031622777f);
    plugin->setParameter(3, 0.5f);
    EXPECT_FLOAT_EQ(plugin->bandGain(3), std::pow(10.0f, -0.75f));
    plugin->setParameter(4, 1.2f); // above 1: above 0 dB
    EXPECT_FLOAT_EQ(plugin->bandGain(4), std::pow(10.0f, 0.3f));
    plugin->setParameter(kEqBandEntry0 + 5, -2.0f); // entries clamp first
    EXPECT_EQ(plugin->getParameter(5), 0.0f);
    EXPECT_FLOAT_EQ(plugin->bandGain(5), 0.031622777f);
}

TEST_F(ParameterModel, MaximumGain) {
    EXPECT_EQ(plugin->maxGainLinearValue(), 3.16f);
    EXPECT_NEAR(plugin->getParameter(kMaxGain), 0.16656236f, 1e-7f);
    plugin->setParameter(kMaxGain, 1.0f);
    EXPECT_EQ(plugin->maxGainLinearValue(), 1000.0f);
    plugin->setParameter(kMaxGainEntry, 0.0f);
    EXPECT_EQ(plugin->maxGainLinearValue(), 1.0f);
    plugin->setParameter(kMaxGain, 0.5f);
    EXPECT_FLOAT_EQ(plugin->maxGainLinearValue(), 31.622777f);
}

TEST_F(ParameterModel, SwitchesCountAsOnOnlyAtExactlyOne) {
    plugin->setParameter(kHighPass, 1.0f);
    EXPECT_TRUE(plugin->switchOn(kHighPass));
    plugin->setParameter(kHighPass, 0.5f);
    EXPECT_FALSE(plugin->switchOn(kHighPass));
    plugin->setParameter(kHighPass, 0.99999994f);
    EXPECT_FALSE(plugin->switchOn(kHighPass));
    plugin->setParameter(kAggressive, 0.6f);
    EXPECT_TRUE(plugin->switchOn(kAggressive));
    plugin->setParameter(kAggressive, 0.5f);
    EXPECT_FALSE(plugin->switchOn(kAggressive));
}

TEST_F(ParameterModel, ShiftMovesTheOpenEditorsBands) {
    plugin->setParameter(kEqFlat, 0.0f);
    editor->bands.clear();
    plugin->setParameter(kEqShift, 3.0f); // window closed: values only
    EXPECT_TRUE(editor->bands.empty());
    for (int band = 0; band < kNumEqBands; ++band) {
        EXPECT_NEAR(plugin->bandGain(band), 0.70794578f, 1e-6f);
        EXPECT_NEAR(plugin->getParameter(band), 0.9f, 1e-6f);
    }
    openEditor();
    plugin->setParameter(kEqShift, 3.0f);
    ASSERT_EQ(editor->bands.size(), 2u * kNumEqBands);
    for (int band = 0; band < kNumEqBands; ++band) {
        const auto& text = editor->bands[2 * band];
        const auto& slider = editor->bands[2 * band + 1];
        EXPECT_EQ(text.what, 't');
        EXPECT_EQ(text.band, band);
        EXPECT_NEAR(text.value, 6.0f, 1e-5f);
        EXPECT_EQ(slider.what, 's');
        EXPECT_NEAR(slider.value, 0.8f, 1e-6f);
    }
    // Raising by more than the cut stops at 0 dB; lowering stops at -30 dB.
    plugin->setParameter(kEqShift, -100.0f);
    EXPECT_EQ(plugin->bandGain(7), 1.0f);
    plugin->setParameter(kEqShift, 1e30f);
    EXPECT_NEAR(plugin->bandGain(7), 0.031622777f, 1e-8f);
    EXPECT_EQ(plugin->getParameter(7), 0.0f);
}

TEST_F(ParameterModel, FlatAndPresetsMoveTheOpenEditorsBands) {
    openEditor();
    plugin->setParameter(kEqPresetLowCut, 0.0f);
    ASSERT_EQ(editor->bands.size(), 2u * kNumEqBands);
    EXPECT_EQ(plugin->bandGain(0), 0.0398f);
    EXPECT_EQ(plugin->bandGain(10), 0.8995f);
    EXPECT_EQ(plugin->bandGain(11), 1.0f);
    EXPECT_EQ(editor->bands[0].what, 's');
    EXPECT_NEAR(editor->bands[0].value, 1.0f - 28.0025f / 30.0f, 1e-4f);
    EXPECT_EQ(editor->bands[1].what, 't');
    EXPECT_NEAR(editor->bands[1].value, 28.0025f, 1e-3f);

    editor->bands.clear();
    plugin->setParameter(kEqPresetHighCut, 0.0f);
    EXPECT_EQ(plugin->bandGain(0), 1.0f); // the low-cut bands return to 0 dB
    EXPECT_EQ(plugin->bandGain(19), 0.0394f);
    EXPECT_NEAR(editor->bands[2 * 19 + 1].value, 28.09f, 0.01f);

    editor->bands.clear();
    plugin->setParameter(kEqFlat, 0.0f);
    ASSERT_EQ(editor->bands.size(), 2u * kNumEqBands);
    for (int band = 0; band < kNumEqBands; ++band) {
        EXPECT_EQ(editor->bands[2 * band].what, 's');
        EXPECT_EQ(editor->bands[2 * band].value, 1.0f);
        EXPECT_EQ(editor->bands[2 * band + 1].what, 't');
        EXPECT_EQ(editor->bands[2 * band + 1].value, 0.0f);
        EXPECT_EQ(plugin->bandGain(band), 1.0f);
    }
}

TEST_F(ParameterModel, AutomatedChangesReachTheModelThenTheHost) {
    hostCalls.clear();
    plugin->setParameterAutomated(kHumAttenuationEntry, 0.25f);
    EXPECT_EQ(plugin->getParameter(kHumAttenuation), 0.25f);
    ASSERT_EQ(hostCalls.size(), 1u);
    EXPECT_EQ(hostCalls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(hostCalls[0].index, kHumAttenuationEntry);
    EXPECT_EQ(hostCalls[0].opt, 0.25f);
}

TEST(ParameterModelWithoutHost, RunsWithoutACallback) {
    VeltranoVST plugin(nullptr);
    plugin.setParameterAutomated(kMaxGain, 1.0f);
    EXPECT_EQ(plugin.maxGainLinearValue(), 1000.0f);
    EXPECT_FALSE(plugin.ioChanged());
}

} // namespace
