#include "cli/Restorer.h"

#include "plugin/VeltranoVST.h"

#include <algorithm>
#include <stdexcept>

namespace cli {

namespace {

VstIntPtr VSTCALLBACK batchHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

} // namespace

bool supportedRate(int rate) {
    static constexpr int kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 64000, 88200, 96000};
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

Restorer::Restorer(const Settings& settings, int sampleRate, int channelCount)
    : vst(std::make_unique<VeltranoVST>(batchHost)), channels(channelCount) {
    if (channels < 1 || channels > 2) {
        throw std::invalid_argument("the chain takes one or two channels");
    }
    if (channels == 1) {
        VstSpeakerArrangement mono{};
        mono.type = kSpeakerArrMono;
        mono.numChannels = 1;
        vst->setSpeakerArrangement(&mono, &mono);
    }
    vst->setSampleRate(static_cast<float>(sampleRate));
    settings.applyTo(*vst);
}

Restorer::~Restorer() = default;

int Restorer::latency() const {
    return vst->getAeffect()->initialDelay;
}

int Restorer::compensation() const {
    const bool resampled = vst->decimationFactor() > 1 || vst->interpolationFactor() > 1;
    return std::max(latency() - (resampled ? 1 : 0), 0);
}

void Restorer::setBlockPattern(std::vector<int> newPattern) {
    newPattern.erase(
        std::remove_if(newPattern.begin(), newPattern.end(), [](int n) { return n < 1; }),
        newPattern.end());
    if (!newPattern.empty()) {
        pattern = std::move(newPattern);
    }
}

std::size_t Restorer::run(std::size_t frames, const Source& source, const Sink& sink,
                          const Progress& progress) {
    const int maxCall = *std::max_element(pattern.begin(), pattern.end());
    const std::size_t width = static_cast<std::size_t>(channels);
    std::vector<float> interleaved(static_cast<std::size_t>(maxCall) * width);
    std::vector<float> in[2];
    std::vector<float> out[2];
    for (int c = 0; c < channels; ++c) {
        in[c].resize(static_cast<std::size_t>(maxCall));
        out[c].resize(static_cast<std::size_t>(maxCall));
    }
    std::vector<float> played(static_cast<std::size_t>(maxCall) * width);
    std::vector<float> removed(static_cast<std::size_t>(maxCall) * width);
    std::vector<float> pendingInput; // input frames whose output has not been played yet,
    std::size_t pendingHead = 0;     // from this element on

    std::size_t toDrop = static_cast<std::size_t>(compensation());
    std::size_t read = 0;    // frames taken from the source
    std::size_t written = 0; // frames given to the sink
    bool sourceDone = frames == 0;
    std::size_t call = 0;
    while (!sourceDone || written < read) {
        const std::size_t n = static_cast<std::size_t>(pattern[call++ % pattern.size()]);
        std::size_t got = 0;
        if (!sourceDone) {
            got = source(interleaved.data(), std::min(n, frames - read));
            read += got;
            if (got == 0 || read >= frames) {
                sourceDone = true;
            }
        }
        // Past the end of the input: silence flushes the tail.
        std::fill(interleaved.begin() + static_cast<std::ptrdiff_t>(got * width),
                  interleaved.begin() + static_cast<std::ptrdiff_t>(n * width), 0.0f);
        for (std::size_t i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c) {
                in[c][i] = interleaved[i * width + static_cast<std::size_t>(c)];
            }
        }
        pendingInput.insert(pendingInput.end(), interleaved.begin(),
                            interleaved.begin() + static_cast<std::ptrdiff_t>(got * width));
        float* inputs[2] = {in[0].data(), channels > 1 ? in[1].data() : nullptr};
        float* outputs[2] = {out[0].data(), channels > 1 ? out[1].data() : nullptr};
        vst->processReplacing(inputs, outputs, static_cast<VstInt32>(n));

        std::size_t first = std::min(toDrop, n);
        toDrop -= first;
        std::size_t count = std::min(n - first, read - written);
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t c = 0; c < width; ++c) {
                const float y = out[c][first + i];
                played[i * width + c] = y;
                removed[i * width + c] = pendingInput[pendingHead + i * width + c] - y;
            }
        }
        if (count > 0) {
            pendingHead += count * width;
            if (pendingHead * 2 > pendingInput.size()) {
                pendingInput.erase(pendingInput.begin(),
                                   pendingInput.begin() + static_cast<std::ptrdiff_t>(pendingHead));
                pendingHead = 0;
            }
            sink(played.data(), removed.data(), count);
            written += count;
            if (progress) {
                progress(written);
            }
        }
    }
    return written;
}

std::vector<float> Restorer::process(const std::vector<float>& input, std::vector<float>* residue) {
    const std::size_t width = static_cast<std::size_t>(channels);
    const std::size_t frames = input.size() / width;
    std::vector<float> output;
    output.reserve(frames * width);
    if (residue != nullptr) {
        residue->clear();
    }
    std::size_t position = 0;
    run(
        frames,
        [&](float* buffer, std::size_t maxFrames) {
            const std::size_t n = std::min(maxFrames, frames - position);
            std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(position * width), n * width,
                        buffer);
            position += n;
            return n;
        },
        [&](const float* played, const float* removed, std::size_t n) {
            output.insert(output.end(), played, played + n * width);
            if (residue != nullptr) {
                residue->insert(residue->end(), removed, removed + n * width);
            }
        });
    return output;
}

} // namespace cli
