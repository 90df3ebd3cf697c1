// Hosts ask the plug-in about itself from their user-interface thread at any time: parameter
// names, labels and display strings for their generic editors, values, arrangements, the
// latency. These queries meet the audio thread, which meanwhile writes the tracked hum
// frequency back. Meant to run under ThreadSanitizer (the test script's Concurrency.* run).
#include "host/VstHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace {

TEST(Concurrency, HostQueriesWhileProcessing) {
    VstHost host(VELTRANO_PLUGIN_PATH);
    AEffect* effect = host.open();
    ASSERT_NE(effect, nullptr);
    host.setSampleRate(48000.0f);
    host.dispatch(effMainsChanged, 0, 1);
    for (VstInt32 index = 20; index < 30; ++index) {
        host.setParameter(index, 1.0f); // hum tracking on: the audio thread writes back
    }
    const int latency = effect->initialDelay;
    const float startFrequency = host.getParameter(34);

    std::atomic<bool> done{false};
    std::atomic<long> queries{0};
    std::atomic<bool> sane{true};
    std::thread ui([&] {
        char text[256];
        VstSpeakerArrangement* in = nullptr;
        VstSpeakerArrangement* out = nullptr;
        while (!done.load()) {
            for (VstInt32 index = 0; index < 40; ++index) {
                host.dispatch(effGetParamName, index, 0, text);
                host.dispatch(effGetParamLabel, index, 0, text);
                host.dispatch(effGetParamDisplay, index, 0, text);
                host.dispatch(effCanBeAutomated, index);
                host.dispatch(effGetParameterProperties, index, 0, text);
                const float value = host.getParameter(index);
                if (!(value >= 0.0f && value <= 1.0f)) {
                    sane = false;
                }
            }
            host.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out);
            host.dispatch(effGetProgram);
            host.dispatch(effGetProgramName, 0, 0, text);
            host.dispatch(effGetVendorString, 0, 0, text);
            host.dispatch(effGetTailSize);
            host.dispatch(effCanDo, 0, 0, const_cast<char*>("bypass"));
            if (effect->initialDelay != latency) {
                sane = false;
            }
            queries.fetch_add(1);
        }
    });

    // A hum a little off 60 Hz under noise, so that the tracker moves the frequency.
    std::vector<float> left(512);
    std::vector<float> right(512);
    std::uint32_t state = 1;
    bool finite = true;
    for (int call = 0; call < 800; ++call) {
        for (std::size_t n = 0; n < left.size(); ++n) {
            const double t = static_cast<double>(call * 512 + static_cast<int>(n)) / 48000.0;
            state = state * 1664525u + 1013904223u;
            const float noise = static_cast<float>(static_cast<std::int32_t>(state)) * 2.0e-11f;
            left[n] = static_cast<float>(0.1 * std::sin(2.0 * std::numbers::pi * 59.7 * t)) + noise;
            right[n] = left[n];
        }
        float* io[2] = {left.data(), right.data()};
        host.processReplacing(io, io, 512);
        for (std::size_t n = 0; n < left.size(); ++n) {
            finite = finite && std::isfinite(left[n]) && std::isfinite(right[n]);
        }
    }
    done = true;
    ui.join();
    EXPECT_TRUE(finite);
    EXPECT_TRUE(sane.load()) << "a value outside [0, 1] or a latency change was seen";
    EXPECT_GT(queries.load(), 0);
    EXPECT_NE(host.getParameter(34), startFrequency) << "the tracker never wrote back";
}

} // namespace
