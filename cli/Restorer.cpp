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

Restorer::Restorer(const Settings& chosen, int rate, int channelCount)
    : settings(chosen), sampleRate(rate), channels(channelCount) {
    if (channels < 1) {
        throw std::invalid_argument("the chain needs at least one channel");
    }
    const int width = channels <= 2 ? channels : 1;
    for (int first = 0; first < channels; first += width) {
        Lane lane;
        lane.first = first;
        lane.width = width;
        lane.vst = makePlugin(settings, width);
        lanes.push_back(std::move(lane));
    }
}

Restorer::~Restorer() = default;

std::unique_ptr<VeltranoVST> Restorer::makePlugin(const Settings& chosen, int width) const {
    auto plugin = std::make_unique<VeltranoVST>(batchHost);
    if (width == 1) {
        VstSpeakerArrangement mono{};
        mono.type = kSpeakerArrMono;
        mono.numChannels = 1;
        plugin->setSpeakerArrangement(&mono, &mono);
    }
    plugin->setSampleRate(static_cast<float>(sampleRate));
    chosen.applyTo(*plugin);
    return plugin;
}

void Restorer::enableResidue() {
    for (Lane& lane : lanes) {
        if (lane.reference) {
            continue;
        }
        lane.reference = makePlugin(settings, lane.width);
        lane.reference->setRemovalReference(true);
        if (settings.value(kAutoNormalize) == 1.0f || settings.value(kAutoGain) == 1.0f) {
            Settings withoutLevel = settings;
            withoutLevel.setNormalized(kAutoNormalize, 0.0f);
            withoutLevel.setNormalized(kAutoGain, 0.0f);
            lane.unlevelled = makePlugin(withoutLevel, lane.width);
        }
    }
}

int Restorer::latency() const {
    return lanes.front().vst->getAeffect()->initialDelay;
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
    const auto callFrames = static_cast<std::size_t>(maxCall);
    const std::size_t width = static_cast<std::size_t>(channels);
    const bool withResidue = lanes.front().reference != nullptr;
    const bool ownFiltered = lanes.front().unlevelled != nullptr;
    std::vector<float> interleaved(callFrames * width);
    // Per channel: the input, and the outputs of the restoration, the reference and the chain
    // without the level stages.
    std::vector<std::vector<float>> in(width);
    std::vector<std::vector<float>> out(width);
    std::vector<std::vector<float>> referenceOut(width);
    std::vector<std::vector<float>> unlevelledOut(width);
    for (std::size_t c = 0; c < width; ++c) {
        in[c].resize(callFrames);
        out[c].resize(callFrames);
        referenceOut[c].resize(withResidue ? callFrames : 0);
        unlevelledOut[c].resize(ownFiltered ? callFrames : 0);
    }
    std::vector<float> played(callFrames * width);
    std::vector<float> removed(withResidue ? callFrames * width : 0);
    const std::vector<std::vector<float>>& filtered = ownFiltered ? unlevelledOut : out;

    std::size_t toDrop = static_cast<std::size_t>(latency());
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
            for (std::size_t c = 0; c < width; ++c) {
                in[c][i] = interleaved[i * width + c];
            }
        }
        const auto frameCount = static_cast<VstInt32>(n);
        for (Lane& lane : lanes) {
            const auto c0 = static_cast<std::size_t>(lane.first);
            const bool pair = lane.width > 1;
            float* inputs[2] = {in[c0].data(), pair ? in[c0 + 1].data() : nullptr};
            const auto process = [&](VeltranoVST& plugin, std::vector<std::vector<float>>& target) {
                float* outputs[2] = {target[c0].data(), pair ? target[c0 + 1].data() : nullptr};
                plugin.processReplacing(inputs, outputs, frameCount);
            };
            process(*lane.vst, out);
            if (lane.reference) {
                process(*lane.reference, referenceOut);
            }
            if (lane.unlevelled) {
                process(*lane.unlevelled, unlevelledOut);
            }
        }

        std::size_t first = std::min(toDrop, n);
        toDrop -= first;
        std::size_t count = std::min(n - first, read - written);
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t c = 0; c < width; ++c) {
                played[i * width + c] = out[c][first + i];
                if (withResidue) {
                    removed[i * width + c] = referenceOut[c][first + i] - filtered[c][first + i];
                }
            }
        }
        if (count > 0) {
            sink(played.data(), withResidue ? removed.data() : nullptr, count);
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
        enableResidue();
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
            if (residue != nullptr && removed != nullptr) {
                residue->insert(residue->end(), removed, removed + n * width);
            }
        });
    return output;
}

} // namespace cli
