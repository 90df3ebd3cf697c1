#include "cli/CaseReport.h"

#include "plugin/Parameters.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace cli {

namespace {

using Json = nlohmann::json;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// Colours of the plots (on white) and of the page.
constexpr const char* kInputColour = "#2f6db5";
constexpr const char* kOutputColour = "#d4560e";
constexpr const char* kResidueColour = "#5b8c2a";

// The plots' common frame, in SVG user units; every plot is as wide as the page.
constexpr double kViewWidth = 900.0;
constexpr double kPlotLeft = 58.0;
constexpr double kPlotWidth = 760.0;
constexpr double kPlotTop = 10.0;

// Evenly spaced "nice" ticks (1, 2 or 5 times a power of ten) from lo to hi, at most about
// `most` of them.
std::vector<double> ticks(double lo, double hi, int most, double* stepOut) {
    std::vector<double> out;
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) {
        return out;
    }
    const double rough = (hi - lo) / std::max(1, most);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10.0;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (power * m >= rough) {
            step = power * m;
            break;
        }
    }
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step) {
        out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    }
    *stepOut = step;
    return out;
}

// Time ticks in steps a clock reader expects.
std::vector<double> timeTicks(double duration, double* stepOut) {
    static constexpr double kSteps[] = {0.1,  0.2,   0.5,   1,     2,     5,    10,   15,
                                        30,   60,    120,   300,   600,   900,  1800, 3600,
                                        7200, 10800, 14400, 21600, 43200, 86400};
    double step = kSteps[std::size(kSteps) - 1];
    for (const double s : kSteps) {
        if (duration / s <= 8.0) {
            step = s;
            break;
        }
    }
    *stepOut = step;
    std::vector<double> out;
    for (double t = 0.0; t <= duration + step * 1e-9; t += step) {
        out.push_back(t);
    }
    return out;
}

std::string number(double value, int decimals) {
    return format("%.*f", decimals, value);
}

std::string tickText(double value, double step) {
    const int decimals = step >= 1.0 ? 0 : step >= 0.1 - 1e-12 ? 1 : 2;
    return number(value, decimals);
}

std::string rect(const char* cls, double x, double y, double width, double height) {
    return std::string("<rect") + (cls != nullptr ? std::string(" class=\"") + cls + "\"" : "") +
           " x=\"" + number(x, 1) + "\" y=\"" + number(y, 1) + "\" width=\"" + number(width, 1) +
           "\" height=\"" + number(height, 1) + "\"/>";
}

std::string dataUri(const std::vector<std::uint8_t>& png) {
    return "data:image/png;base64," + base64(png);
}

// One SVG plot: a frame with a time axis along the bottom and a value axis on the left.
class Plot {
public:
    Plot(const std::string& id, const std::string& label, double plotHeight, double duration)
        : height(plotHeight), seconds(duration > 0.0 ? duration : 1.0) {
        const double total = kPlotTop + height + 40.0;
        svg = "<svg class=\"plot\" id=\"" + id + "\" viewBox=\"0 0 " + number(kViewWidth, 0) + " " +
              number(total, 0) + "\" role=\"img\" aria-label=\"" + htmlEscape(label) +
              "\">\n<title>" + htmlEscape(label) + "</title>\n";
        svg += "<clipPath id=\"" + id + "-area\">" +
               rect(nullptr, kPlotLeft, kPlotTop, kPlotWidth, height) + "</clipPath>\n";
        clip = "url(#" + id + "-area)";
    }

    double x(double time) const { return kPlotLeft + kPlotWidth * time / seconds; }
    double bottom() const { return kPlotTop + height; }

    void add(const std::string& element) { svg += element; }

    // Time ticks and labels below the plot, and grid lines when `grid`.
    void timeAxis(bool grid) {
        double step = 1.0;
        const std::vector<double> marks = timeTicks(seconds, &step);
        const bool tenths = step < 1.0;
        for (const double t : marks) {
            const double at = x(t);
            if (grid) {
                svg += line(at, kPlotTop, at, bottom(), "grid");
            }
            svg += line(at, bottom(), at, bottom() + 4.0, "axis");
            svg += text(at, bottom() + 16.0, clockText(t, tenths), "middle", "tick");
        }
        svg += text(kPlotLeft + kPlotWidth / 2.0, bottom() + 32.0,
                    seconds >= 3600.0 ? "time (h:mm:ss)" : "time (m:ss)", "middle", "title");
    }

