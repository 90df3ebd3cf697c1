// The spectrum display as the editor configures it, drawn into memory: frame, labels, readouts,
// traces and markers at their pixels, the maximum, and the cursor set by clicks.
#include "analyzer/SpectrumAnalyzer.h"

#include "gui/Surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr gui::Rect kView{231, 66, 568, 181};
constexpr gui::Color kYellow{255, 255, 0};

struct Configured {
    SpectrumAnalyzer view{kView};
    Configured() {
        view.showCursor = true;
        view.setBarCount(1024);
        view.averaging = 4;
        view.lineGraph = true;
        view.sampleRate = 16000;
    }
    gui::Surface render() {
        gui::Surface surface(576, 470);
        gui::DrawContext context(surface);
        view.draw(context);
        return surface;
    }
};

gui::Color at(const gui::Surface& s, int x, int y) {
    return gui::Color::fromPixel(s.pixel(x, y));
}

// True when `box` of `s` shows exactly `text` in `colour` as drawText puts it there on black.
bool showsText(const gui::Surface& s, const std::string& text, const gui::Rect& box,
               gui::Color colour, gui::TextAlign align) {
    gui::Surface expected(576, 470);
    gui::DrawContext context(expected);
    context.fillRect(box, gui::kBlack);
    context.drawText(text, box, gui::Font(gui::FontWeight::Normal, 11), colour, align);
    int ink = 0;
    for (int y = box.top; y < box.bottom; ++y) {
        for (int x = box.left; x < box.right; ++x) {
            if (s.pixel(x, y) != expected.pixel(x, y)) {
                return false;
            }
            ink += expected.pixel(x, y) != 0 ? 1 : 0;
        }
    }
    return ink > 0;
}

std::vector<float> sine(double hz, double amplitude, int count) {
    std::vector<float> x(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        x[static_cast<std::size_t>(n)] =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hz * n / 16000.0));
    }
    return x;
}

TEST(SpectrumAnalyzer, IdleViewShowsFrameLabelsReadoutsAndTracesOnTheFloor) {
    Configured c;
    c.view.maxPeak = true;
    EXPECT_EQ(c.view.displayedBins(), 860);
    const gui::Surface s = c.render();
    const int left = kView.left, top = kView.top, right = kView.right, bottom = kView.bottom;
    for (auto [x, y] :
         {std::pair{left, top}, {right - 1, top}, {left, bottom - 17}, {right - 1, bottom - 17}}) {
        EXPECT_EQ(at(s, x, y), gui::kWhite) << x << "," << y;
    }
    EXPECT_EQ(at(s, left + 100, bottom - 16), gui::kBlack); // the label strip is open
    const auto strip = [&](int from, int to) { return gui::Rect{from, bottom - 12, to, bottom}; };
    // Too wide for its 20 columns, the lowest frequency starts at the plot's edge and the
    // maximum readout after it.
    const int lowest = gui::Font(gui::FontWeight::Normal, 11).textWidth("7.8125");
    EXPECT_TRUE(showsText(s, "7.8125", strip(left + 2, left + 2 + lowest), gui::kWhite,
                          gui::TextAlign::Left));
    EXPECT_TRUE(
        showsText(s, " 6718.75Hz", strip(right - 100, right), gui::kWhite, gui::TextAlign::Right));
    EXPECT_TRUE(showsText(s, "Max:-96.0dB,7.8Hz ", strip(left + 6 + lowest, left + 138),
                          {0, 255, 0}, gui::TextAlign::Center));
    EXPECT_TRUE(showsText(s, "-96.0dB,7.8Hz ", strip(left + 138, right - 100), {255, 0, 0},
                          gui::TextAlign::Center));
    // The input trace on the -96 dB line, from the left edge to the right one.
    for (int x : {left + 2, left + 100, left + 336}) {
        EXPECT_EQ(at(s, x, top + 96), kYellow) << x;
    }
    EXPECT_EQ(c.view.rowOf(0.0f), top - 4);
    // Markers: the maximum (bin 1) in green, the cursor (bin 1) in red one column left of it.
    const int x = c.view.columnOf(0);
    EXPECT_EQ(at(s, x, top + 50), (gui::Color{0, 255, 0}));
    EXPECT_EQ(at(s, x - 1, top + 50), (gui::Color{255, 0, 0}));
}

