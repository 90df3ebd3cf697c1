// The test host's side of the render through Ardour (see ardour/render.sh):
//
// RECORDING may be given as PATH@RATE: its samples taken as sampled at RATE.
//
//   ardour_render info RECORDING
//       prints the recording's frame count and rate: "FRAMES RATE"
//   ardour_render input RECORDING LEFT.wav RIGHT.wav
//       overwrites the two mono sources of the session's placeholder region with the recording
//       (left: the recording, right: the recording at half level, reversed), 32-bit float
//   ardour_render command RECORDING SETTINGS STEREO.wav SETTINGS-FILE
//       writes the same input as one stereo file, and SETTINGS ("index=value,...") as a
//       settings file of the veltrano command
//   ardour_render compare PLUGIN LATENCY COMMAND-OUT.wav OUT-LEFT.wav OUT-RIGHT.wav
//       compares what Ardour rendered with what `veltrano process` made of the same input and
//       settings, both latency-compensated: fails when any sample differs at all, or when
//       LATENCY, the latency Ardour reported, is not what our own host sees of PLUGIN.
#include "cli/Settings.h"
#include "host/VstHost.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Signal = std::vector<float>;

struct Recording {
    Signal left;
    Signal right;
    int rate{0};
};

// The first channel of a sound file.
bool readMono(const std::string& path, Signal& samples, int& rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    samples.resize(static_cast<std::size_t>(got));
    for (sf_count_t n = 0; n < got; ++n) {
        samples[static_cast<std::size_t>(n)] =
            interleaved[static_cast<std::size_t>(n * info.channels)];
    }
    rate = info.samplerate;
    return true;
}

bool readRecording(const std::string& argument, Recording& recording) {
    const auto at = argument.rfind('@');
    const std::string path = argument.substr(0, at);
    if (!readMono(path, recording.left, recording.rate)) {
        return false;
    }
    if (at != std::string::npos) {
        recording.rate = std::stoi(argument.substr(at + 1));
    }
    recording.right.assign(recording.left.rbegin(), recording.left.rend());
    for (float& x : recording.right) {
        x *= 0.5f;
    }
    return true;
}

bool writeMono(const std::string& path, const Signal& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    const sf_count_t put =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return put == static_cast<sf_count_t>(samples.size());
}

std::vector<std::pair<int, float>> parseSettings(const std::string& text) {
    std::vector<std::pair<int, float>> settings;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        const auto equals = item.find('=');
        if (equals != std::string::npos) {
            settings.emplace_back(std::stoi(item.substr(0, equals)),
                                  std::stof(item.substr(equals + 1)));
        }
    }
    return settings;
}

bool writeStereo(const std::string& path, const Recording& recording) {
    SF_INFO info{};
    info.samplerate = recording.rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    Signal interleaved;
    for (std::size_t n = 0; n < recording.left.size(); ++n) {
        interleaved.push_back(recording.left[n]);
        interleaved.push_back(recording.right[n]);
    }
    const auto frames = static_cast<sf_count_t>(recording.left.size());
    const sf_count_t put = sf_writef_float(file, interleaved.data(), frames);
    sf_close(file);
    return put == frames;
}

int command(const char* recordingPath, const char* settingsText, const char* stereoPath,
            const char* settingsPath) {
    Recording recording;
    if (!readRecording(recordingPath, recording) || !writeStereo(stereoPath, recording)) {
        return 1;
    }
    cli::Settings settings;
    for (const auto& [index, value] : parseSettings(settingsText)) {
        settings.setNormalized(index, value);
    }
    std::FILE* file = std::fopen(settingsPath, "wb");
    if (file == nullptr) {
        std::perror(settingsPath);
        return 1;
    }
    const std::string text = settings.saveText();
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}

int compare(const char* plugin, int ardourLatency, const char* commandOut, const char* outLeft,
            const char* outRight) {
    VstHost host(plugin);
    if (host.open() == nullptr) {
        std::fprintf(stderr, "our host cannot load %s: %s\n", plugin, host.error().c_str());
        return 1;
    }
    Signal ardour[2];
    int rate = 0;
    SF_INFO info{};
    SNDFILE* file = sf_open(commandOut, SFM_READ, &info);
    if (file == nullptr || info.channels != 2 || !readMono(outLeft, ardour[0], rate) ||
        !readMono(outRight, ardour[1], rate)) {
        std::fprintf(stderr, "cannot read the renders\n");
        if (file != nullptr) {
            sf_close(file);
        }
        return 1;
    }
    Signal interleaved(static_cast<std::size_t>(info.frames) * 2);
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    const auto frames = static_cast<std::size_t>(got);

    host.setSampleRate(static_cast<float>(info.samplerate));
    const int latency = host.effect()->initialDelay;
    std::printf("our host: latency %d frames; Ardour reported %d\n", latency, ardourLatency);
    if (latency != ardourLatency) {
        std::fprintf(stderr, "latency differs\n");
        return 1;
    }

    bool ok = true;
    for (std::size_t c = 0; c < 2; ++c) {
        if (ardour[c].size() < frames) {
            std::fprintf(stderr, "Ardour rendered %zu frames of channel %zu, expected %zu\n",
                         ardour[c].size(), c, frames);
            ok = false;
            continue;
        }
        std::size_t differing = 0;
        std::size_t first = 0;
        double worst = 0.0;
        double energy = 0.0;
        for (std::size_t n = 0; n < frames; ++n) {
            const double ours = interleaved[n * 2 + c];
            if (interleaved[n * 2 + c] != ardour[c][n]) {
                first = differing == 0 ? n : first;
                ++differing;
                worst = std::max(worst, std::fabs(ours - ardour[c][n]));
            }
            energy += ours * ours;
        }
        std::printf("channel %zu: %zu frames, rms %.4f, %zu differ (first at %zu, largest %.3g)\n",
                    c, frames, std::sqrt(energy / static_cast<double>(frames)), differing, first,
                    worst);
        ok = ok && differing == 0 && energy > 0.0;
    }
    std::printf("%s\n",
                ok ? "Ardour's render equals the command's, bit for bit" : "renders differ");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "info" && argc == 3) {
        Recording recording;
        if (!readRecording(argv[2], recording)) {
            return 1;
        }
        std::printf("%zu %d\n", recording.left.size(), recording.rate);
        return 0;
    }
    if (mode == "input" && argc == 5) {
        Recording recording;
        return readRecording(argv[2], recording) &&
                       writeMono(argv[3], recording.left, recording.rate) &&
                       writeMono(argv[4], recording.right, recording.rate)
                   ? 0
                   : 1;
    }
    if (mode == "command" && argc == 6) {
        return command(argv[2], argv[3], argv[4], argv[5]);
    }
    if (mode == "compare" && argc == 7) {
        return compare(argv[2], std::atoi(argv[3]), argv[4], argv[5], argv[6]);
    }
    std::fprintf(stderr, "usage: ardour_render info|input|compare ... (see the source)\n");
    return 2;
}