    // Value ticks on the left: `lo` at the bottom, `hi` at the top.
    void valueAxis(double lo, double hi, const std::string& title, bool grid, int most = 6,
                   double scale = 1.0) {
        double step = 1.0;
        for (const double v : ticks(lo, hi, most, &step)) {
            const double at = y(v, lo, hi);
            if (grid) {
                svg += line(kPlotLeft, at, kPlotLeft + kPlotWidth, at, "grid");
            }
            svg += line(kPlotLeft - 4.0, at, kPlotLeft, at, "axis");
            svg +=
                text(kPlotLeft - 7.0, at + 4.0, tickText(v * scale, step * scale), "end", "tick");
        }
        svg += "<text class=\"title\" transform=\"translate(14 " +
               number(kPlotTop + height / 2.0, 1) + ") rotate(-90)\" text-anchor=\"middle\">" +
               htmlEscape(title) + "</text>\n";
    }

    double y(double value, double lo, double hi) const {
        const double t = std::clamp((value - lo) / (hi - lo), 0.0, 1.0);
        return bottom() - t * height;
    }

    // A polyline of (time, value) points, clipped to the plot.
    void series(const std::vector<std::pair<double, double>>& points, double lo, double hi,
                const char* colour, const std::string& cls) {
        std::string path;
        for (const auto& [t, v] : points) {
            path += number(x(t), 1) + "," + number(y(v, lo, hi), 1) + " ";
        }
        svg += "<polyline class=\"" + cls + "\" clip-path=\"" + clip +
               "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.2\" points=\"" + path +
               "\"/>\n";
    }

    std::string finish() {
        svg += rect("frame", kPlotLeft, kPlotTop, kPlotWidth, height) + "\n</svg>\n";
        return svg;
    }

    static std::string line(double x1, double y1, double x2, double y2, const char* cls) {
        return "<line class=\"" + std::string(cls) + "\" x1=\"" + number(x1, 1) + "\" y1=\"" +
               number(y1, 1) + "\" x2=\"" + number(x2, 1) + "\" y2=\"" + number(y2, 1) + "\"/>\n";
    }
    static std::string text(double x, double y, const std::string& content, const char* anchor,
                            const char* cls) {
        return "<text class=\"" + std::string(cls) + "\" x=\"" + number(x, 1) + "\" y=\"" +
               number(y, 1) + "\" text-anchor=\"" + anchor + "\">" + htmlEscape(content) +
               "</text>\n";
    }

    const std::string& clipReference() const { return clip; }

private:
    double height;
    double seconds;
    std::string svg;
    std::string clip;
};

// The analyses shown, each with its role ("input", "output", "residue").
using Lanes = std::vector<std::pair<std::string, const SignalOverview*>>;

// The spectrograms' shared colour scale: the top a multiple of 10 dB above the strongest power
// of any of them, 100 dB deep.
struct DbScale {
    double floor;
    double top;
};

DbScale commonScale(const Lanes& lanes) {
    double strongest = SignalOverview::kSilenceDb;
    for (const auto& [role, overview] : lanes) {
        for (std::size_t c = 0; c < overview->columnCount(); ++c) {
            const float* p = overview->columnPower(c);
            const float most = *std::max_element(p, p + SignalOverview::kBins);
            if (most > 0.0f) {
                strongest = std::max(strongest, 10.0 * std::log10(static_cast<double>(most)));
            }
        }
    }
    const double top = std::clamp(std::ceil(strongest / 10.0) * 10.0, -60.0, 20.0);
    return {top - 100.0, top};
}

constexpr int kSpectrogramRows = 256;

