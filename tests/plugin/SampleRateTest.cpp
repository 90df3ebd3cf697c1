// Sample-rate handling seen from inside the plug-in object.
#include "plugin/EqualizerBasis.h"
#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>

namespace {

VstIntPtr VSTCALLBACK host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

TEST(SampleRate, TheBaseHoldsTheInternalRateAfterwards) {
    VeltranoVST plugin(host);
    EXPECT_EQ(plugin.getSampleRate(), 44100.0f);
    EXPECT_EQ(plugin.hostBlockFrames(), 0u);
    plugin.setParameter(kHumAttenuation, 0.3f);
    plugin.setSampleRate(48000.0f);
    EXPECT_EQ(plugin.getSampleRate(), 16000.0f);
    EXPECT_EQ(plugin.decimationFactor(), 3);
    EXPECT_EQ(plugin.interpolationFactor(), 1);
    EXPECT_EQ(plugin.getParameter(kHumAttenuation), 0.3f);
    plugin.setSampleRate(11025.0f);
    EXPECT_EQ(plugin.getSampleRate(), 14700.0f);
    EXPECT_EQ(plugin.interpolationFactor(), 4);
    EXPECT_EQ(plugin.hostBlockFrames(), 1536u);
    EXPECT_EQ(plugin.extraLatencyFrames(), 2075u);
    plugin.setSampleRate(12345.0f);
    EXPECT_EQ(plugin.getSampleRate(), 12345.0f);
    EXPECT_EQ(plugin.hostBlockFrames(), 2048u);
    EXPECT_EQ(plugin.extraLatencyFrames(), 2596u);
}

TEST(SampleRate, HumDetectorsFollowTheInternalRate) {
    VeltranoVST plugin(host);
    plugin.setSampleRate(44100.0f);
    EXPECT_EQ(plugin.humDetector(0).sampleRate, 14700.0f);
    plugin.setSampleRate(48000.0f);
    EXPECT_EQ(plugin.humDetector(0).sampleRate, 16000.0f);
    EXPECT_EQ(plugin.humDetector(1).sampleRate, 16000.0f);
    plugin.setSampleRate(22050.0f);
    EXPECT_EQ(plugin.humDetector(1).sampleRate, 14700.0f);
}

TEST(SampleRate, EqualizerBasisSetFollowsTheInternalRate) {
    // Band 3 at -30 dB, the rest at 0 dB: the taps are the basis sum with band 3 scaled, one
    // tap later (centred on the bypass delay of 256).
    for (float rate : {48000.0f, 44100.0f, 32000.0f, 22050.0f}) {
        VeltranoVST plugin(host);
        plugin.setSampleRate(rate);
        plugin.setParameter(kEqBand0 + 3, 0.0f);
        float left[8192] = {};
        float* io[2] = {left, left};
        plugin.processReplacing(io, io, 8192); // builds the taps for a block
        const int set = plugin.getSampleRate() > 15350.0f ? 0 : 1;
        for (int k = 0; k < 512; ++k) {
            float expected = 0.0f;
            for (int band = 0; band < 20 && k > 0; ++band) {
                expected += plugin.bandGain(band) * eqbasis::kEqualizerBasis[set][band][k - 1];
            }
            ASSERT_EQ(plugin.equalizerTaps()[k], expected) << "tap " << k << " at " << rate;
        }
        EXPECT_EQ(set, rate == 48000.0f || rate == 32000.0f ? 0 : 1);
    }
}

} // namespace
