// Feeds arbitrary text to everything the command line reads from a user or a file: the text of
// a settings file, a setup report or a processing record (Settings::parse, which tells them
// apart by their content), one setting by name and value (Settings::apply: the input split at
// its first line break or NUL), and the command's own arguments (`veltrano settings show ARGS`,
// one argument per line, without --settings so that nothing is read from disk).
//
// A SettingError is the expected answer to bad text. Anything else escaping, a sanitizer's
// report or a broken promise about an accepted setting is a failure. Of every setting read
// successfully it checks: the 35 normalized values are finite and in 0 ... 1, the switches
// exactly 0 or 1; the exact working-unit text of each value reads back to the same value; the
// settings file written of it reads back to the same 35 values bit for bit; the setup report
// of it reads back within the report's rounding; and a processing record (JSON, read with
// nlohmann's parser) gives the same 35 values again when reformatted: compact, or indented with
// its keys and parameters in reverse order.
#include "cli/Cli.h"
#include "cli/Settings.h"
#include "editor/SetupReport.h"
#include "plugin/VeltranoVST.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cli::SettingError;
using cli::Settings;

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

[[noreturn]] void fail(const std::string& what, const std::string& text) {
    std::fprintf(stderr, "settings fuzzer: %s\n--- text ---\n%s\n------------\n", what.c_str(),
                 text.c_str());
    std::abort();
}

bool isSwitch(VstInt32 index) {
    return index >= kAutoNormalize && index <= kAutoGain;
}

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// How far a value read from a setup report may be from the original, in working units: the
// report's rounding (0.1 Hz, 0.1 dB, 1 %) plus the plug-in's single-precision arithmetic.
double reportTolerance(VstInt32 index) {
    return index == kPredictableAttenuation || index == kRandomAttenuation ? 0.5 + 1e-3
                                                                           : 0.05 + 1e-3;
}

// The promises about a setting the parsers accepted.
void check(const Settings& s, const std::string& input) {
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        const float x = s.value(i);
        if (!std::isfinite(x) || x < 0.0f || x > 1.0f) {
            fail("parameter " + std::to_string(i) + " holds " + std::to_string(x), input);
        }
        if (isSwitch(i) && x != 0.0f && x != 1.0f) {
            fail("switch " + std::to_string(i) + " holds " + std::to_string(x), input);
        }
        const std::string exact = cli::formatWorking(i, x, true);
        if (!isSwitch(i)) {
            const float back = cli::normalizedValue(i, std::strtod(exact.c_str(), nullptr));
            if (bitsOf(back) != bitsOf(x)) {
                fail("'" + exact + "' of parameter " + std::to_string(i) + " reads back to " +
                         std::to_string(back),
                     input);
            }
        }
    }

    const std::string saved = s.saveText();
    Settings again;
    try {
        again.parse(saved, "saved");
    } catch (const SettingError& error) {
        fail(std::string("saved settings do not read back: ") + error.what(), saved);
    }
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        if (bitsOf(again.value(i)) != bitsOf(s.value(i))) {
            char what[160];
            std::snprintf(what, sizeof what, "parameter %d saved as %.9g reads back as %.9g",
                          static_cast<int>(i), static_cast<double>(s.value(i)),
                          static_cast<double>(again.value(i)));
            fail(what, saved);
        }
    }

    // One plug-in for every input: applyTo sets all 35 parameters the report shows.
    static VeltranoVST* plugin = new VeltranoVST(quietHost);
    s.applyTo(*plugin);
    std::ostringstream report;
    writeSetupReport(report, *plugin, 0);
    Settings fromReport;
    try {
        fromReport.parse(report.str(), "report");
    } catch (const SettingError& error) {
        fail(std::string("setup report does not read back: ") + error.what(), report.str());
    }
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        const double was = cli::workingValue(i, s.value(i));
        const double now = cli::workingValue(i, fromReport.value(i));
        if (!(std::fabs(now - was) <= reportTolerance(i))) {
            fail("parameter " + std::to_string(i) + " reads back from the report as " +
                     std::to_string(now) + " instead of " + std::to_string(was),
                 report.str());
        }
    }
}

// A record accepted must give the same setting however it is reformatted: compact, and with
// every object's keys and the parameter list in reverse order.
void checkReformatted(const Settings& s, const std::string& text) {
    nlohmann::ordered_json json;
    try {
        json = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        fail(std::string("a record the reader took is not JSON: ") + error.what(), text);
    }
    nlohmann::ordered_json turned = nlohmann::ordered_json::object();
    std::vector<std::pair<std::string, nlohmann::ordered_json>> items;
    for (const auto& [key, value] : json.items()) {
        items.emplace_back(key, value);
    }
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
        nlohmann::ordered_json value = item->second;
        if (item->first == "parameters" && value.is_array()) {
            std::reverse(value.begin(), value.end());
        }
        turned[item->first] = value;
    }
    for (const std::string& again :
         {json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
          turned.dump(3, ' ', false, nlohmann::json::error_handler_t::replace)}) {
        Settings back;
        try {
            back.parse(again, "reformatted");
        } catch (const SettingError& error) {
            fail(std::string("the reformatted record is refused: ") + error.what(), again);
        }
        for (VstInt32 i = 0; i < kNumParams; ++i) {
            if (bitsOf(back.value(i)) != bitsOf(s.value(i))) {
                fail("parameter " + std::to_string(i) + " differs after reformatting", again);
            }
        }
    }
}

void parseWhole(const std::string& text) {
    Settings s;
    try {
        s.parse(text, "input");
    } catch (const SettingError&) {
        return;
    }
    check(s, text);
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{') {
        checkReformatted(s, text);
    }
}

void applyOne(const std::string& text) {
    const auto split = text.find_first_of(std::string("\n\0", 2));
    const std::string name = text.substr(0, split);
    const std::string value = split == std::string::npos ? "" : text.substr(split + 1);
    Settings s;
    try {
        s.apply(name, value);
    } catch (const SettingError&) {
        return;
    }
    check(s, text);
}

// The option's name as the command reads it: without its dashes and any "=value".
std::string optionName(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') {
        return {};
    }
    const std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
    return name.substr(0, name.find('='));
}

void runCommand(const std::string& text) {
    std::vector<std::string> args = {"veltrano", "settings", "show"};
    std::size_t start = 0;
    while (start < text.size() && args.size() < 40) {
        const auto end = text.find('\n', start);
        std::string arg = text.substr(start, end == std::string::npos ? end : end - start);
        arg = arg.substr(0, arg.find('\0')); // as the program would see it
        if (optionName(arg) == "settings") {
            arg = "--quiet"; // would read a file
        }
        args.push_back(arg);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::ostringstream out;
    std::ostringstream err;
    const int status = cli::run(static_cast<int>(args.size()), argv.data(), out, err);
    if (status != 0 && status != 2) {
        fail("settings show ended with status " + std::to_string(status), text);
    }
    // The command reports any exception by its message; one of the standard library's (they
    // start with the function's name) means an unchecked case slipped through.
    const std::string message = err.str();
    for (const char* leak : {"basic_string", "std::", "stoi", "stod", "vector", "map::"}) {
        if (message.rfind(std::string("veltrano: ") + leak, 0) == 0) {
            fail("settings show reports a library exception: " + message, text);
        }
    }
    if ((status == 0) != message.empty()) {
        fail("settings show: status " + std::to_string(status) + " and '" + message + "'", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    parseWhole(text);
    applyOne(text);
    runCommand(text);
    return 0;
}