std::string spectrogramPlot(const std::string& role, const SignalOverview& overview,
                            const DbScale& scale, double duration) {
    const double height = 170.0;
    Plot plot("spectrogram-" + role, "Spectrogram of the " + role, height, duration);
    const double nyquist = overview.sampleRate() / 2.0;
    if (overview.columnCount() > 0) {
        const double span = static_cast<double>(overview.columnCount()) *
                            static_cast<double>(overview.columnFrames()) / overview.sampleRate();
        plot.add(
            "<image clip-path=\"" + plot.clipReference() + "\" x=\"" + number(kPlotLeft, 1) +
            "\" y=\"" + number(kPlotTop, 1) + "\" width=\"" + number(plot.x(span) - kPlotLeft, 2) +
            "\" height=\"" + number(height, 1) + "\" preserveAspectRatio=\"none\" href=\"" +
            dataUri(spectrogramPng(overview, scale.floor, scale.top, kSpectrogramRows)) + "\"/>\n");
    }
    plot.valueAxis(0.0, nyquist, "frequency (kHz)", false, 6, 0.001);
    plot.timeAxis(false);
    // The colour bar, right of the plot.
    const double barX = kPlotLeft + kPlotWidth + 16.0;
    plot.add("<image x=\"" + number(barX, 1) + "\" y=\"" + number(kPlotTop, 1) +
             "\" width=\"14\" height=\"" + number(height, 1) +
             "\" preserveAspectRatio=\"none\" href=\"" +
             dataUri(colourBarPng(scale.floor, scale.top, 1, 128)) + "\"/>\n");
    plot.add(rect("frame", barX, kPlotTop, 14.0, height) + "\n");
    for (double db = scale.floor; db <= scale.top + 1e-9; db += 20.0) {
        const double at = plot.y(db, scale.floor, scale.top);
        plot.add(Plot::line(barX + 14.0, at, barX + 18.0, at, "axis"));
        plot.add(Plot::text(barX + 20.0, at + 4.0, number(db, 0), "start", "tick"));
    }
    plot.add(Plot::text(barX + 7.0, kPlotTop + height + 32.0, "dB", "middle", "title"));
    return plot.finish();
}

double silenceFloor(double db, double floor) {
    return std::isfinite(db) && db > floor ? db : floor;
}

std::string levelPlot(const SignalOverview& input, const SignalOverview& output, double duration) {
    double lowest = 0.0;
    for (const SignalOverview* o : {&input, &output}) {
        for (std::size_t i = 0; i < o->levelCount(); ++i) {
            const double db = o->levelDb(i);
            if (db > SignalOverview::kSilenceDb) {
                lowest = std::min(lowest, db);
            }
        }
    }
    const double floor = std::clamp(std::floor(lowest / 10.0) * 10.0 - 10.0, -140.0, -20.0);
    Plot plot("level", "RMS level over time, input and output (dBFS per 100 ms)", 170.0, duration);
    plot.valueAxis(floor, 0.0, "RMS level (dBFS)", true);
    plot.timeAxis(true);
    for (const auto& [o, colour, cls] : {std::tuple{&input, kInputColour, "level-input"},
                                         std::tuple{&output, kOutputColour, "level-output"}}) {
        std::vector<std::pair<double, double>> points;
        const double pointSeconds = static_cast<double>(o->levelFrames()) / o->sampleRate();
        for (std::size_t i = 0; i < o->levelCount(); ++i) {
            const double start = static_cast<double>(i) * pointSeconds;
            const double end = std::min(duration, start + pointSeconds);
            const double db = silenceFloor(o->levelDb(i), floor);
            points.emplace_back(start, db);
            points.emplace_back(end, db);
        }
        plot.series(points, floor, 0.0, colour, cls);
    }
    plot.add(Plot::text(kPlotLeft + 8.0, kPlotTop + 14.0, "input", "start", "legend-input"));
    plot.add(Plot::text(kPlotLeft + 60.0, kPlotTop + 14.0, "output", "start", "legend-output"));
    return plot.finish();
}

// The waveform lanes' common half-height: the smallest power of two (at most 4, at least 2^-10)
// at or above the largest sample of any lane, so quiet recordings still show their shape.
double waveformRange(const Lanes& lanes) {
    double peak = 0.0;
    for (const auto& lane : lanes) {
        for (std::size_t c = 0; c < lane.second->columnCount(); ++c) {
            peak = std::max({peak, std::fabs(static_cast<double>(lane.second->columnMin(c))),
                             std::fabs(static_cast<double>(lane.second->columnMax(c)))});
        }
    }
    double range = 4.0;
    while (range / 2.0 >= peak && range > 1.0 / 1024.0) {
        range /= 2.0;
    }
    return range;
}

