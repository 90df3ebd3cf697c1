// The command line's view of the plug-in's 35 parameters: readable names and working units,
// their conversion to and from the normalized values the plug-in stores, the settings file and
// the reading back of a setup report.
//
// Names follow the parameter constants (kAutoNormalize -> auto-normalize). Switches take on or
// off; the amounts take their working unit (dB, %, Hz), with or without the unit written; the
// equalizer bands are named by the centre frequency the setup report lists ("eq 240=-6dB").
#pragma once

#include "plugin/Parameters.h"

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

class VeltranoVST;

namespace cli {

// A setting that cannot be applied; the message names it.
class SettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Unit { kSwitch, kDecibel, kPercent, kHertz };

struct ParameterInfo {
    VstInt32 index;
    std::string name; // option name without the dashes ("hum-attenuation", "eq-240")
    Unit unit;
    double minimum; // working range (switches: 0 ... 1)
    double maximum;
};

// The 35 parameters in index order.
const std::vector<ParameterInfo>& parameterTable();
// The entry of a name ("hum-attenuation", "eq-240"), or nullptr.
const ParameterInfo* findParameter(const std::string& name);

// Working value of a normalized value, and back (the normalized value as the plug-in stores
// it, rounded to single precision).
double workingValue(VstInt32 index, float normalized);
float normalizedValue(VstInt32 index, double working);

// The unit's text ("dB", "%", "Hz", "").
const char* unitText(Unit unit);
// A working value as text with its unit: "on", "45 dB", "80 %"; exact enough to read back to
// the same normalized value.
std::string formatWorking(VstInt32 index, float normalized, bool exact);

// The complete setting: 35 normalized values, starting at the plug-in's initial values.
class Settings {
public:
    Settings();

    float value(VstInt32 index) const { return values[static_cast<std::size_t>(index)]; }
    void setNormalized(VstInt32 index, float normalized);

    // Applies one setting by name and text value ("hum-attenuation", "45dB"; "eq", "240=-6dB";
    // "eq-preset", "low-cut"). Throws SettingError naming the setting when the name does not
    // exist or the value is not valid or out of range.
    void apply(const std::string& name, const std::string& text);
    // Reads a settings file, a setup report or a processing record (recognised by their
    // content); throws SettingError naming the file and line.
    void load(const std::string& path);
    // Parses the text of any of the three; `source` names it in messages.
    void parse(const std::string& text, const std::string& source);

    // The settings file: a header comment and one "name value unit" line per parameter.
    std::string saveText() const;
    // One line per parameter: name, current, default and range.
    std::string showText() const;

    // Sets all 35 parameters of the plug-in, in index order.
    void applyTo(VeltranoVST& plugin) const;

private:
    void parseReport(const std::string& text, const std::string& source);
    void parseRecord(const std::string& text, const std::string& source);
    std::array<float, kNumParams> values{};
};

// What is wrong in a JSON text, as the JSON reader's exception says it, without its code
// ("parse error at line 3, column 5: syntax error while parsing object ...").
std::string jsonProblem(const std::exception& error);

// The initial normalized value of a parameter.
float defaultValue(VstInt32 index);

} // namespace cli
