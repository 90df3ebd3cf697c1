// Pixels of the software draw context: shapes, clipping, bitmaps, text and PNG output.
#include "gui/DrawContext.h"
#include "gui/Png.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

using namespace gui;

namespace {

constexpr Color kRed{255, 0, 0};
constexpr Color kGreen{0, 255, 0};
constexpr Color kBlue{0, 0, 255};

// The pixels that differ from `background`, as a bounding rectangle (empty if none) and count.
struct Ink {
    Rect bounds{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    int count = 0;
};
Ink inkOf(const Surface& s, Color background = kBlack) {
    Ink ink;
    for (int y = 0; y < s.height(); ++y) {
        for (int x = 0; x < s.width(); ++x) {
            if (s.color(x, y) != background) {
                ink.bounds = {std::min(ink.bounds.left, x), std::min(ink.bounds.top, y),
                              std::max(ink.bounds.right, x + 1),
                              std::max(ink.bounds.bottom, y + 1)};
                ++ink.count;
            }
        }
    }
    return ink;
}

} // namespace

TEST(DrawContext, FillAndFrameCoverExactlyTheirRectangles) {
    Surface s(20, 20);
    DrawContext dc(s);
    dc.fillRect({2, 3, 7, 5}, kRed);
    Ink ink = inkOf(s);
    EXPECT_EQ(ink.bounds, (Rect{2, 3, 7, 5}));
    EXPECT_EQ(ink.count, 10);

    s.fill(kBlack);
    dc.frameRect({10, 10, 15, 14}, kWhite);
    ink = inkOf(s);
    EXPECT_EQ(ink.bounds, (Rect{10, 10, 15, 14}));
    EXPECT_EQ(ink.count, 2 * 5 + 2 * 2);
    EXPECT_EQ(s.color(12, 12), kBlack);
}

TEST(DrawContext, LinesDrawBothEndsAndOnePixelPerMajorStep) {
    Surface forward(12, 12);
    DrawContext(forward).line({1, 1}, {9, 4}, kWhite);
    EXPECT_EQ(forward.color(1, 1), kWhite);
    EXPECT_EQ(forward.color(9, 4), kWhite);
    EXPECT_EQ(forward.color(5, 3), kWhite); // 1 + 4 · 3/8 = 2.5 rounds up
    EXPECT_EQ(inkOf(forward).count, 9);

    Surface backward(12, 12);
    DrawContext(backward).line({9, 4}, {1, 1}, kWhite);
    EXPECT_EQ(std::vector<Pixel>(backward.data(), backward.data() + 144),
              std::vector<Pixel>(forward.data(), forward.data() + 144));

    Surface steep(12, 12);
    DrawContext(steep).line({3, 10}, {4, 0}, kWhite);
    EXPECT_EQ(inkOf(steep).count, 11);
    EXPECT_EQ(inkOf(steep).bounds, (Rect{3, 0, 5, 11}));
}

TEST(DrawContext, PolylineJoinsItsPoints) {
    Surface s(10, 10);
    DrawContext dc(s);
    const Point points[] = {{1, 1}, {6, 1}, {6, 7}};
    dc.polyline(points, kGreen);
    EXPECT_EQ(inkOf(s).count, 6 + 6);
    for (Point p : points) {
        EXPECT_EQ(s.color(p.x, p.y), kGreen);
    }
}

TEST(DrawContext, NothingIsDrawnOutsideTheClipWhateverTheCoordinates) {
    Surface s(40, 30);
    DrawContext dc(s);
    dc.setOrigin({-100, 50});
    dc.setClip({110, -45, 130, -30}); // surface (10, 5) … (30, 20)
    EXPECT_EQ(dc.surfaceClip(), (Rect{10, 5, 30, 20}));

    const Bitmap bitmap(50, 50, kBlue);
    const Font font(FontWeight::Bold, 12);
    dc.fillRect({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, kRed);
    dc.frameRect({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, kGreen);
    dc.line({INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}, kGreen);
    dc.drawBitmap(bitmap, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MIN, INT_MAX});
    dc.drawBitmap(bitmap, {-10, -10, 60, 60}, {115, -40});
    dc.drawText("Wide text 0123456789", {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, font, kWhite);
    dc.fillRect({130, -30, 110, -45}, kWhite); // inverted: empty
    EXPECT_EQ(inkOf(s).bounds, (Rect{10, 5, 30, 20}));

    // A line far longer than 32 bits keeps its exact course: the diagonal through (0, 0).
    s.fill(kBlack);
    dc.setOrigin({0, 0});
    dc.setClip({-1000, -1000, 1000, 1000});
    dc.line({INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, kWhite);
    EXPECT_EQ(inkOf(s).count, 30);
    EXPECT_EQ(s.color(29, 29), kWhite);
}

TEST(DrawContext, BitmapsAreCutFromStripsAndSkipTheTransparentColour) {
    Bitmap strip(4, 8, kRed); // two 4 × 4 images, the lower one green with one blue pixel
    for (int y = 4; y < 8; ++y) {
        for (int x = 0; x < 4; ++x) {
            strip.setPixel(x, y, x == 2 && y == 5 ? kBlue : kGreen);
        }
    }
    Surface s(20, 20, kWhite);
    DrawContext dc(s);
    dc.drawBitmap(strip, {0, 4, 4, 8}, {10, 10});
    EXPECT_EQ(inkOf(s, kWhite).bounds, (Rect{10, 10, 14, 14}));
    EXPECT_EQ(s.color(12, 11), kBlue);
    EXPECT_EQ(s.color(13, 13), kGreen);

    s.fill(kWhite);
    dc.drawBitmap(strip, {0, 4, 4, 8}, {10, 10}, kBlue);
    EXPECT_EQ(s.color(12, 11), kWhite);
    EXPECT_EQ(inkOf(s, kWhite).count, 15);

    // A source reaching past the bitmap draws only its part, where that part belongs.
    s.fill(kWhite);
    dc.drawBitmap(strip, {-2, 6, 2, 12}, {0, 0});
    EXPECT_EQ(inkOf(s, kWhite).bounds, (Rect{2, 0, 4, 2}));
}

TEST(DrawContext, TextLiesInItsBoxAsAligned) {
    const Font font(FontWeight::Normal, 11);
    const Rect box{10, 5, 110, 25};
    for (TextAlign align : {TextAlign::Left, TextAlign::Center, TextAlign::Right}) {
        SCOPED_TRACE(static_cast<int>(align));
        Surface s(120, 30);
        DrawContext(s).drawText("7.8125", box, font, kWhite, align);
        const Rect ink = inkOf(s).bounds;
        EXPECT_EQ(ink.intersect(box), ink);
        EXPECT_GE(ink.height(), 7); // digits are about 8 pixels tall at 11
        EXPECT_LE(ink.height(), 9);
        EXPECT_LE(std::abs((ink.top - box.top) - (box.bottom - ink.bottom)), 3);
        const long long left = ink.left - box.left;
        const long long right = box.right - ink.right;
        if (align == TextAlign::Left) {
            EXPECT_LE(left, 2);
        } else if (align == TextAlign::Center) {
            EXPECT_LE(std::abs(left - right), 2);
        } else {
            EXPECT_LE(right, 2);
        }
    }
    // Clipped to a box smaller than the text.
    Surface s(120, 30);
    DrawContext(s).drawText("7.8125", {10, 5, 20, 25}, font, kWhite, TextAlign::Left);
    EXPECT_EQ(inkOf(s).bounds.intersect({10, 5, 20, 25}), inkOf(s).bounds);
    EXPECT_GT(inkOf(s).count, 0);
}

TEST(DrawContext, TextWidthFollowsArialMetricsAtCellHeight) {
    const Font regular(FontWeight::Normal, 11);
    // H 1479 and z 1024 of 2288 font units a cell: 7.11 and 4.92 pixels.
    EXPECT_EQ(textWidth("Hz", regular), 12);
    EXPECT_EQ(textWidth("Hz", Font(FontWeight::Normal, 11)), 12);
    EXPECT_EQ(textWidth("7.8125", regular), 5 * 5 + 3); // digits 5.48, the point 2.74
    EXPECT_GT(textWidth("Hz", Font(FontWeight::Bold, 11)), 0);
    EXPECT_EQ(textWidth("", regular), 0);
    // UTF-8: é is a cached Latin-1 glyph; a code point beyond it is drawn as '?'.
    EXPECT_EQ(textWidth("\xC3\xA9", regular), regular.glyph(0xE9).advance);
    EXPECT_EQ(textWidth("\xE2\x82\xAC", regular), textWidth("?", regular));
    EXPECT_EQ(textWidth("\xC3", regular), textWidth("?", regular));
}

TEST(DrawContext, TextPixelsAreTheSameOnEveryBuild) {
    // A change here means the rasteriser or the blending changed: the Windows and Linux
    // builds must agree on this value.
    Surface s(80, 16, Color{20, 40, 60});
    DrawContext(s).drawText("-42.3dB,1000.0Hz", {0, 0, 80, 16}, Font(FontWeight::Normal, 11),
                            Color{255, 200, 100});
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (int i = 0; i < s.width() * s.height(); ++i) {
        hash = (hash ^ s.data()[i]) * 1099511628211ULL;
    }
    EXPECT_EQ(hash, 11009485659321392522ULL);
}

TEST(Png, WritesAPngFile) {
    Surface s(7, 5, kRed);
    const std::vector<std::uint8_t> png = encodePng(s);
    const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GE(png.size(), 8U + 25 + 12 + 12); // signature, IHDR, IDAT, IEND
    EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));
    EXPECT_LT(png.size(), 200U);

    const auto path = std::filesystem::temp_directory_path() / "veltrano-gui-test.png";
    ASSERT_TRUE(writePng(s, path));
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> written{std::istreambuf_iterator<char>(file), {}};
    std::filesystem::remove(path);
    EXPECT_EQ(written, png);
    EXPECT_FALSE(writePng(Surface(0, 3), path));
}
