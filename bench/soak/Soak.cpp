// Long-run checks of the whole chain as a host drives it, run as a program, not a unit test.
//
// veltrano_soak [--seconds N] [--seed S]
//   Soak: N seconds (default 3600) of generated audio at 48 kHz through every stage, in host
//   calls of varying length, while a second thread automates parameters at random once per
//   call, as hosts do from their user-interface or automation thread. Fails on any
//   non-finite output sample, on any change of the reported latency, and when the resident
//   size grows by more than 4 MiB after the first minute (buffers are sized when the rate is
//   set; nothing should grow afterwards).
//
// veltrano_soak --silence [--loud N] [--quiet M]
//   Cost of silence: N seconds (default 30) of loud material, then M seconds (default 60) of
//   digital silence, in calls of one host block each, every stage on. Prints the median cost
//   per block on the loud material and on every ten seconds of silence; fails when silence
//   costs more than twice the loud material (denormal numbers would).
#include "plugin/VeltranoVST.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr float kRate = 48000.0f;
constexpr VstInt32 kStageSwitches[] = {kAutoNormalize, kHighPass,  kHumFilter, kPredictableNoise,
                                       kRandomNoise,   kEqualizer, kAutoGain};

VstIntPtr VSTCALLBACK soakHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case audioMasterVersion:
        return kVstVersion;
    case audioMasterGetSampleRate:
        return static_cast<VstIntPtr>(kRate);
    default:
        return 0;
    }
}

// Resident set size in bytes, from /proc/self/statm.
double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * 4096.0;
}

// A recording-like test signal: voice-band tone bursts whose level wanders over 40 dB, 60 Hz
// hum with harmonics, steady noise, a reverberant tail, occasional clipping-level peaks and
// stretches of digital silence.
class Material {
public:
    explicit Material(unsigned seed) : random(seed) {}

    void fill(float* left, float* right, int frames) {
        for (int n = 0; n < frames; ++n) {
            if (--segmentLeft <= 0) {
                newSegment();
            }
            const double t = static_cast<double>(frame++) / kRate;
            const double hum = 0.02 * std::sin(2.0 * std::numbers::pi * 60.0 * t) +
                               0.008 * std::sin(2.0 * std::numbers::pi * 180.0 * t);
            double voice = 0.0;
            if (!silent) {
                phase += 2.0 * std::numbers::pi * pitch / kRate;
                voice = level * (std::sin(phase) + 0.5 * std::sin(2.0 * phase + 0.3) +
                                 0.25 * std::sin(3.0 * phase + 1.1));
                tail = 0.9995 * tail + 0.0005 * voice;
            }
            const double background = silent ? 0.0 : noiseLevel * noise(random) + hum + tail;
            double sample = voice + background;
            if (!silent && spike(random) < 2.0e-6) {
                sample = spike(random) < 0.5 ? 1.0 : -1.0;
            }
            left[n] = static_cast<float>(sample);
            right[n] = static_cast<float>(0.8 * sample + (silent ? 0.0 : 0.01 * noise(random)));
        }
    }

private:
    void newSegment() {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        segmentLeft = static_cast<long>(kRate * (0.05 + 2.0 * unit(random)));
        silent = unit(random) < 0.08;
        level = std::pow(10.0, -0.5 - 2.0 * unit(random)); // -10 to -50 dB
        pitch = 90.0 + 300.0 * unit(random);
        noiseLevel = std::pow(10.0, -2.0 - 1.5 * unit(random));
    }

    std::mt19937 random;
    std::normal_distribution<double> noise{0.0, 1.0};
    std::uniform_real_distribution<double> spike{0.0, 1.0};
    long frame{0};
    long segmentLeft{0};
    bool silent{false};
    double level{0.1};
    double pitch{150.0};
    double noiseLevel{0.01};
    double phase{0.0};
    double tail{0.0};
};

AEffect* makeEffect(VeltranoVST** object = nullptr) {
    auto* plugin = new VeltranoVST(soakHost);
    if (object != nullptr) {
        *object = plugin;
    }
    AEffect* effect = plugin->getAeffect();
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, kRate);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    for (VstInt32 index : kStageSwitches) {
        effect->setParameter(effect, index, 1.0f);
    }
    effect->setParameter(effect, kHumAutoTrack, 1.0f);
    return effect;
}

