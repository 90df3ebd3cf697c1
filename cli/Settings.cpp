#include "cli/Settings.h"

#include "plugin/VeltranoVST.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace cli {

namespace {

constexpr float kInitialMaxGain = 0.16656236f;

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<ParameterInfo> buildTable() {
    std::vector<ParameterInfo> table;
    for (int band = 0; band < kNumEqBands; ++band) {
        table.push_back({kEqBand0 + band, "eq-" + std::to_string(kEqBandCentres[band]),
                         Unit::kDecibel, -30.0, 0.0});
    }
    const char* switches[kNumSwitches] = {
        "auto-normalize", "high-pass",    "hum-filter", "hum-auto-track", "predictable-noise",
        "reverb",         "random-noise", "aggressive", "equalizer",      "auto-gain"};
    for (int i = 0; i < kNumSwitches; ++i) {
        table.push_back({kAutoNormalize + i, switches[i], Unit::kSwitch, 0.0, 1.0});
    }
    table.push_back({kHumAttenuation, "hum-attenuation", Unit::kDecibel, 0.0, 60.0});
    table.push_back(
        {kPredictableAttenuation, "predictable-attenuation", Unit::kPercent, 0.0, 100.0});
    table.push_back({kRandomAttenuation, "random-attenuation", Unit::kPercent, 0.0, 100.0});
    table.push_back({kMaxGain, "max-gain", Unit::kDecibel, 0.0, 60.0});
    table.push_back(
        {kHumFrequency, "hum-frequency", Unit::kHertz, static_cast<double>(kHumFrequencyBase),
         static_cast<double>(kHumFrequencyBase) + static_cast<double>(kHumFrequencySpan)});
    return table;
}

bool isSwitch(VstInt32 index) {
    return index >= kAutoNormalize && index <= kAutoGain;
}

bool isBand(VstInt32 index) {
    return index >= kEqBand0 && index <= kEqBand19;
}

// Reads "45", "45dB", "45 dB", "-6.5dB"; the unit, when written, must be the setting's. A number
// beyond the range by no more than `slack` is taken as the range's end.
double parseNumber(const ParameterInfo& info, const std::string& raw, double slack = 1e-4) {
    const std::string text = trim(raw);
    const char* begin = text.c_str();
    char* end = nullptr;
    const double number = std::strtod(begin, &end);
    if (end == begin || text.empty()) {
        throw SettingError("setting '" + info.name + "': '" + raw + "' is not a number");
    }
    const std::string unit = lower(trim(std::string(end)));
    if (!unit.empty() && unit != lower(unitText(info.unit))) {
        throw SettingError("setting '" + info.name + "': unit '" + unit + "' where " +
                           unitText(info.unit) + " is expected");
    }
    if (!std::isfinite(number) || number < info.minimum - slack || number > info.maximum + slack) {
        char range[96];
        std::snprintf(range, sizeof range, "%g ... %g %s", info.minimum, info.maximum,
                      unitText(info.unit));
        throw SettingError("setting '" + info.name + "': " + trim(raw) + " is out of range (" +
                           range + ")");
    }
    return std::clamp(number, info.minimum, info.maximum);
}

float parseSwitch(const ParameterInfo& info, const std::string& raw) {
    const std::string text = lower(trim(raw));
    if (text == "on" || text == "yes" || text == "true" || text == "1") {
        return 1.0f;
    }
    if (text == "off" || text == "no" || text == "false" || text == "0") {
        return 0.0f;
    }
    throw SettingError("setting '" + info.name + "': '" + raw + "' is not on or off");
}

// The band value the plug-in derives for a linear gain (as its presets do).
float bandValueOfGain(float gain) {
    const float dB = static_cast<float>(20.0 * std::log10(static_cast<double>(gain)));
    return VeltranoVST::clamp((dB + kEqRangeDb) / kEqRangeDb);
}

} // namespace