// `range`: waveformRange(lanes).
std::string waveformPlot(const Lanes& lanes, double range, double duration) {
    constexpr double kLane = 64.0;
    constexpr double kGap = 8.0;
    const double height = static_cast<double>(lanes.size()) * (kLane + kGap) - kGap;
    Plot plot("waveform", "Waveform overview (lowest and highest sample per column)", height,
              duration);
    plot.timeAxis(true);
    const char* colours[] = {kInputColour, kOutputColour, kResidueColour};
    for (std::size_t lane = 0; lane < lanes.size(); ++lane) {
        const SignalOverview& o = *lanes[lane].second;
        const double top = kPlotTop + static_cast<double>(lane) * (kLane + kGap);
        const double middle = top + kLane / 2.0;
        const auto at = [&](double v) {
            return middle - std::clamp(v / range, -1.0, 1.0) * (kLane / 2.0);
        };
        const double columnSeconds = static_cast<double>(o.columnFrames()) / o.sampleRate();
        // The outline: the highs left to right, then the lows right to left.
        std::string outline;
        const auto edge = [&](std::size_t c, bool high) {
            const double t0 = static_cast<double>(c) * columnSeconds;
            const double t1 = std::min(duration, t0 + columnSeconds);
            const std::string v = number(at(high ? o.columnMax(c) : o.columnMin(c)), 1);
            const std::string first = number(plot.x(high ? t0 : t1), 1);
            const std::string second = number(plot.x(high ? t1 : t0), 1);
            outline += first + "," + v + " " + second + "," + v + " ";
        };
        for (std::size_t c = 0; c < o.columnCount(); ++c) {
            edge(c, true);
        }
        for (std::size_t c = o.columnCount(); c-- > 0;) {
            edge(c, false);
        }
        plot.add(Plot::line(kPlotLeft, middle, kPlotLeft + kPlotWidth, middle, "grid"));
        plot.add("<polygon class=\"wave\" clip-path=\"" + plot.clipReference() + "\" fill=\"" +
                 colours[lane % 3] + "\" points=\"" + outline + "\"/>\n");
        if (range >= 1.0) {
            plot.add(Plot::line(kPlotLeft, at(1.0), kPlotLeft + kPlotWidth, at(1.0), "fullscale"));
            plot.add(
                Plot::line(kPlotLeft, at(-1.0), kPlotLeft + kPlotWidth, at(-1.0), "fullscale"));
        }
        plot.add(Plot::text(kPlotLeft - 7.0, middle + 4.0, lanes[lane].first, "end", "tick"));
    }
    return plot.finish();
}

std::string humPlot(const ValueTrack& hum, double rate, double duration, double nominal) {
    double lo = nominal;
    double hi = nominal;
    for (std::size_t i = 0; i < hum.size(); ++i) {
        lo = std::min(lo, hum.value(i));
        hi = std::max(hi, hum.value(i));
    }
    lo = std::floor(lo * 2.0 - 1.0) / 2.0;
    hi = std::ceil(hi * 2.0 + 1.0) / 2.0;
    Plot plot("hum", "Tracked hum frequency over time (Hz)", 130.0, duration);
    plot.valueAxis(lo, hi, "hum frequency (Hz)", true, 5);
    plot.timeAxis(true);
    std::vector<std::pair<double, double>> points;
    for (std::size_t i = 0; i < hum.size(); ++i) {
        const double t = static_cast<double>(hum.frame(i)) / rate;
        const double next =
            i + 1 < hum.size() ? static_cast<double>(hum.frame(i + 1)) / rate : duration;
        points.emplace_back(t, hum.value(i));
        points.emplace_back(next, hum.value(i));
    }
    plot.series(points, lo, hi, kOutputColour, "hum-track");
    return plot.finish();
}

// ---- The page's text parts ----

std::string text(const Json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_null()) {
        return "";
    }
    return value.dump();
}

std::string decibels(const Json& value) {
    return value.is_number() ? number(value.get<double>(), 2) + " dBFS" : "silent";
}

std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), "\u202f"); // narrow no-break space
    }
    return digits;
}