int soak(double seconds, unsigned seed) {
    AEffect* effect = makeEffect();
    const VstInt32 latency = effect->initialDelay;
    const long total = static_cast<long>(seconds * kRate);
    std::printf("soak: %.0f s of audio at %.0f Hz, every stage on, latency %d frames\n", seconds,
                kRate, latency);

    // The automation thread writes a few parameters at a time, several times per host call,
    // while the audio thread processes.
    std::atomic<long> calls{0};
    std::atomic<bool> done{false};
    std::atomic<long> writes{0};
    std::thread automation([&] {
        std::mt19937 random(seed + 1);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        std::uniform_int_distribution<VstInt32> anyParameter(0, kNumParams - 1);
        while (!done.load(std::memory_order_relaxed)) {
            // A burst of writes, then a pause of the order of a fraction of a host call.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            const int count = 1 + static_cast<int>(unit(random) * 4.0f);
            for (int k = 0; k < count; ++k) {
                // Every parameter but the stage switches, which stay on.
                VstInt32 index = anyParameter(random);
                if (std::find(std::begin(kStageSwitches), std::end(kStageSwitches), index) !=
                    std::end(kStageSwitches)) {
                    index = kEqBand0 + index % kNumEqBands;
                }
                float value = unit(random);
                if (index == kReverb || index == kAggressive || index == kHumAutoTrack) {
                    value = value < 0.5f ? 0.0f : 1.0f;
                }
                effect->setParameter(effect, index, value);
                (void)effect->getParameter(effect, index);
            }
            writes.fetch_add(count, std::memory_order_relaxed);
        }
    });

    Material material(seed);
    std::mt19937 random(seed + 2);
    std::uniform_int_distribution<int> callLength(1, 4096);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    constexpr int kLongest = 8192;
    std::vector<float> left(kLongest);
    std::vector<float> right(kLongest);

    long frame = 0;
    long nonFinite = 0;
    long latencyChanges = 0;
    double peak = 0.0;
    double rssAfterWarmUp = 0.0;
    double rssMax = 0.0;
    long nextReport = static_cast<long>(kRate) * 60;
    const auto started = std::chrono::steady_clock::now();
    while (frame < total) {
        int length = unit(random) < 0.02f ? kLongest : callLength(random);
        if (unit(random) < 0.01f) {
            length = 1;
        }
        length = static_cast<int>(std::min<long>(length, total - frame));
        material.fill(left.data(), right.data(), length);
        float* io[2] = {left.data(), right.data()};
        effect->processReplacing(effect, io, io, length); // in place, as many hosts call
        calls.fetch_add(1, std::memory_order_relaxed);
        for (int n = 0; n < length; ++n) {
            if (!std::isfinite(left[static_cast<std::size_t>(n)]) ||
                !std::isfinite(right[static_cast<std::size_t>(n)])) {
                ++nonFinite;
            } else {
                peak = std::max<double>(peak, std::fabs(left[static_cast<std::size_t>(n)]));
            }
        }
        if (effect->initialDelay != latency) {
            ++latencyChanges;
        }
        frame += length;
        if (frame >= nextReport || frame >= total) {
            const double rss = residentBytes();
            if (rssAfterWarmUp == 0.0) {
                rssAfterWarmUp = rss;
            }
            rssMax = std::max(rssMax, rss);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("  %6.0f s of audio  %6.1f s elapsed  resident %.1f MiB  peak %.3f\n",
                        static_cast<double>(frame) / kRate, elapsed, rss / 1048576.0, peak);
            std::fflush(stdout);
            nextReport += static_cast<long>(kRate) * 60;
        }
    }
    done = true;
    automation.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double growth = rssMax - rssAfterWarmUp;
    std::printf(
        "soak: %ld host calls, %ld parameter writes, %ld non-finite samples, %ld latency changes "
        "(latency %d), resident size growth after the first minute %.2f MiB, "
        "%.1fx real time\n",
        calls.load(), writes.load(), nonFinite, latencyChanges, effect->initialDelay,
        growth / 1048576.0, static_cast<double>(total) / kRate / elapsed);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    const bool ok = nonFinite == 0 && latencyChanges == 0 && growth <= 4.0 * 1048576.0;
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

int silence(double loudSeconds, double quietSeconds) {
    VeltranoVST* plugin = nullptr;
    AEffect* effect = makeEffect(&plugin);
    const int block = static_cast<int>(plugin->hostBlockFrames()); // one block per call
    std::vector<float> left(static_cast<std::size_t>(block));
    std::vector<float> right(static_cast<std::size_t>(block));
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 0.25f);
    auto timeCall = [&] {
        float* io[2] = {left.data(), right.data()};
        const auto start = std::chrono::steady_clock::now();
        effect->processReplacing(effect, io, io, block);
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const int loudCalls = static_cast<int>(loudSeconds * kRate / block);
    std::vector<double> loud;
    long frame = 0;
    for (int call = 0; call < loudCalls; ++call, frame += block) {
        for (int n = 0; n < block; ++n) {
            const float t = static_cast<float>(frame + n) / kRate;
            left[static_cast<std::size_t>(n)] =
                0.5f * std::sin(2.0f * std::numbers::pi_v<float> * 440.0f * t) + noise(random);
            right[static_cast<std::size_t>(n)] = noise(random);
        }
        const double cost = timeCall();
        if (call >= loudCalls / 2) {
            loud.push_back(cost); // the second half, with every stage settled
        }
    }
    const double loudMedian = median(loud);
    std::printf("silence: loud material %.0f s, then %.0f s of digital silence, host block %d "
                "frames\n",
                loudSeconds, quietSeconds, block);
    std::printf("  loud:            median %.0f us per block\n", loudMedian);
    const int quietCalls = static_cast<int>(quietSeconds * kRate / block);
    const int window = static_cast<int>(10.0 * kRate / block);
    std::vector<double> costs;
    double worst = 0.0;
    for (int call = 0; call < quietCalls; ++call) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        costs.push_back(timeCall());
        if (static_cast<int>(costs.size()) == window || call + 1 == quietCalls) {
            const double m = median(costs);
            worst = std::max(worst, m / loudMedian);
            std::printf("  silence %3.0f s:   median %.0f us per block (%.2fx)\n",
                        static_cast<double>(call + 1) * block / kRate, m, m / loudMedian);
            costs.clear();
        }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    const bool ok = worst <= 2.0;
    std::printf("silence: worst ratio %.2f: %s\n", worst, ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 3600.0;
    double loud = 30.0;
    double quiet = 60.0;
    unsigned seed = 1;
    bool silenceMode = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            seed = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (arg == "--loud" && hasValue) {
            loud = std::atof(argv[++i]);
        } else if (arg == "--quiet" && hasValue) {
            quiet = std::atof(argv[++i]);
        } else if (arg == "--silence") {
            silenceMode = true;
        } else {
            std::fprintf(stderr,
                         "usage: veltrano_soak [--seconds N] [--seed S] | --silence [--loud N] "
                         "[--quiet M]\n");
            return 2;
        }
    }
    return silenceMode ? silence(loud, quiet) : soak(seconds, seed);
}