TEST(SpectrumAnalyzer, AOneKilohertzSineMovesTheTraceAndTheMaximumToItsBin) {
    Configured c;
    const std::vector<float> tone = sine(1000.0, 0.5, 2048);
    c.view.feed(2048, tone.data(), nullptr);
    c.view.onIdle();
    // A quarter of the way from -96 dB per block.
    const float target = 20.0f * std::log10(0.5f * 0.42f);
    EXPECT_NEAR(c.view.traceOf(false)[128], -96.0f + (target + 96.0f) / 4.0f, 0.1f);
    for (int block = 0; block < 40; ++block) {
        c.view.feed(2048, tone.data(), nullptr);
        c.view.onIdle();
    }
    EXPECT_EQ(c.view.maxBin, 128); // 1000 Hz / 7.8125 Hz
    EXPECT_NEAR(c.view.maxLevel, target, 0.05f);
    const gui::Surface s = c.render();
    // The trace's highest point lies on bin 128's column.
    int highest = kView.bottom;
    int column = 0;
    for (int x = kView.left; x < kView.right; ++x) {
        for (int y = kView.top - 4; y < kView.top + 97; ++y) {
            if (at(s, x, y) == kYellow && y < highest) {
                highest = y;
                column = x;
            }
        }
    }
    EXPECT_EQ(column, c.view.columnOf(128 - 1));
    EXPECT_EQ(highest, c.view.rowOf(c.view.traceOf(false)[128]));

    // A block shorter than a chunk changes no trace but renews the maximum.
    const std::vector<float> before = c.view.traceOf(false);
    c.view.maxBin = 0;
    c.view.feed(100, tone.data(), nullptr);
    c.view.onIdle();
    EXPECT_EQ(c.view.traceOf(false), before);
    EXPECT_EQ(c.view.maxBin, 128);
}

TEST(SpectrumAnalyzer, WithBothTracesTheLargerPeakIsTheMaximum) {
    const std::vector<float> soft = sine(2000.0, 0.1, 2048); // bin 256
    const std::vector<float> loud = sine(3000.0, 0.5, 2048); // bin 384
    for (const bool outputLouder : {false, true}) {
        Configured c;
        c.view.displayMode = 2;
        const std::vector<float>& in = outputLouder ? soft : loud;
        const std::vector<float>& out = outputLouder ? loud : soft;
        c.view.feed(2048, in.data(), out.data());
        c.view.onIdle();
        EXPECT_EQ(c.view.maxBin, 384) << outputLouder;
        c.view.lineGraph = false; // then the input's peak
        c.view.feed(0, in.data(), out.data());
        c.view.onIdle();
        EXPECT_EQ(c.view.maxBin, outputLouder ? 256 : 384);
    }
}

TEST(SpectrumAnalyzer, ClicksMoveTheCursorInsideThePlotOnly) {
    Configured c;
    const auto click = [&](int column, int row) {
        c.view.cursorBin = -5;
        c.view.mouse({kView.left + column, kView.top + row});
        return c.view.cursorBin;
    };
    EXPECT_EQ(click(1, 50), -5); // the two leftmost columns
    EXPECT_EQ(click(2, 50), 3);  // the lowest bin a click selects
    EXPECT_EQ(click(335, 50), 858);
    EXPECT_EQ(click(336, 50), -5); // the rightmost column
    EXPECT_EQ(click(100, 2), -5);  // the top three rows
    EXPECT_EQ(click(100, 3), click(100, 112));
    EXPECT_EQ(click(100, 113), -5); // the bottom two rows
    EXPECT_EQ(click(100, 200), -5); // outside
}

} // namespace
