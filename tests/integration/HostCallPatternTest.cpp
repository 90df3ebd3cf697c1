// What Ardour does around a render: it resumes twice in a row and changes the block size
// between suspend and resume, before and in the middle of a stream. None of it may change a
// sample of the output.
#include "host/VstHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

std::vector<float> render(bool ardourPattern) {
    VstHost host(VELTRANO_PLUGIN_PATH);
    EXPECT_NE(host.open(), nullptr);
    host.setSampleRate(48000.0f);
    auto suspendResume = [&](VstIntPtr blockSize) {
        if (ardourPattern) {
            host.dispatch(effMainsChanged, 0, 0);
            host.dispatch(effSetBlockSize, 0, blockSize);
            host.dispatch(effMainsChanged, 0, 1);
            host.dispatch(effMainsChanged, 0, 1);
        }
    };
    suspendResume(1024);
    for (VstInt32 index = 20; index < 30; ++index) {
        host.setParameter(index, 1.0f);
    }
    constexpr int kFrames = 48000 * 2;
    std::vector<float> left(kFrames);
    std::vector<float> right(kFrames);
    for (int n = 0; n < kFrames; ++n) {
        const double t = n / 48000.0;
        left[static_cast<std::size_t>(n)] =
            static_cast<float>(0.2 * std::sin(2.0 * 3.14159265 * 220.0 * t) +
                               0.05 * std::sin(2.0 * 3.14159265 * 60.0 * t));
        right[static_cast<std::size_t>(n)] = 0.5f * left[static_cast<std::size_t>(n)];
    }
    std::vector<float> out(kFrames);
    std::vector<float> outRight(kFrames);
    for (int pos = 0; pos < kFrames; pos += 1000) {
        if (pos == 40000) {
            suspendResume(8192); // in the middle of the stream
        }
        float* in[2] = {left.data() + pos, right.data() + pos};
        float* outs[2] = {out.data() + pos, outRight.data() + pos};
        host.processReplacing(in, outs, std::min(1000, kFrames - pos));
    }
    return out;
}

TEST(HostCallPattern, SuspendBlockSizeAndDoubleResumeChangeNothing) {
    const std::vector<float> plain = render(false);
    const std::vector<float> ardour = render(true);
    ASSERT_EQ(plain.size(), ardour.size());
    std::size_t differing = 0;
    for (std::size_t n = 0; n < plain.size(); ++n) {
        differing += plain[n] != ardour[n] ? 1 : 0;
    }
    EXPECT_EQ(differing, 0u);
    double energy = 0.0;
    for (float x : plain) {
        energy += static_cast<double>(x) * x;
    }
    EXPECT_GT(energy, 1.0); // the signal came through
}

} // namespace
