// Settings by name and unit, the settings file and the setup report read back.
#include "cli/Settings.h"

#include "editor/SetupReport.h"
#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

using cli::SettingError;
using cli::Settings;

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

std::string errorOf(const std::string& name, const std::string& value) {
    Settings s;
    try {
        s.apply(name, value);
    } catch (const SettingError& error) {
        return error.what();
    }
    return {};
}

TEST(Settings, NamesAndWorkingUnits) {
    Settings s;
    s.apply("auto-normalize", "on");
    s.apply("aggressive", "off");
    s.apply("hum-attenuation", "45dB");
    s.apply("predictable-attenuation", "80%");
    s.apply("random-attenuation", "25 %");
    s.apply("max-gain", "12");
    s.apply("hum-frequency", "50");
    s.apply("eq", "240=-6dB");
    s.apply("EQ", "6000Hz=-30");
    EXPECT_EQ(s.value(kAutoNormalize), 1.0f);
    EXPECT_EQ(s.value(kAggressive), 0.0f);
    EXPECT_EQ(s.value(kHumAttenuation), 0.25f);
    EXPECT_FLOAT_EQ(s.value(kPredictableAttenuation), 0.2f);
    EXPECT_FLOAT_EQ(s.value(kRandomAttenuation), 0.75f);
    EXPECT_FLOAT_EQ(s.value(kMaxGain), 0.2f);
    EXPECT_FLOAT_EQ(s.value(kHumFrequency), (50.0f - 44.45f) / 23.73f);
    EXPECT_EQ(s.value(kEqBand0 + 1), 0.8f);
    EXPECT_EQ(s.value(kEqBand19), 0.0f);
    // Defaults untouched.
    EXPECT_EQ(s.value(kEqBand0), 1.0f);
    EXPECT_EQ(s.value(kHumFilter), 0.0f);
    EXPECT_EQ(Settings().value(kHumFrequency), kInitialHumFrequency);
}

TEST(Settings, ErrorsNameTheSetting) {
    EXPECT_NE(errorOf("hum-attenuation", "61dB").find("hum-attenuation"), std::string::npos);
    EXPECT_NE(errorOf("hum-attenuation", "61dB").find("out of range"), std::string::npos);
    EXPECT_NE(errorOf("max-gain", "-1").find("max-gain"), std::string::npos);
    EXPECT_NE(errorOf("hum-frequency", "70").find("hum-frequency"), std::string::npos);
    EXPECT_NE(errorOf("random-attenuation", "80dB").find("unit"), std::string::npos);
    EXPECT_NE(errorOf("high-pass", "maybe").find("high-pass"), std::string::npos);
    EXPECT_NE(errorOf("hum-atenuation", "4").find("hum-atenuation"), std::string::npos);
    EXPECT_NE(errorOf("eq", "250=-6").find("250"), std::string::npos);
    EXPECT_NE(errorOf("eq", "240=+3").find("eq-240"), std::string::npos);
    EXPECT_NE(errorOf("eq", "240").find("eq"), std::string::npos);
    EXPECT_NE(errorOf("eq-preset", "loud").find("eq-preset"), std::string::npos);
    EXPECT_NE(errorOf("max-gain", "nan").find("max-gain"), std::string::npos);
    EXPECT_NE(errorOf("max-gain", "").find("max-gain"), std::string::npos);
    // The range ends themselves are accepted.
    EXPECT_EQ(errorOf("hum-frequency", "44.45"), "");
    EXPECT_EQ(errorOf("hum-frequency", "68.18"), "");
    EXPECT_EQ(errorOf("eq", "80=-30dB"), "");
}

TEST(Settings, PresetsMatchThePlugin) {
    for (const auto& [name, command] :
         {std::pair<const char*, VstInt32>{"low-cut", kEqPresetLowCut},
          {"high-cut", kEqPresetHighCut},
          {"flat", kEqFlat}}) {
        Settings s;
        s.apply("eq", "1200=-12dB");
        s.apply("eq-preset", name);
        VeltranoVST plugin(quietHost);
        plugin.setParameter(kEqBand0 + 7, 0.6f);
        plugin.setParameter(command, 0.0f);
        for (int band = 0; band < kNumEqBands; ++band) {
            EXPECT_EQ(s.value(kEqBand0 + band), plugin.getParameter(kEqBand0 + band))
                << name << " band " << band;
        }
    }
}

TEST(Settings, SavedFileReadsBackToTheSameValues) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Settings s;
        for (VstInt32 i = 0; i < kNumParams; ++i) {
            const bool isSwitch = i >= kAutoNormalize && i <= kAutoGain;
            s.setNormalized(i, isSwitch ? (unit(random) < 0.5f ? 0.0f : 1.0f) : unit(random));
        }
        Settings back;
        back.parse(s.saveText(), "saved");
        for (VstInt32 i = 0; i < kNumParams; ++i) {
            ASSERT_EQ(back.value(i), s.value(i)) << "parameter " << i << "\n" << s.saveText();
        }
    }
}

TEST(Settings, FileErrorsNameFileAndLine) {
    Settings s;
    try {
        s.parse("# comment\nhigh-pass on\nmax-gain 99 dB\n", "my.txt");
        FAIL();
    } catch (const SettingError& error) {
        EXPECT_NE(std::string(error.what()).find("my.txt:3"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("max-gain"), std::string::npos);
    }
    EXPECT_THROW(s.load("/nonexistent/settings.txt"), SettingError);
}

// A report holds every setting rounded as it prints them; reading it back gives the values
// within that rounding, and writing a report of what was read gives the same text.
TEST(Settings, SetupReportReadsBackWithinItsRounding) {
    Settings original;
    for (const char* name : {"high-pass", "hum-filter", "reverb", "random-noise", "auto-gain"}) {
        original.apply(name, "on");
    }
    original.apply("hum-frequency", "50.3");
    original.apply("hum-attenuation", "37.25dB");
    original.apply("predictable-attenuation", "74.51%");
    original.apply("random-attenuation", "33%");
    original.apply("max-gain", "17.77dB");
    original.apply("eq-preset", "high-cut");
    original.apply("eq", "400=-9.96");

    VeltranoVST plugin(quietHost);
    original.applyTo(plugin);
    std::ostringstream report;
    writeSetupReport(report, plugin, 0);

    Settings back;
    back.parse(report.str(), "report.txt");
    using cli::workingValue;
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        const double was = workingValue(i, original.value(i));
        const double now = workingValue(i, back.value(i));
        const double rounding =
            (i == kPredictableAttenuation || i == kRandomAttenuation) ? 0.5 : 0.05;
        EXPECT_NEAR(now, was, rounding + 1e-3) << "parameter " << i;
    }
    VeltranoVST again(quietHost);
    back.applyTo(again);
    std::ostringstream second;
    writeSetupReport(second, again, 0);
    EXPECT_EQ(second.str(), report.str());

    Settings broken;
    std::string text = report.str();
    text.erase(text.find("\tMax Gain"), 10);
    EXPECT_THROW(broken.parse(text, "cut.txt"), SettingError);
}

TEST(Settings, ShowListsEveryParameter) {
    Settings s;
    s.apply("max-gain", "20dB");
    const std::string text = s.showText();
    for (const cli::ParameterInfo& info : cli::parameterTable()) {
        EXPECT_NE(text.find(info.name), std::string::npos) << info.name;
    }
    EXPECT_NE(text.find("max-gain                  20.00 dB       9.99 dB"), std::string::npos)
        << text;
    EXPECT_EQ(cli::parameterTable().size(), static_cast<std::size_t>(kNumParams));
}

} // namespace
