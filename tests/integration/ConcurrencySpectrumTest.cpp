// The spectrum display fed from an audio thread while the GUI thread runs the frame's idle and
// draws: no data race (under ThreadSanitizer), and no block lost to the picture.
#include "analyzer/SpectrumAnalyzer.h"
#include "gui/Frame.h"
#include "gui/HeadlessWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

namespace {

constexpr gui::Rect kView{231, 66, 568, 181};

void configure(SpectrumAnalyzer& view) {
    view.showCursor = true;
    view.setBarCount(1024);
    view.averaging = 4;
    view.lineGraph = true;
    view.sampleRate = 16000;
    view.displayMode = 2;
}

std::vector<float> block(int index) {
    std::vector<float> x(2048);
    const double hz = 200.0 + 50.0 * index;
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n] = static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * hz * n / 16000.0));
    }
    return x;
}

TEST(Concurrency, SpectrumFedWhileTheFrameDraws) {
    constexpr int kBlocks = 120;
    std::vector<std::vector<float>> blocks;
    for (int i = 0; i < kBlocks; ++i) {
        blocks.push_back(block(i));
    }

    gui::HeadlessWindow window;
    gui::CFrame frame(576, 470, nullptr, &window);
    auto* view = frame.addView(std::make_unique<SpectrumAnalyzer>(kView));
    configure(*view);

    std::atomic<bool> drawing{false};
    std::atomic<bool> done{false};
    std::thread audio([&] {
        while (!drawing.load()) {
            std::this_thread::yield(); // the GUI thread's loop runs before the first block
        }
        for (const std::vector<float>& b : blocks) {
            view->feed(2048, b.data(), b.data());
        }
        done = true;
    });
    int idles = 0;
    while (!done.load()) {
        frame.idle();
        drawing = true;
        view->displayMode = ++idles % 3; // the editor's buttons meanwhile
        std::this_thread::yield();
    }
    audio.join();
    view->displayMode = 2;
    frame.idle();

    // Every block counted: the same traces as feeding them all on one thread.
    SpectrumAnalyzer alone(kView);
    configure(alone);
    for (const std::vector<float>& b : blocks) {
        alone.feed(2048, b.data(), b.data());
    }
    alone.onIdle();
    EXPECT_EQ(view->traceOf(false), alone.traceOf(false));
    EXPECT_EQ(view->traceOf(true), alone.traceOf(true));
    EXPECT_EQ(view->maxBin, alone.maxBin);
}

} // namespace