std::string jsonProblem(const std::exception& error) {
    // nlohmann's messages start with "[json.exception.parse_error.101] ".
    std::string message = error.what();
    if (message.rfind("[json.exception.", 0) == 0) {
        const auto end = message.find("] ");
        if (end != std::string::npos) {
            message.erase(0, end + 2);
        }
    }
    return message;
}

const std::vector<ParameterInfo>& parameterTable() {
    static const std::vector<ParameterInfo> table = buildTable();
    return table;
}

const ParameterInfo* findParameter(const std::string& name) {
    const std::string wanted = lower(name);
    for (const ParameterInfo& info : parameterTable()) {
        if (info.name == wanted) {
            return &info;
        }
    }
    return nullptr;
}

const char* unitText(Unit unit) {
    switch (unit) {
    case Unit::kDecibel:
        return "dB";
    case Unit::kPercent:
        return "%";
    case Unit::kHertz:
        return "Hz";
    case Unit::kSwitch:
        break;
    }
    return "";
}

double workingValue(VstInt32 index, float normalized) {
    const double x = normalized;
    if (isBand(index)) {
        return 30.0 * x - 30.0;
    }
    if (isSwitch(index)) {
        return x;
    }
    switch (index) {
    case kHumAttenuation:
        return 60.0 - 60.0 * x;
    case kPredictableAttenuation:
    case kRandomAttenuation:
        return (1.0 - x) * 100.0;
    case kMaxGain:
        return 60.0 * x;
    case kHumFrequency:
        // In double from the single-precision constants, before the plug-in rounds it to
        // single precision, so that the value reads back to the same x.
        return static_cast<double>(kHumFrequencyBase) + static_cast<double>(kHumFrequencySpan) * x;
    default:
        return 0.0;
    }
}

float normalizedValue(VstInt32 index, double working) {
    if (isBand(index)) {
        return static_cast<float>((working + 30.0) / 30.0);
    }
    if (isSwitch(index)) {
        return static_cast<float>(working);
    }
    switch (index) {
    case kHumAttenuation:
        return static_cast<float>((60.0 - working) / 60.0);
    case kPredictableAttenuation:
    case kRandomAttenuation:
        return static_cast<float>(1.0 - working / 100.0);
    case kMaxGain:
        return static_cast<float>(working / 60.0);
    case kHumFrequency:
        return static_cast<float>((working - static_cast<double>(kHumFrequencyBase)) /
                                  static_cast<double>(kHumFrequencySpan));
    default:
        return 0.0f;
    }
}

std::string formatWorking(VstInt32 index, float normalized, bool exact) {
    if (isSwitch(index)) {
        return normalized == 0.0f ? "off" : "on";
    }
    const ParameterInfo& info = parameterTable()[static_cast<std::size_t>(index)];
    double working = workingValue(index, normalized);
    if (working == 0.0) {
        working = 0.0; // no "-0"
    }
    char text[64];
    if (exact) {
        // The shortest text that reads back to the same normalized value.
        for (int digits = 4; digits <= 17; ++digits) {
            std::snprintf(text, sizeof text, "%.*g", digits, working);
            if (normalizedValue(index, std::strtod(text, nullptr)) == normalized) {
                break;
            }
        }
    } else {
        std::snprintf(text, sizeof text, "%.2f", working);
    }
    return std::string(text) + " " + unitText(info.unit);
}

float defaultValue(VstInt32 index) {
    if (isBand(index)) {
        return 1.0f;
    }
    if (index == kMaxGain) {
        return kInitialMaxGain;
    }
    if (index == kHumFrequency) {
        return kInitialHumFrequency;
    }
    return 0.0f;
}

Settings::Settings() {
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        values[static_cast<std::size_t>(i)] = defaultValue(i);
    }
}

void Settings::setNormalized(VstInt32 index, float normalized) {
    values[static_cast<std::size_t>(index)] = normalized;
}

