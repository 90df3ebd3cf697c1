// Settings by name and unit, the settings file and the setup report read back.
#include "cli/Settings.h"

#include "editor/SetupReport.h"
#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
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

// A processing record as the command writes its parameters, with one value replaced, one
// parameter left out or one listed twice.
std::string record(const std::string& name = "", const std::string& value = "",
                   const std::string& missing = "", const std::string& twice = "") {
    std::string text = "{\n  \"program\": \"veltrano\",\n  \"parameters\": [\n";
    for (const cli::ParameterInfo& info : cli::parameterTable()) {
        if (info.name == missing) {
            continue;
        }
        char stored[32];
        std::snprintf(stored, sizeof stored, "%.9g",
                      static_cast<double>(cli::defaultValue(info.index)));
        const std::string entry =
            "    {\"index\": " + std::to_string(info.index) + ", \"name\": \"" + info.name +
            "\", \"normalized\": " + (info.name == name ? value : stored) + "},\n";
        text += entry;
        if (info.name == twice) {
            text += entry;
        }
    }
    text.erase(text.size() - 2, 1); // no comma after the last entry
    return text + "  ]\n}\n";
}

std::string parseError(const std::string& text) {
    Settings s;
    try {
        s.parse(text, "in.json");
    } catch (const SettingError& error) {
        return error.what();
    }
    return {};
}

// A record holds what the plug-in stored; values the command never sets (out of 0 ... 1, a
// switch between on and off, a value no settings file can repeat) and lists that name a
// parameter twice are refused instead of being repeated differently.
TEST(Settings, RecordTakesOnlyValuesTheCommandSets) {
    Settings s;
    s.parse(record("eq-240", "0.800000011920929"), "in.json");
    EXPECT_EQ(s.value(kEqBand0 + 1), 0.8f);
    EXPECT_EQ(s.value(kHumFrequency), kInitialHumFrequency);

    for (const auto& [name, value] :
         {std::pair<const char*, const char*>{"reverb", "2"},
          {"aggressive", "0.5"},
          {"max-gain", "-0.25"},
          {"hum-attenuation", "1.0000001"},
          {"eq-80", "1e+300"},
          {"hum-frequency", "1e-30"}, // 44.45 Hz exactly, which reads back as 0
          {"eq-6000", "1e-12"}}) {
        const std::string error = parseError(record(name, value));
        EXPECT_NE(error.find(name), std::string::npos) << name << " " << value << ": " << error;
        EXPECT_NE(error.find(value), std::string::npos) << error;
    }
    EXPECT_NE(
        parseError(record("", "", "hum-frequency", "max-gain")).find("'max-gain' listed twice"),
        std::string::npos);
    EXPECT_NE(parseError(record("", "", "hum-frequency")).find("34 of 35"), std::string::npos);

    // -0 is 0, so that the settings file writes it back the same.
    Settings zero;
    zero.parse(record("eq-80", "-0"), "in.json");
    EXPECT_FALSE(std::signbit(zero.value(kEqBand0)));
    // The smallest hum frequency step a settings file can write is kept.
    Settings fine;
    fine.apply("hum-frequency", "44.450000762939467");
    ASSERT_GT(fine.value(kHumFrequency), 0.0f);
    Settings back;
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(fine.value(kHumFrequency)));
    back.parse(record("hum-frequency", text), "in.json");
    EXPECT_EQ(back.value(kHumFrequency), fine.value(kHumFrequency));
}

// Every object's keys and every list in reverse order.
nlohmann::ordered_json reversed(const nlohmann::ordered_json& value) {
    if (value.is_object()) {
        nlohmann::ordered_json out = nlohmann::ordered_json::object();
        std::vector<std::pair<std::string, nlohmann::ordered_json>> items;
        for (const auto& [key, inner] : value.items()) {
            items.emplace_back(key, reversed(inner));
        }
        for (auto item = items.rbegin(); item != items.rend(); ++item) {
            out[item->first] = item->second;
        }
        return out;
    }
    if (value.is_array()) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (auto item = value.rbegin(); item != value.rend(); ++item) {
            out.push_back(reversed(*item));
        }
        return out;
    }
    return value;
}

// A record another program has rewritten (compact, indented differently, keys and parameters
// in another order) gives the same setting; text that is not JSON is refused, saying where.
TEST(Settings, ReformattedRecordGivesTheSameSetting) {
    const std::string written = record("hum-frequency", "0.24300000071525574");
    Settings original;
    original.parse(written, "in.json");
    ASSERT_EQ(original.value(kHumFrequency), 0.243f);
    const auto json = nlohmann::ordered_json::parse(written);
    for (const std::string& text :
         {json.dump(), json.dump(4), "\xEF\xBB\xBF" + json.dump(1, '\t'), reversed(json).dump()}) {
        Settings again;
        again.parse(text, "again.json");
        for (VstInt32 i = 0; i < kNumParams; ++i) {
            EXPECT_EQ(again.value(i), original.value(i)) << i << " in " << text;
        }
    }
    const std::string error = parseError(written.substr(0, 120));
    EXPECT_NE(error.find("in.json: processing record: not valid JSON (parse error at line "),
              std::string::npos)
        << error;
    EXPECT_NE(parseError("{\"program\": \"veltrano\"}").find("no \"parameters\" list"),
              std::string::npos);
}

std::string reportOf(const Settings& s) {
    VeltranoVST plugin(quietHost);
    s.applyTo(plugin);
    std::ostringstream report;
    writeSetupReport(report, plugin, 0);
    return report.str();
}

// The report rounds 68.18 Hz to 68.2: the ends of every range read back, a value beyond the
// rounding does not, and a setting listed twice is refused rather than leaving another at its
// default.
TEST(Settings, SetupReportAtTheRangeEnds) {
    for (const char* ends : {"max", "min"}) {
        Settings original;
        for (const cli::ParameterInfo& info : cli::parameterTable()) {
            original.setNormalized(info.index, ends[1] == 'a' ? 1.0f : 0.0f);
        }
        Settings back;
        back.parse(reportOf(original), "report.txt");
        for (VstInt32 i = 0; i < kNumParams; ++i) {
            EXPECT_NEAR(cli::workingValue(i, back.value(i)),
                        cli::workingValue(i, original.value(i)), 0.051)
                << ends << " parameter " << i;
        }
    }
    Settings top;
    top.apply("hum-frequency", "68.18");
    std::string text = reportOf(top);
    ASSERT_NE(text.find("68.2 Hz"), std::string::npos);
    text.replace(text.find("68.2 Hz"), 7, "68.3 Hz");
    EXPECT_NE(parseError(text).find("hum-frequency"), std::string::npos);

    text = reportOf(Settings());
    const auto gain = text.find("\tMax Gain");
    const auto frequency = text.find("\tFrequency");
    ASSERT_NE(gain, std::string::npos);
    ASSERT_NE(frequency, std::string::npos);
    text.replace(frequency, text.find('\n', frequency) - frequency,
                 text.substr(gain, text.find('\n', gain) - gain));
    EXPECT_NE(parseError(text).find("listed twice"), std::string::npos) << parseError(text);
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
