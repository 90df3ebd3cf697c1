#include "resources/Skin.h"
#include "gui/Controls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace {

struct Expected {
    int id;
    int width;
    int subWidth;
    int subHeight;
    int subImages;
};

// The editor's bitmap table.
const std::vector<Expected> kTable = {
    {101, 576, 576, 470, 1}, {102, 14, 14, 24, 1}, {103, 15, 15, 56, 1}, {106, 20, 20, 20, 2},
    {107, 12, 12, 18, 3},    {108, 20, 20, 20, 2}, {109, 20, 20, 20, 2}, {110, 15, 15, 56, 1},
    {111, 58, 58, 21, 2},    {112, 41, 41, 21, 2}, {113, 28, 28, 21, 2}, {114, 28, 28, 21, 2},
    {115, 28, 28, 21, 2}};

bool sameSubImages(const gui::Bitmap& b, int height, int first, int second) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < b.width(); ++x) {
            if (b.pixel(x, first * height + y) != b.pixel(x, second * height + y)) {
                return false;
            }
        }
    }
    return true;
}

int saturation(gui::Color c) {
    return std::max({c.red, c.green, c.blue}) - std::min({c.red, c.green, c.blue});
}

} // namespace

TEST(Skin, EveryBitmapHasTheSizeAndSubImagesOfTheTable) {
    ASSERT_EQ(skin::bitmaps().size(), kTable.size());
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        const Expected& e = kTable[i];
        SCOPED_TRACE(e.id);
        const skin::BitmapInfo& info = skin::bitmaps()[i];
        EXPECT_EQ(info.id, e.id);
        EXPECT_EQ(info.width, e.width);
        EXPECT_EQ(info.height, e.subHeight * e.subImages);
        EXPECT_EQ(info.subImages, e.subImages);
        const gui::Bitmap b = skin::bitmap(e.id);
        EXPECT_EQ(b.width(), e.subWidth);
        EXPECT_EQ(b.height(), e.subHeight * e.subImages);
        // Every state looks different from every other.
        for (int first = 0; first < e.subImages; ++first) {
            for (int second = first + 1; second < e.subImages; ++second) {
                EXPECT_FALSE(sameSubImages(b, e.subHeight, first, second)) << first << second;
            }
        }
    }
}

TEST(Skin, UnknownIdsThrow) {
    for (int id : {0, 100, 104, 105, 116}) {
        EXPECT_THROW(skin::bitmap(id), std::out_of_range) << id;
    }
}

TEST(Skin, HandleIsTransparentOnlyAroundItsShape) {
    const gui::Bitmap handle = skin::bitmap(skin::kSliderHandle);
    constexpr gui::Color kTransparent = gui::CVerticalSlider::kHandleTransparent;
    EXPECT_EQ(handle.pixel(0, 0), kTransparent);
    EXPECT_EQ(handle.pixel(13, 23), kTransparent);
    for (int y = 1; y < 23; ++y) {
        for (int x = 1; x < 13; ++x) {
            ASSERT_NE(handle.pixel(x, y), kTransparent) << x << "," << y;
        }
    }
}

TEST(Skin, LampsAreDullWhenOffAndSaturatedWhenLit) {
    for (int id : {skin::kGreenLampButton, skin::kBlueLampButton, skin::kYellowLampButton}) {
        const gui::Bitmap b = skin::bitmap(id);
        // On the lens, between its centre and its rim.
        const gui::Color off = b.pixel(13, 10);
        const gui::Color on = b.pixel(13, 30);
        EXPECT_LT(saturation(off), 60) << id;
        EXPECT_GT(saturation(on), 120) << id;
    }
    const gui::Color green = skin::bitmap(skin::kGreenLampButton).pixel(13, 30);
    const gui::Color blue = skin::bitmap(skin::kBlueLampButton).pixel(13, 30);
    const gui::Color yellow = skin::bitmap(skin::kYellowLampButton).pixel(13, 30);
    EXPECT_GT(green.green, std::max(green.red, green.blue));
    EXPECT_GT(blue.blue, std::max(blue.red, blue.green));
    EXPECT_GT(std::min(yellow.red, yellow.green), yellow.blue + 100);
}

TEST(Skin, SpectrumAreaOfTheBackgroundIsBlack) {
    const gui::Bitmap background = skin::bitmap(skin::kBackground);
    for (int y = 66; y < 181; ++y) {
        for (int x = 231; x < 568; ++x) {
            ASSERT_EQ(background.pixel(x, y), gui::kBlack) << x << "," << y;
        }
    }
}