void Settings::apply(const std::string& rawName, const std::string& text) {
    const std::string name = lower(trim(rawName));
    if (name == "eq") {
        // "240=-6dB"
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            throw SettingError("setting 'eq': '" + text + "' is not FREQUENCY=GAIN (240=-6dB)");
        }
        std::string frequency = lower(trim(text.substr(0, equals)));
        if (frequency.size() > 2 && frequency.ends_with("hz")) {
            frequency = trim(frequency.substr(0, frequency.size() - 2));
        }
        const ParameterInfo* band = findParameter("eq-" + frequency);
        if (band == nullptr || !isBand(band->index)) {
            throw SettingError("setting 'eq': " + frequency +
                               " Hz is not a band (80, 240, 400, ... 6000)");
        }
        apply(band->name, text.substr(equals + 1));
        return;
    }
    if (name == "eq-preset") {
        const std::string preset = lower(trim(text));
        const float* gains = nullptr;
        if (preset == "low-cut") {
            gains = kEqPresetLowCutGains;
        } else if (preset == "high-cut") {
            gains = kEqPresetHighCutGains;
        } else if (preset != "flat") {
            throw SettingError("setting 'eq-preset': '" + text +
                               "' is not flat, low-cut or high-cut");
        }
        for (int band = 0; band < kNumEqBands; ++band) {
            values[static_cast<std::size_t>(kEqBand0 + band)] =
                bandValueOfGain(gains != nullptr ? gains[band] : 1.0f);
        }
        return;
    }
    const ParameterInfo* info = findParameter(name);
    if (info == nullptr) {
        throw SettingError("unknown setting '" + rawName + "'");
    }
    const float normalized = info->unit == Unit::kSwitch
                                 ? parseSwitch(*info, text)
                                 : normalizedValue(info->index, parseNumber(*info, text));
    values[static_cast<std::size_t>(info->index)] = VeltranoVST::clamp(normalized);
}

void Settings::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw SettingError("settings file '" + path + "' cannot be read");
    }
    std::ostringstream text;
    text << in.rdbuf();
    parse(text.str(), path);
}

void Settings::parse(const std::string& text, const std::string& source) {
    // A processing record is JSON: the only one of the three that opens with a brace (after
    // blanks and a byte order mark that another program may have added).
    std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    start = text.find_first_not_of(" \t\r\n", start);
    if (start != std::string::npos && text[start] == '{') {
        parseRecord(text, source);
        return;
    }
    if (text.find("Setup Report for") != std::string::npos &&
        text.find("END OF REPORT") != std::string::npos) {
        parseReport(text, source);
        return;
    }
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const auto hash = line.find('#');
        line = trim(line.substr(0, hash));
        if (line.empty()) {
            continue;
        }
        // "name value" or "name = value"
        const auto space = line.find_first_of(" \t=");
        std::string name = line.substr(0, space);
        std::string value = space == std::string::npos ? "" : trim(line.substr(space));
        if (!value.empty() && value[0] == '=') {
            value = trim(value.substr(1));
        }
        try {
            apply(name, value);
        } catch (const SettingError& error) {
            throw SettingError(source + ":" + std::to_string(number) + ": " + error.what());
        }
    }
}