std::string row(const std::string& name, const std::string& valueHtml, const char* cls = nullptr) {
    return std::string("<tr") + (cls ? std::string(" class=\"") + cls + "\"" : "") + "><th>" +
           htmlEscape(name) + "</th><td>" + valueHtml + "</td></tr>\n";
}

std::string code(const std::string& value) {
    return "<code>" + htmlEscape(value) + "</code>";
}

std::string fileTable(const std::string& role, const Json& file) {
    std::string html = "<table class=\"identity\" id=\"file-" + role + "\">\n<caption>" +
                       htmlEscape(role) + "</caption>\n";
    html += row("path", code(text(file["path"])));
    if (file["bytes"].is_number_unsigned() || file["bytes"].is_number_integer()) {
        html += row("size", grouped(file["bytes"].get<std::uint64_t>()) + " bytes");
    }
    html += row("SHA-256", "<code class=\"hash\">" + htmlEscape(text(file["sha256"])) + "</code>");
    if (file.contains("format")) {
        html += row("format", htmlEscape(text(file["format"])));
    }
    if (file.contains("container")) {
        html += row("container, codec",
                    htmlEscape(text(file["container"]) + ", " + text(file["codec"])));
        html += row("stream", htmlEscape(text(file["stream_index"])));
        html += row("decoder", htmlEscape(text(file["decoder"]) + " (decoded as " +
                                          text(file["decoded_sample_format"]) + ")"));
        if (file["start_time_seconds"].is_number() &&
            file["start_time_seconds"].get<double>() != 0.0) {
            html += row("stream start", number(file["start_time_seconds"].get<double>(), 6) + " s");
        }
        html += row("decoded samples SHA-256",
                    "<code class=\"hash\">" + htmlEscape(text(file["decoded_sha256"])) + "</code>");
    }
    if (file.contains("peak_dbfs")) {
        html += row("peak, RMS",
                    htmlEscape(decibels(file["peak_dbfs"]) + ", " + decibels(file["rms_dbfs"])));
        const std::uint64_t clipped = file["clipped_samples"].get<std::uint64_t>();
        const std::uint64_t nonFinite = file["non_finite_samples"].get<std::uint64_t>();
        html += row("samples at or beyond full scale", grouped(clipped),
                    clipped > 0 ? "attention" : nullptr);
        if (nonFinite > 0) {
            html += row("samples not finite", grouped(nonFinite), "attention");
        }
    }
    if (file.contains("definition")) {
        html += row("what it is", htmlEscape(text(file["definition"])));
    }
    return html + "</table>\n";
}

struct Stage {
    const char* name;
    VstInt32 toggle;
    std::vector<VstInt32> settings;
};

std::string settingTable(const Settings& settings) {
    std::vector<VstInt32> bands;
    for (int b = 0; b < kNumEqBands; ++b) {
        bands.push_back(kEqBand0 + b);
    }
    const std::vector<Stage> stages = {
        {"Auto-normalize", kAutoNormalize, {}},
        {"High-pass filter, 200 Hz", kHighPass, {}},
        {"Hum filter", kHumFilter, {kHumAutoTrack, kHumFrequency, kHumAttenuation}},
        {"Predictable noise reduction", kPredictableNoise, {kReverb, kPredictableAttenuation}},
        {"Random noise reduction", kRandomNoise, {kAggressive, kRandomAttenuation}},
        {"Graphic equalizer", kEqualizer, bands},
        {"Automatic gain control", kAutoGain, {kMaxGain}},
    };
    const std::vector<ParameterInfo>& table = parameterTable();
    std::string html = "<table class=\"setting\" id=\"setting\">\n<thead><tr><th>stage</th>"
                       "<th>switch</th><th>settings</th></tr></thead>\n<tbody>\n";
    for (const Stage& stage : stages) {
        const bool on = settings.value(stage.toggle) == 1.0f;
        html += std::string("<tr class=\"") + (on ? "on" : "off") + "\"><th>" +
                htmlEscape(stage.name) + "</th><td>" +
                htmlEscape(formatWorking(stage.toggle, settings.value(stage.toggle), false)) +
                " <small>(" + code("--" + table[static_cast<std::size_t>(stage.toggle)].name) +
                ")</small></td><td>";
        for (std::size_t k = 0; k < stage.settings.size(); ++k) {
            const VstInt32 index = stage.settings[k];
            const std::string& name = table[static_cast<std::size_t>(index)].name;
            html += "<span class=\"item\">" + code(name) + " " +
                    htmlEscape(formatWorking(index, settings.value(index), false)) + "</span>";
            html += k + 1 < stage.settings.size() ? " " : "";
        }
        html += "</td></tr>\n";
    }
    return html + "</tbody>\n</table>\n";
}

