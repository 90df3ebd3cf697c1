#include "editor/SetupReport.h"

#include "plugin/VeltranoVST.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace {

// Writes text with every '\n' stored as CR LF.
void put(std::ostream& out, const char* text) {
    for (; *text != '\0'; ++text) {
        if (*text == '\n') {
            out << "\r\n";
        } else {
            out << *text;
        }
    }
}

void putSwitch(std::ostream& out, VeltranoVST& plugin, VstInt32 index, const char* ending) {
    // On whenever the stored value is not 0, unlike the audio path's rule.
    put(out, plugin.getParameter(index) != 0.0f ? "On" : "Off");
    put(out, ending);
}

} // namespace

std::string ctimeText(std::time_t when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[local.tm_wday % 7],
                  kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, 1900 + local.tm_year);
    return text;
}

std::ostream& writeSetupReport(std::ostream& out, VeltranoVST& plugin) {
    return writeSetupReport(out, plugin, std::time(nullptr));
}

std::ostream& writeSetupReport(std::ostream& out, VeltranoVST& plugin, std::time_t when) {
    put(out, "\t\t\t\t\t\t\t\tPage 1 of 1\n\n");
    put(out, "Case Number/ID:________________________\n\n\n");
    put(out, "Veltrano /VST AudioSuite Plug-In\n");
    put(out, "Windows Version\n");
    out.setf(std::ios::fixed, std::ios::floatfield);
    out.precision(6);
    put(out, "Revision: ");
    out << 1.0;
    put(out, "\n");
    put(out, "Setup Report for ");
    put(out, ctimeText(when).c_str());
    put(out, "\n\n");

    put(out, "Auto-Normalize\t\t\t");
    putSwitch(out, plugin, kAutoNormalize, "\n\n");
    put(out, "200 Hz High Pass Filter\t\t");
    putSwitch(out, plugin, kHighPass, "\n\n");

    put(out, "Hum Filter\t\t\t");
    putSwitch(out, plugin, kHumFilter, "\n");
    put(out, "\tAuto-Tracking\t\t");
    putSwitch(out, plugin, kHumAutoTrack, "\n");
    out.precision(1);
    put(out, "\tFrequency\t\t");
    out << static_cast<float>(plugin.humDetector(0).frequency);
    put(out, " Hz\n");
    const float humDb = 60.0f - 60.0f * plugin.getParameter(kHumAttenuation);
    put(out, "\tAttenuation\t\t");
    out << humDb;
    put(out, " dB\n\n");

    put(out, "Predictable Noise Reduction\t");
    putSwitch(out, plugin, kPredictableNoise, "\n");
    put(out, "\tReverb\t\t\t");
    putSwitch(out, plugin, kReverb, "\n");
    out.precision(0);
    put(out, "\tAttenuation\t\t");
    out << (1.0 - static_cast<double>(plugin.getParameter(kPredictableAttenuation))) * 100.0;
    put(out, "%\n\n");

    put(out, "Random Noise Reduction\t\t");
    putSwitch(out, plugin, kRandomNoise, "\n");
    put(out, "\tAggressive\t\t");
    putSwitch(out, plugin, kAggressive, "\n");
    out.precision(0);
    put(out, "\tAttenuation\t\t");
    out << (1.0 - static_cast<double>(plugin.getParameter(kRandomAttenuation))) * 100.0;
    put(out, "%\n\n");

    put(out, "Equalizer\t\t\t");
    putSwitch(out, plugin, kEqualizer, "\n");
    out.precision(1);
    for (int band = 0; band < kNumEqBands; ++band) {
        const int f = kEqBandCentres[band];
        const float d = 20.0f * std::log10(plugin.bandGain(band));
        put(out, "\t");
        if (f < 100) {
            put(out, " ");
        }
        if (f < 1000) {
            put(out, " ");
        }
        out << f;
        put(out, " Hz\t");
        if (d >= 0.0f) {
            put(out, " ");
        }
        if (std::fabs(d) <= 10.0f) {
            put(out, " ");
        }
        out << d;
        put(out, " dB\n");
        out.flush();
    }
    put(out, "\n");

    put(out, "Automatic Gain Control\t\t");
    putSwitch(out, plugin, kAutoGain, "\n");
    out.precision(1);
    put(out, "\tMax Gain\t\t");
    out << 20.0f * std::log10(plugin.maxGainLinearValue());
    put(out, " dB\n\n");
    put(out, "\n");
    put(out, "Examiner's Initials:____________\n\n");
    put(out, "END OF REPORT\n");
    return out;
}