// A processing record lists every parameter's name and its normalized value as stored, written
// so that it reads back to the same single-precision value: the setting is repeated exactly,
// however another program has since reformatted the file (spacing, key order). Only values the
// command itself can hold are taken: 0 ... 1, switches 0 or 1, and a value the settings file
// can write exactly (every value any of the parsers sets is one); a record edited by hand beyond
// that is refused rather than repeated differently.
void Settings::parseRecord(const std::string& text, const std::string& source) {
    const std::string what = source + ": processing record: ";
    nlohmann::json record;
    try {
        record = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        throw SettingError(what + "not valid JSON (" + jsonProblem(error) + ")");
    }
    const auto parameters = record.is_object() ? record.find("parameters") : record.end();
    if (!record.is_object() || parameters == record.end() || !parameters->is_array()) {
        throw SettingError(what + "no \"parameters\" list");
    }
    std::array<bool, kNumParams> seen{};
    int found = 0;
    for (const nlohmann::json& entry : *parameters) {
        const auto name = entry.is_object() ? entry.find("name") : entry.end();
        if (!entry.is_object() || name == entry.end() || !name->is_string()) {
            throw SettingError(what + "parameter " + std::to_string(found + 1) +
                               " of the list has no name");
        }
        const std::string& named = name->get_ref<const std::string&>();
        const ParameterInfo* info = findParameter(named);
        const auto normalized = entry.find("normalized");
        if (info == nullptr || normalized == entry.end() || !normalized->is_number()) {
            throw SettingError(what + "parameter '" + named + "' unknown or without a number");
        }
        const auto index = entry.find("index");
        if (index != entry.end() &&
            !(index->is_number_integer() && index->get<std::int64_t>() == info->index)) {
            throw SettingError(what + "parameter '" + info->name + "' has the index " +
                               index->dump() + " (it is " + std::to_string(info->index) + ")");
        }
        const double value = normalized->get<double>();
        const std::string written = normalized->dump();
        if (!(value >= 0.0 && value <= 1.0)) {
            throw SettingError(what + "parameter '" + info->name + "' has the normalized value " +
                               written + " (0 ... 1)");
        }
        const float x = value == 0.0 ? 0.0f : static_cast<float>(value); // no -0
        const bool held =
            info->unit == Unit::kSwitch
                ? x == 0.0f || x == 1.0f
                : normalizedValue(
                      info->index,
                      std::strtod(formatWorking(info->index, x, true).c_str(), nullptr)) == x;
        if (!held) {
            throw SettingError(what + "parameter '" + info->name + "' has the normalized value " +
                               written + ", which the command never sets" +
                               (info->unit == Unit::kSwitch ? " (a switch is 0 or 1)" : ""));
        }
        auto& listed = seen[static_cast<std::size_t>(info->index)];
        if (listed) {
            throw SettingError(what + "parameter '" + info->name + "' listed twice");
        }
        listed = true;
        values[static_cast<std::size_t>(info->index)] = x;
        ++found;
    }
    if (found != kNumParams) {
        throw SettingError(source + ": processing record incomplete (" + std::to_string(found) +
                           " of 35 parameters found)");
    }
}