constexpr const char* kStyle = R"(
:root { color-scheme: light; }
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; font-size: 10.5pt;
  color: #1a1a1a; background: #fff; margin: 0 auto; padding: 16px 24px; max-width: 1000px; }
h1 { font-size: 17pt; margin: 0 0 4px; }
h2 { font-size: 12.5pt; margin: 22px 0 6px; border-bottom: 1px solid #bbb; padding-bottom: 2px; }
p.lead { margin: 0 0 10px; color: #444; }
table { border-collapse: collapse; width: 100%; margin: 4px 0 10px; }
th, td { text-align: left; vertical-align: top; padding: 2px 8px 2px 0; }
table.meta th, table.identity th { width: 13em; font-weight: 600; color: #333; }
table.identity caption { text-align: left; font-weight: 700; padding: 6px 0 2px;
  text-transform: capitalize; }
table.identity { border-top: 1px solid #ddd; }
table.setting th, table.setting td { border-bottom: 1px solid #e3e3e3; padding: 3px 8px 3px 0; }
table.setting thead th { border-bottom: 1px solid #999; }
table.setting tr.off { color: #9a9a9a; background: #f4f4f4; }
table.setting tr.off code { color: #9a9a9a; }
table.setting span.item { white-space: nowrap; margin-right: 10px; }
table.setting tbody th, table.setting tbody td:nth-child(2) { white-space: nowrap; }
tr.attention td { color: #b00020; font-weight: 700; }
code { font-family: "DejaVu Sans Mono", "Liberation Mono", monospace; font-size: 9pt; }
code.hash, code.command { word-break: break-all; }
pre.command { white-space: pre-wrap; word-break: break-all; background: #f3f5f8;
  border: 1px solid #cfd6e0; padding: 6px 8px; margin: 4px 0; }
section.warnings { border: 3px solid #b00020; background: #fff0f0; padding: 6px 14px;
  margin: 12px 0; }
section.warnings h2 { color: #b00020; border: none; margin: 4px 0; }
p.no-warnings { border: 2px solid #3a7d3a; background: #f0f8f0; padding: 6px 14px; }
figure { margin: 6px 0 14px; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-weight: 600; margin-bottom: 2px; }
svg.plot { width: 100%; height: auto; display: block; }
svg.plot image { image-rendering: pixelated; }
svg text { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; fill: #222; }
svg text.tick { font-size: 11px; }
svg text.title { font-size: 12px; }
svg text.legend-input { font-size: 12px; fill: #2f6db5; font-weight: 700; }
svg text.legend-output { font-size: 12px; fill: #d4560e; font-weight: 700; }
svg .frame { fill: none; stroke: #333; stroke-width: 1; }
svg .axis { stroke: #333; stroke-width: 1; }
svg .grid { stroke: #ddd; stroke-width: 0.8; }
svg .fullscale { stroke: #999; stroke-width: 0.6; stroke-dasharray: 3 3; }
div.panel img { width: 576px; max-width: 100%; height: auto; border: 1px solid #999; }
footer { margin-top: 24px; color: #555; font-size: 9pt; border-top: 1px solid #bbb;
  padding-top: 4px; }
@page { size: A4; margin: 14mm 12mm; }
@media print {
  body { max-width: none; padding: 0; font-size: 9.5pt; }
  h2 { break-after: avoid; page-break-after: avoid; }
  section.warnings, table.identity, table.setting tr { break-inside: avoid; }
  div.panel img { width: 110mm; }
}
)";

} // namespace

std::string shellWord(const std::string& text) {
    const bool safe = !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+' ||
               c == ':' || c == ',' || c == '=' || c == '@';
    });
    if (safe) {
        return text;
    }
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const std::uint32_t v =
            (std::uint32_t{bytes[i]} << 16) | (two ? std::uint32_t{bytes[i + 1]} << 8 : 0u);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += two ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string clockText(double seconds, bool tenths) {
    const double rounded = tenths ? std::round(seconds * 10.0) / 10.0 : std::round(seconds);
    const auto whole = static_cast<long long>(std::floor(rounded));
    const long long h = whole / 3600;
    const long long m = (whole / 60) % 60;
    const long long s = whole % 60;
    std::string out = h > 0 ? format("%lld:%02lld:%02lld", h, m, s) : format("%lld:%02lld", m, s);
    if (tenths) {
        out += format(".%lld", std::llround((rounded - static_cast<double>(whole)) * 10.0) % 10);
    }
    return out;
}

std::string caseReportHtml(const CaseReportInputs& inputs) {
    if (inputs.input == nullptr || inputs.output == nullptr) {
        throw std::invalid_argument("case report: the input and output analyses are required");
    }
    Json record;
    try {
        record = Json::parse(inputs.recordText);
    } catch (const std::exception& error) {
        throw std::invalid_argument(std::string("case report: unreadable record: ") + error.what());
    }
    const double rate = inputs.input->sampleRate();
    const double duration = static_cast<double>(inputs.input->framesSeen()) / rate;
    const std::string caseId = record["case_id"].is_string() ? text(record["case_id"]) : "";
    const std::string examiner = text(record["examiner"]);

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"generator\" content=\"veltrano " + htmlEscape(text(record["version"])) +
            "\">\n";
    html += "<title>" +
            htmlEscape("Case report" + (caseId.empty() ? std::string() : " " + caseId) + ": " +
                       std::filesystem::path(text(record["input"]["path"])).filename().string()) +
            "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";

    html += "<header>\n<h1>Case report" +
            (caseId.empty() ? std::string() : ": case " + htmlEscape(caseId)) + "</h1>\n";
    html += "<p class=\"lead\">Restoration of one recording by veltrano (Veltrano VST chain). "
            "Every fact below is also in the processing record.</p>\n";
    html += "<table class=\"meta\" id=\"case\">\n";
    html += row("case", caseId.empty() ? "<em>not given</em>" : htmlEscape(caseId));
    html += row("examiner", examiner.empty() ? "<em>not given</em>" : htmlEscape(examiner));
    html += row("processed", htmlEscape(text(record["date_utc"]) + " (local time " +
                                        text(record["date_local"]) + ")"));
    html += row("program",
                htmlEscape("veltrano " + text(record["version"]) + "; " + text(record["plugin"])));
    html += row("build", htmlEscape(text(record["build"])));
    html += row("computer", htmlEscape(text(record["host_os"])));
    html += row("command", code(text(record["command_line"])));
    html += "</table>\n";
    html += "<p>To check that the files below and this page are still the ones written (and, "
            "with <code>--reprocess</code>, that the setting gives the same output again):</p>\n"
            "<pre class=\"command\" id=\"verify-command\">" +
            htmlEscape("veltrano verify " + shellWord(inputs.recordPath)) + "</pre>\n";
    html += "</header>\n";

    // Warnings first: they cannot be missed there.
    const Json& warnings = record["warnings"];
    if (warnings.is_array() && !warnings.empty()) {
        html += "<section class=\"warnings\" id=\"warnings\">\n<h2>Warnings (" +
                std::to_string(warnings.size()) + ")</h2>\n<ul>\n";
        for (const Json& warning : warnings) {
            html += "<li>" + htmlEscape(text(warning)) + "</li>\n";
        }
        html += "</ul>\n</section>\n";
    } else {
        html += "<p class=\"no-warnings\" id=\"warnings\">No warnings: the input decoded without "
                "errors, no sample reached full scale and the rate is one of the chain's "
                "own.</p>\n";
    }

    html += "<h2>Files</h2>\n";
    html += "<table class=\"meta\" id=\"recording\">\n";
    html += row("recording",
                htmlEscape(text(record["sample_rate"]) + " Hz, " + text(record["channels"]) +
                           (record["channels"] == 1 ? " channel, " : " channels, ") +
                           grouped(record["frames"].get<std::uint64_t>()) + " frames (" +
                           clockText(duration, true) + "), " + text(record["channel_processing"])));
    html += row("chain", htmlEscape("internal rate " + text(record["internal_rate"]) +
                                    " Hz; delay of " + text(record["latency_frames"]) +
                                    " frames compensated: output and residue line up with the "
                                    "input sample for sample"));
    html += row("setup report", code(text(record["report"])));
    html += row("processing record", code(inputs.recordPath));
    html += "</table>\n";
    html += fileTable("input", record["input"]);
    html += fileTable("output", record["output"]);
    if (record["residue"].is_object()) {
        html += fileTable("residue", record["residue"]);
    }

    html += "<h2>Setting</h2>\n" + settingTable(inputs.settings);
    if (record["hum_frequency_start_hz"].is_number()) {
        html += "<p>Hum frequency " + number(record["hum_frequency_start_hz"].get<double>(), 2) +
                " Hz at the start, " + number(record["hum_frequency_end_hz"].get<double>(), 2) +
                " Hz at the end.</p>\n";
    }
    if (!inputs.panelPng.empty()) {
        html += "<figure class=\"panel\">\n<figcaption>The plug-in's panel with this "
                "setting</figcaption>\n<div class=\"panel\"><img id=\"panel\" alt=\"The "
                "plug-in's panel with this setting\" src=\"" +
                dataUri(inputs.panelPng) + "\"></div>\n</figure>\n";
    }

    html += "<h2>Spectrograms</h2>\n";
    Lanes shown = {{"input", inputs.input}, {"output", inputs.output}};
    if (inputs.residue != nullptr) {
        shown.emplace_back("residue", inputs.residue);
    }
    const DbScale scale = commonScale(shown);
    const std::size_t spanWindows =
        inputs.input->columnCount() > 0
            ? static_cast<std::size_t>(inputs.input->columnFrames() / SignalOverview::kHop)
            : 0;
    html += "<p>Channels averaged; windows of " + std::to_string(SignalOverview::kWindow) +
            " samples (Hann, hop " + std::to_string(SignalOverview::kHop) +
            "); each column shows the strongest power of its " + std::to_string(spanWindows) +
            (spanWindows == 1 ? " window" : " windows") +
            ", so short events stay visible. "
            "One colour scale for all: " +
            number(scale.floor, 0) + " to " + number(scale.top, 0) +
            " dB (a full-scale sine reads 0 dB).</p>\n";
    for (const auto& [role, overview] : shown) {
        html += "<figure>\n<figcaption>" + htmlEscape(role) + "</figcaption>\n" +
                spectrogramPlot(role, *overview, scale, duration) + "</figure>\n";
    }

    html += "<h2>Level and waveform</h2>\n";
    html += "<figure>\n<figcaption>RMS level per " +
            number(static_cast<double>(inputs.input->levelFrames()) / rate * 1000.0, 0) +
            " ms, all channels</figcaption>\n" +
            levelPlot(*inputs.input, *inputs.output, duration) + "</figure>\n";
    {
        const double range = waveformRange(shown);
        html += "<figure>\n<figcaption>Waveform overview: lowest and highest sample of any "
                "channel; each lane spans " +
                (range >= 1.0 ? "&#177;" + number(range, 0) + " (dashed lines at full scale)"
                              : "&#177;" + number(range, range >= 0.01 ? 3 : 5) + ", " +
                                    number(20.0 * std::log10(range), 1) + " dBFS") +
                "</figcaption>\n" + waveformPlot(shown, range, duration) + "</figure>\n";
    }
    if (inputs.hum != nullptr && inputs.hum->size() > 0) {
        html += "<figure>\n<figcaption>Hum frequency tracked over time" +
                std::string(record["channels"].get<int>() > 2 ? " (first channel)" : "") +
                "</figcaption>\n" +
                humPlot(*inputs.hum, rate, duration,
                        workingValue(kHumFrequency, inputs.settings.value(kHumFrequency))) +
                "</figure>\n";
    }

    html += "<footer>Written by veltrano " + htmlEscape(text(record["version"])) + " on " +
            htmlEscape(text(record["date_utc"])) +
            ". The processing record beside the output holds these facts in machine-readable "
            "form.</footer>\n</body>\n</html>\n";
    return html;
}

} // namespace cli
