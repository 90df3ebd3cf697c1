// Where threads meet: parameter changes from a user-interface thread while the audio thread
// processes (the chain also writes the tracked hum frequency back from the audio thread), and
// instances created and destroyed on several threads at once. Meant to run under
// ThreadSanitizer as well; without it the tests still check the results are sane.
#include "host/VstHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {

TEST(Concurrency, ParameterChangesWhileProcessing) {
    VstHost host(VELTRANO_PLUGIN_PATH);
    ASSERT_NE(host.open(), nullptr);
    host.setSampleRate(48000.0f);
    for (VstInt32 index = 20; index < 30; ++index) {
        host.setParameter(index, 1.0f);
    }
    std::atomic<bool> done{false};
    std::thread ui([&] {
        std::mt19937 random(17);
        std::uniform_int_distribution<VstInt32> index(0, 75);
        std::uniform_real_distribution<float> value(-0.2f, 1.2f);
        while (!done.load()) {
            const VstInt32 i = index(random);
            // Switches stay on so that every stage keeps running; everything else varies.
            if (i < 20 || i >= 30) {
                host.setParameter(i, value(random));
            }
            (void)host.getParameter(index(random));
        }
    });
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    std::vector<float> left(480);
    std::vector<float> right(480);
    bool finite = true;
    for (int call = 0; call < 1000; ++call) {
        for (std::size_t n = 0; n < left.size(); ++n) {
            left[n] = noise(random) + 0.2f * std::sin(0.0078f * static_cast<float>(call * 480 + n));
            right[n] = noise(random);
        }
        float* io[2] = {left.data(), right.data()};
        host.processReplacing(io, io, 480);
        for (std::size_t n = 0; n < left.size(); ++n) {
            finite = finite && std::isfinite(left[n]) && std::isfinite(right[n]);
        }
    }
    done = true;
    ui.join();
    EXPECT_TRUE(finite);
}

TEST(Concurrency, InstancesMadeAndEndedOnSeveralThreads) {
    auto work = [](int seed) {
        for (int i = 0; i < 8; ++i) {
            VstHost host(VELTRANO_PLUGIN_PATH);
            AEffect* effect = host.open();
            if (effect == nullptr) {
                ADD_FAILURE() << "no descriptor";
                return;
            }
            host.setSampleRate(i % 2 == 0 ? 44100.0f : 48000.0f);
            std::vector<float> buffer(7000, 0.01f * static_cast<float>(seed));
            float* io[2] = {buffer.data(), buffer.data()};
            host.processReplacing(io, io, 7000);
            host.close();
        }
    };
    std::thread a(work, 1);
    std::thread b(work, 2);
    work(3);
    a.join();
    b.join();
}

} // namespace
