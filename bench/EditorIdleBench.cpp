// What the open editor costs: the plug-in binary loaded by the test host, its editor in a real
// X window with both spectra on (turned on by synthetic clicks), an audio thread processing
// 512-frame blocks at 44.1 kHz in real time and the user-interface thread calling the idle at
// 30 Hz, as hosts do. Prints each thread's processor time as a share of one core.
//
// Needs an X server with the XTEST extension (run it under xvfb-run); the plug-in's path is the
// first argument (the built one by default), the seconds to run the second (10).
#include "x11/EditorWindowHarness.h"

#include "plugin/Parameters.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;
constexpr double kIdleRate = 30.0; // Hz

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A 60 Hz hum with harmonics, tones at syllable rate and noise: both traces move.
void programme(std::vector<float>& left, std::vector<float>& right, long long& n,
               std::mt19937& random) {
    std::normal_distribution<float> noise(0.0f, 0.02f);
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    for (std::size_t i = 0; i < left.size(); ++i) {
        const double t = static_cast<double>(n++) / kRate;
        const double hum = 0.15 * std::sin(kTwoPi * 60.0 * t) + 0.05 * std::sin(kTwoPi * 180.0 * t);
        const double voice =
            (0.5 + 0.5 * std::sin(kTwoPi * 4.0 * t)) *
            (0.12 * std::sin(kTwoPi * 220.0 * t) + 0.06 * std::sin(kTwoPi * 1200.0 * t));
        left[i] = static_cast<float>(hum + voice) + noise(random);
        right[i] = left[i];
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string plugin = argc > 1 ? argv[1] : VELTRANO_PLUGIN_PATH;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;

    EditorWindowHarness harness(plugin);
    if (const std::string why = harness.connect(); !why.empty()) {
        std::fprintf(stderr, "EditorIdleBench: %s (run it under xvfb-run)\n", why.c_str());
        return 1;
    }
    if (!harness.startPlugin(static_cast<float>(kRate), kBlock) || !harness.createHostWindow() ||
        !harness.openEditor()) {
        std::fprintf(stderr, "EditorIdleBench: cannot load %s or open its editor\n",
                     plugin.c_str());
        return 1;
    }
    harness.host.setParameter(kHumFilter, 1.0f); // so the output differs from the input
    // Input and Output on, each click waited for until the server shows its lamp changed.
    for (const Area& button : {kInputButton, kOutputButton}) {
        if (!harness.clickUntilChanged(button)) {
            std::fprintf(stderr, "EditorIdleBench: the spectrum button at y %d did not switch\n",
                         button.y());
            return 1;
        }
    }

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    double audioCpu = 0.0;
    std::thread audio([&] {
        std::vector<float> inLeft(kBlock), inRight(kBlock), outLeft(kBlock), outRight(kBlock);
        float* inputs[2] = {inLeft.data(), inRight.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        std::mt19937 random(3);
        long long n = 0;
        const auto period = std::chrono::duration<double>(kBlock / kRate);
        const double start = threadSeconds();
        auto due = std::chrono::steady_clock::now();
        while (!stop.load()) {
            programme(inLeft, inRight, n, random);
            harness.host.processReplacing(inputs, outputs, kBlock);
            blocks.fetch_add(1);
            due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
            std::this_thread::sleep_until(due);
        }
        audioCpu = threadSeconds() - start;
    });

    const auto begin = std::chrono::steady_clock::now();
    const double guiStart = threadSeconds();
    const auto period = std::chrono::duration<double>(1.0 / kIdleRate);
    auto due = begin;
    long idles = 0;
    while (std::chrono::steady_clock::now() - begin < std::chrono::duration<double>(seconds)) {
        harness.host.dispatch(effEditIdle);
        ++idles;
        due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
        std::this_thread::sleep_until(due);
    }
    const double guiCpu = threadSeconds() - guiStart;
    stop = true;
    audio.join();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // The traces were live: rows of the spectrum view holding the input's (yellow) and the
    // output's (blue) colour.
    const gui::Surface view = harness.grab(231, 66, 337, 100);
    int inputRows = 0;
    int outputRows = 0;
    for (int y = 0; y < view.height(); ++y) {
        const gui::Pixel* row = view.data() + y * view.width();
        inputRows += std::count(row, row + view.width(), 0xFFFF00u) > 0 ? 1 : 0;
        outputRows += std::count(row, row + view.width(), 0x0000FFu) > 0 ? 1 : 0;
    }
    harness.closeEditor();

    const double audioSeconds = static_cast<double>(blocks.load()) * kBlock / kRate;
    std::printf("editor idle at %.0f Hz for %.1f s, Input and Output on, %ld blocks of %d frames\n",
                kIdleRate, wall, blocks.load(), kBlock);
    std::printf("  GUI thread:   %.3f s CPU = %.2f %% of one core, %.3f ms per idle\n", guiCpu,
                100.0 * guiCpu / wall, 1000.0 * guiCpu / static_cast<double>(idles));
    std::printf("  audio thread: %.3f s CPU = %.2f %% of one core (%.1f s of audio, %.2f %% of "
                "real time)\n",
                audioCpu, 100.0 * audioCpu / wall, audioSeconds, 100.0 * audioCpu / audioSeconds);
    std::printf("  traces shown at the end: input on %d rows, output on %d rows\n", inputRows,
                outputRows);
    std::printf("  (the X server's own work, putting the images on screen, is not counted)\n");
    return 0;
}
