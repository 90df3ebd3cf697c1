// The test host's side of the render through Ardour (see ardour/render.sh):
//
// RECORDING may be given as PATH@RATE: its samples taken as sampled at RATE.
//
//   ardour_render info RECORDING
//       prints the recording's frame count and rate: "FRAMES RATE"
//   ardour_render input RECORDING LEFT.wav RIGHT.wav
//       overwrites the two mono sources of the session's placeholder region with the recording
//       (left: the recording, right: the recording at half level, reversed), 32-bit float
//   ardour_render compare PLUGIN RECORDING SETTINGS LATENCY OUT-LEFT.wav OUT-RIGHT.wav
//       runs the same input through PLUGIN in our own host with SETTINGS ("index=value,..."),
//       and compares with what Ardour rendered, aligned by the reported latency: fails when any
//       sample differs by more than 1e-6, or when LATENCY is not what our host sees.
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

int compare(const char* plugin, const char* recordingPath, const char* settingsText,
            int ardourLatency, const char* outLeft, const char* outRight) {
    Recording recording;
    Signal ardour[2];
    int rate = 0;
    if (!readRecording(recordingPath, recording) || !readMono(outLeft, ardour[0], rate) ||
        !readMono(outRight, ardour[1], rate)) {
        return 1;
    }
    VstHost host(plugin);
    if (host.open() == nullptr) {
        std::fprintf(stderr, "our host cannot load %s: %s\n", plugin, host.error().c_str());
        return 1;
    }
    host.setSampleRate(static_cast<float>(recording.rate));
    host.dispatch(effMainsChanged, 0, 1);
    for (const auto& [index, value] : parseSettings(settingsText)) {
        host.setParameter(index, value);
    }
    const int latency = host.effect()->initialDelay;
    std::printf("our host: latency %d frames; Ardour reported %d\n", latency, ardourLatency);
    if (latency != ardourLatency) {
        std::fprintf(stderr, "latency differs\n");
        return 1;
    }

    // The recording followed by a latency of silence, in calls of 1024 frames.
    const std::size_t frames = recording.left.size();
    const std::size_t total = frames + static_cast<std::size_t>(latency);
    Signal in[2] = {recording.left, recording.right};
    Signal out[2] = {Signal(total), Signal(total)};
    in[0].resize(total, 0.0f);
    in[1].resize(total, 0.0f);
    for (std::size_t pos = 0; pos < total; pos += 1024) {
        const auto n = static_cast<VstInt32>(std::min<std::size_t>(1024, total - pos));
        float* inputs[2] = {in[0].data() + pos, in[1].data() + pos};
        float* outputs[2] = {out[0].data() + pos, out[1].data() + pos};
        host.processReplacing(inputs, outputs, n);
    }

    bool ok = true;
    for (int c = 0; c < 2; ++c) {
        if (ardour[c].size() < frames) {
            std::fprintf(stderr, "Ardour rendered %zu frames of channel %d, expected %zu\n",
                         ardour[c].size(), c, frames);
            ok = false;
            continue;
        }
        double worst = 0.0;
        std::size_t worstAt = 0;
        double energy = 0.0;
        for (std::size_t n = 0; n < frames; ++n) {
            const double ours = out[c][n + static_cast<std::size_t>(latency)];
            const double difference = std::fabs(ours - ardour[c][n]);
            energy += ours * ours;
            if (!(difference <= worst)) {
                worst = difference;
                worstAt = n;
            }
        }
        std::printf("channel %d: %zu frames, rms %.4f, largest difference %.3g at frame %zu\n", c,
                    frames, std::sqrt(energy / static_cast<double>(frames)), worst, worstAt);
        ok = ok && worst <= 1e-6 && energy > 0.0;
    }
    std::printf("%s\n", ok ? "Ardour's render equals our host's" : "renders differ");
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
    if (mode == "compare" && argc == 8) {
        return compare(argv[2], argv[3], argv[4], std::atoi(argv[5]), argv[6], argv[7]);
    }
    std::fprintf(stderr, "usage: ardour_render info|input|compare ... (see the source)\n");
    return 2;
}
