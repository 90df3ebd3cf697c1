#include "cli/Demo.h"

#include "cli/Job.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <ostream>
#include <vector>

#ifndef VELTRANO_SAMPLE_PATH
#define VELTRANO_SAMPLE_PATH ""
#endif

namespace fs = std::filesystem;

namespace cli {

namespace {

constexpr const char* kSampleName = "speech-hum-noise.wav";
constexpr double kSampleHum = 60.0; // the sample's mains frequency (Hz)

double toDb(double power) {
    return power > 0.0 ? 10.0 * std::log10(power) : -HUGE_VAL;
}

// Power of the component at `hz` (Goertzel over the whole signal), as the mean square a sine of
// that amplitude has.
double tonePower(const std::vector<double>& x, int rate, double hz) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        re += x[n] * std::cos(w * static_cast<double>(n));
        im -= x[n] * std::sin(w * static_cast<double>(n));
    }
    const double amplitude = 2.0 * std::hypot(re, im) / static_cast<double>(x.size());
    return amplitude * amplitude / 2.0;
}

bool readAll(const std::string& path, std::vector<float>& samples, SF_INFO& info) {
    info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return false;
    }
    samples.resize(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return got == info.frames;
}

std::string db(double value) {
    char text[32];
    if (std::isfinite(value)) {
        std::snprintf(text, sizeof text, "%6.1f dB", value);
    } else {
        std::snprintf(text, sizeof text, "  -inf dB");
    }
    return text;
}

} // namespace

Measures measure(const float* samples, std::size_t frames, int channels, int rate,
                 double humFrequency) {
    // The channels averaged into one signal.
    std::vector<double> x(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) {
            sum += samples[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        }
        x[n] = sum / channels;
    }
    Measures m{};
    double power = 0.0;
    double peak = 0.0;
    for (double v : x) {
        power += v * v;
        peak = std::max(peak, std::fabs(v));
    }
    m.rmsDb = toDb(frames > 0 ? power / static_cast<double>(frames) : 0.0);
    m.peakDb = peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    double hum = 0.0;
    for (int k = 1; k <= 5; ++k) {
        hum += tonePower(x, rate, humFrequency * k);
    }
    m.humDb = toDb(hum);
    const std::size_t frame = static_cast<std::size_t>(rate / 20);
    std::vector<double> frameDb;
    for (std::size_t start = 0; frame > 0 && start + frame <= frames; start += frame) {
        double p = 0.0;
        for (std::size_t n = start; n < start + frame; ++n) {
            p += x[n] * x[n];
        }
        frameDb.push_back(toDb(p / static_cast<double>(frame)));
    }
    std::sort(frameDb.begin(), frameDb.end());
    m.floorDb = frameDb.empty() ? -HUGE_VAL : frameDb[frameDb.size() / 10];
    return m;
}

std::string demoSamplePath() {
    // The installed program's own copy comes first; the source tree's is the fallback of a build
    // that has not been installed.
    std::vector<fs::path> candidates;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(self.parent_path() / kSampleName);
        candidates.push_back(self.parent_path().parent_path() / "share" / "veltrano" / kSampleName);
    }
    if (*VELTRANO_SAMPLE_PATH != '\0') {
        candidates.emplace_back(VELTRANO_SAMPLE_PATH);
    }
    for (const fs::path& candidate : candidates) {
        if (fs::is_regular_file(candidate, ec)) {
            return candidate.string();
        }
    }
    return candidates.empty() ? std::string(kSampleName) : candidates.front().string();
}

int runDemo(const std::string& folder, std::ostream& out, std::ostream& err) {
    const std::string sample = demoSamplePath();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        err << "veltrano demo: folder '" << folder << "' cannot be created\n";
        return 1;
    }
    Job job;
    job.input = sample;
    job.output = (fs::path(folder) / "restored.wav").string();
    job.residue = (fs::path(folder) / "removed.wav").string();

    JobOptions options;
    options.overwrite = true; // the demo's own folder
    options.commandLine = "veltrano demo -o " + folder;
    // Steady noise and mains hum on speech at a low level.
    for (const auto& [name, value] : {std::pair<const char*, const char*>{"high-pass", "on"},
                                      {"hum-filter", "on"},
                                      {"hum-auto-track", "on"},
                                      {"hum-frequency", "60Hz"},
                                      {"hum-attenuation", "60dB"},
                                      {"random-noise", "on"},
                                      {"random-attenuation", "80%"},
                                      {"auto-gain", "on"},
                                      {"max-gain", "12dB"}}) {
        options.settings.apply(name, value);
    }
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const JobResult result = runJob(job, options, [&](double fraction) {
        if (terminal) {
            err << "\rrestoring " << static_cast<int>(fraction * 100.0) << "%" << std::flush;
        }
    });
    if (terminal) {
        err << "\r\033[K" << std::flush;
    }
    if (!result.ok) {
        err << "veltrano demo: " << sample << ": " << result.error << "\n";
        return 1;
    }
    std::vector<float> before;
    std::vector<float> after;
    SF_INFO inInfo{};
    SF_INFO outInfo{};
    if (!readAll(sample, before, inInfo) || !readAll(job.output, after, outInfo)) {
        err << "veltrano demo: cannot read the results back\n";
        return 1;
    }
    const Measures a = measure(before.data(), static_cast<std::size_t>(inInfo.frames),
                               inInfo.channels, inInfo.samplerate, kSampleHum);
    const Measures b = measure(after.data(), static_cast<std::size_t>(outInfo.frames),
                               outInfo.channels, outInfo.samplerate, kSampleHum);
    out << "veltrano demo: restored the sample recording\n"
        << "  sample:   " << sample << " (" << inInfo.frames << " frames, " << inInfo.samplerate
        << " Hz, speech with 60 Hz hum, steady noise, low level)\n"
        << "  settings: high-pass, hum filter (auto-tracking, 60 dB), random noise 80 %,\n"
        << "            automatic gain control (max 12 dB)\n\n"
        << "                     before      after\n"
        << "  level (RMS)      " << db(a.rmsDb) << "  " << db(b.rmsDb) << "\n"
        << "  peak             " << db(a.peakDb) << "  " << db(b.peakDb) << "\n"
        << "  hum (60 Hz x1-5) " << db(a.humDb) << "  " << db(b.humDb) << "\n"
        << "  noise floor      " << db(a.floorDb) << "  " << db(b.floorDb) << "\n\n"
        << "  clipped samples  " << result.input.clipped << " / " << result.output.clipped
        << "; delay of " << result.latency << " frames compensated\n\n"
        << "results in " << fs::absolute(folder).lexically_normal().string() << "/\n"
        << "  restored.wav         the restored recording (32-bit float)\n"
        << "  removed.wav          what the filtering removed, aligned with the sample\n"
        << "  restored.report.txt  the setup report\n"
        << "  restored.record.json the processing record (versions, hashes, every setting)\n"
        << "  restored.report.html the case report: identities, setting, spectrograms, levels\n";
    return 0;
}

} // namespace cli