// The report holds every setting, rounded as it prints them: hum frequency to 0.1 Hz, the
// attenuations and the maximum gain to 0.1 dB or 1 %, the bands to 0.1 dB. A number beyond its
// range by no more than that rounding is the range's end (68.18 Hz is printed 68.2). A switch
// printed On is read as on (the report cannot tell 0.5 from 1). Each of the 35 settings must
// appear exactly once.
void Settings::parseReport(const std::string& text, const std::string& source) {
    std::istringstream lines(text);
    std::string line;
    std::string section;
    int number = 0;
    std::array<bool, kNumParams> seen{};
    auto fail = [&](const std::string& why) {
        throw SettingError(source + ":" + std::to_string(number) + ": setup report: " + why);
    };
    auto mark = [&](const ParameterInfo& info, const std::string& label) {
        auto& listed = seen[static_cast<std::size_t>(info.index)];
        if (listed) {
            fail("'" + label + "' (" + info.name + ") listed twice");
        }
        listed = true;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const bool indented = !line.empty() && line[0] == '\t';
        const std::string content = trim(line);
        const auto tab = content.find('\t');
        if (content.empty() || tab == std::string::npos) {
            continue;
        }
        const std::string label = content.substr(0, tab);
        const std::string value = trim(content.substr(tab));
        auto setSwitch = [&](const char* name) {
            mark(*findParameter(name), label);
            try {
                apply(name, value == "On" ? "on" : value);
            } catch (const SettingError& error) {
                fail(error.what());
            }
        };
        auto setValue = [&](const char* name, double rounding) {
            const ParameterInfo& info = *findParameter(name);
            mark(info, label);
            try {
                values[static_cast<std::size_t>(info.index)] = VeltranoVST::clamp(
                    normalizedValue(info.index, parseNumber(info, value, rounding + 1e-4)));
            } catch (const SettingError& error) {
                fail(error.what());
            }
        };
        if (!indented) {
            section = label;
            if (label == "Auto-Normalize") {
                setSwitch("auto-normalize");
            } else if (label == "200 Hz High Pass Filter") {
                setSwitch("high-pass");
            } else if (label == "Hum Filter") {
                setSwitch("hum-filter");
            } else if (label == "Predictable Noise Reduction") {
                setSwitch("predictable-noise");
            } else if (label == "Random Noise Reduction") {
                setSwitch("random-noise");
            } else if (label == "Equalizer") {
                setSwitch("equalizer");
            } else if (label == "Automatic Gain Control") {
                setSwitch("auto-gain");
            }
            continue;
        }
        if (label == "Auto-Tracking") {
            setSwitch("hum-auto-track");
        } else if (label == "Frequency") {
            setValue("hum-frequency", 0.05);
        } else if (label == "Reverb") {
            setSwitch("reverb");
        } else if (label == "Aggressive") {
            setSwitch("aggressive");
        } else if (label == "Max Gain") {
            setValue("max-gain", 0.05);
        } else if (label == "Attenuation") {
            if (section == "Hum Filter") {
                setValue("hum-attenuation", 0.05);
            } else if (section == "Predictable Noise Reduction") {
                setValue("predictable-attenuation", 0.5);
            } else if (section == "Random Noise Reduction") {
                setValue("random-attenuation", 0.5);
            } else {
                fail("Attenuation outside a section");
            }
        } else if (section == "Equalizer" && label.ends_with(" Hz")) {
            const std::string frequency = trim(label.substr(0, label.size() - 3));
            const ParameterInfo* band = findParameter("eq-" + lower(frequency));
            if (band == nullptr || !isBand(band->index)) {
                fail("'" + label + "' is not a band");
            }
            setValue(band->name.c_str(), 0.05);
        }
    }
    const auto found = std::count(seen.begin(), seen.end(), true);
    if (found != kNumParams) {
        throw SettingError(source + ": setup report incomplete (" + std::to_string(found) +
                           " of 35 settings found)");
    }
}

std::string Settings::saveText() const {
    std::ostringstream out;
    out << "# veltrano settings: one parameter per line, name and value in its working unit\n";
    for (const ParameterInfo& info : parameterTable()) {
        const float x = value(info.index);
        std::string name = info.name;
        std::string text = formatWorking(info.index, x, true);
        if (isBand(info.index)) {
            name = "eq";
            text = info.name.substr(3) + "=" + text;
        }
        out << name << " " << text << "\n";
    }
    return out.str();
}

std::string Settings::showText() const {
    std::ostringstream out;
    char line[200];
    std::snprintf(line, sizeof line, "%-25s %-14s %-14s %s\n", "parameter", "current", "default",
                  "range");
    out << line;
    for (const ParameterInfo& info : parameterTable()) {
        std::string range = "on | off";
        if (info.unit != Unit::kSwitch) {
            char text[64];
            std::snprintf(text, sizeof text, "%g ... %g %s", info.minimum, info.maximum,
                          unitText(info.unit));
            range = text;
        }
        std::snprintf(line, sizeof line, "%-25s %-14s %-14s %s\n", info.name.c_str(),
                      formatWorking(info.index, value(info.index), false).c_str(),
                      formatWorking(info.index, defaultValue(info.index), false).c_str(),
                      range.c_str());
        out << line;
    }
    out << "eq-preset                 flat | low-cut | high-cut (sets the 20 bands)\n";
    return out.str();
}

void Settings::applyTo(VeltranoVST& plugin) const {
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        plugin.setParameter(i, value(i));
    }
}

} // namespace cli
