// The setup report's exact text.
#include "editor/SetupReport.h"

#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

// Pins the local time zone so that the date line is known.
class SetupReport : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    std::string report(VeltranoVST& plugin) {
        std::ostringstream out;
        writeSetupReport(out, plugin, kWhen);
        return out.str();
    }
    static constexpr std::time_t kWhen = 1796688000; // Tue Dec  8 00:00:00 2026 UTC
};

std::string crlf(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c == '\n') {
            result += '\r';
        }
        result += c;
    }
    return result;
}

TEST_F(SetupReport, InitialSettingExactText) {
    VeltranoVST plugin(quietHost);
    std::string expected = "\t\t\t\t\t\t\t\tPage 1 of 1\n\n"
                           "Case Number/ID:________________________\n\n\n"
                           "Veltrano /VST AudioSuite Plug-In\n"
                           "Windows Version\n"
                           "Revision: 1.000000\n"
                           "Setup Report for Tue Dec  8 00:00:00 2026\n\n\n"
                           "Auto-Normalize\t\t\tOff\n\n"
                           "200 Hz High Pass Filter\t\tOff\n\n"
                           "Hum Filter\t\t\tOff\n"
                           "\tAuto-Tracking\t\tOff\n"
                           "\tFrequency\t\t60.0 Hz\n"
                           "\tAttenuation\t\t60.0 dB\n\n"
                           "Predictable Noise Reduction\tOff\n"
                           "\tReverb\t\t\tOff\n"
                           "\tAttenuation\t\t100%\n\n"
                           "Random Noise Reduction\t\tOff\n"
                           "\tAggressive\t\tOff\n"
                           "\tAttenuation\t\t100%\n\n"
                           "Equalizer\t\t\tOff\n";
    for (int f : kEqBandCentres) {
        expected += "\t";
        expected += f < 100 ? "  " : f < 1000 ? " " : "";
        expected += std::to_string(f) + " Hz\t  0.0 dB\n";
    }
    expected += "\n"
                "Automatic Gain Control\t\tOff\n"
                "\tMax Gain\t\t10.0 dB\n\n"
                "\n"
                "Examiner's Initials:____________\n\n"
                "END OF REPORT\n";
    EXPECT_EQ(report(plugin), crlf(expected));
}

TEST_F(SetupReport, ChangedSettingRowsAndRounding) {
    VeltranoVST plugin(quietHost);
    plugin.setParameter(kAutoNormalize, 1.0f);
    plugin.setParameter(kReverb, 0.5f); // off for the audio path, reported On
    plugin.setParameter(kHumFrequency, 0.0f);
    plugin.setParameter(kHumAttenuation, 0.25f);
    plugin.setParameter(kPredictableAttenuation, 0.2549f); // 74.51 % rounds to 75
    plugin.setParameter(kRandomAttenuation, 1.0f);
    plugin.setParameter(kMaxGain, 0.2f);
    plugin.setParameter(kEqPresetLowCut, 0.0f);
    plugin.setParameter(kEqBand0 + 4, (30.0f - 9.5f) / 30.0f);
    plugin.setParameter(kEqBand0 + 5, (30.0f - 15.0f) / 30.0f);
    const std::string text = report(plugin);
    for (const char* line :
         {"\r\nAuto-Normalize\t\t\tOn\r\n\r\n", "\r\n\tReverb\t\t\tOn\r\n",
          "\r\n\tFrequency\t\t44.5 Hz\r\n", "\r\n\tAttenuation\t\t45.0 dB\r\n",
          "\r\n\tAttenuation\t\t75%\r\n\r\nRandom", "\r\n\tAttenuation\t\t0%\r\n\r\nEqualizer",
          "\r\n\t  80 Hz\t-28.0 dB\r\n", "\r\n\t1400 Hz\t -3.1 dB\r\n",
          "\r\n\t 720 Hz\t -9.5 dB\r\n", "\r\n\t 880 Hz\t-15.0 dB\r\n",
          "\r\n\t6000 Hz\t  0.0 dB\r\n", "\r\n\tMax Gain\t\t12.0 dB\r\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // No bare line feed anywhere, and nothing after the last line.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << i;
        }
    }
    EXPECT_EQ(text.substr(text.size() - 15), "END OF REPORT\r\n");
}

TEST_F(SetupReport, DateInCtimeForm) {
    EXPECT_EQ(ctimeText(0), "Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(ctimeText(kWhen + 86400 * 3 + 3661 * 3), "Fri Dec 11 03:03:03 2026\n");
}

} // namespace
