#include "gui/Controls.h"
#include "gui/Frame.h"
#include "gui/HeadlessWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace gui;

namespace {

constexpr Color kRed{255, 0, 0};
constexpr Color kGreen{0, 200, 0};
constexpr Color kBlue{0, 0, 200};
constexpr Color kGrey{90, 90, 90};

// Sub-images of `width` × `height`, one colour each, stacked top to bottom.
Bitmap stack(int width, int height, std::vector<Color> colors) {
    Bitmap b(width, height * static_cast<int>(colors.size()));
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < width; ++x) {
            b.setPixel(x, y, colors[static_cast<std::size_t>(y / height)]);
        }
    }
    return b;
}

struct Recorder : CControlListener {
    void valueChanged(CControl* c) override {
        values.push_back(c->value());
        events.push_back("changed");
    }
    void beginEdit(int tag) override { events.push_back("begin " + std::to_string(tag)); }
    void endEdit(int tag) override { events.push_back("end " + std::to_string(tag)); }
    std::vector<float> values;
    std::vector<std::string> events;
};

// A frame on a grey background, with a slider at (10, 10, 25, 66) of travel 31 like the
// editor's: 15 × 56 green track, 14 × 24 red handle with one magenta pixel at (7, 12).
struct Fixture : ::testing::Test {
    Bitmap background{100, 100, kGrey};
    Bitmap track{15, 56, kGreen};
    Bitmap handle = [] {
        Bitmap b(14, 24, kRed);
        b.setPixel(7, 12, CVerticalSlider::kHandleTransparent);
        return b;
    }();
    Bitmap twoState = stack(4, 4, {kRed, kGreen});
    Bitmap threeState = stack(4, 4, {kRed, kGreen, kBlue});
    HeadlessWindow window;
    CFrame frame{100, 100, &background, &window};
    Recorder listener;
    CVerticalSlider* slider = frame.addView(std::make_unique<CVerticalSlider>(
        Rect{10, 10, 25, 66}, &listener, 7, 10, 41, &handle, &track));

    Color at(int x, int y) const { return frame.surface().color(x, y); }
    void click(Point p, int buttons = kLButton) {
        frame.mouseDown(p, buttons);
        frame.mouseUp(p, buttons);
    }
};

TEST_F(Fixture, SliderDrawsHandleAtTrackTopPlusTravelTimesOneMinusValue) {
    const float values[] = {1.0f, 0.5f, 0.0f};
    const int tops[] = {10, 26, 41}; // 0.5 · 31 = 15.5 rounds to 16
    frame.redrawAll();
    for (int i = 0; i < 3; ++i) {
        slider->setValue(values[i]);
        frame.idle();
        EXPECT_EQ(at(10, tops[i] - 1), tops[i] > 10 ? kGreen : kGrey) << values[i];
        EXPECT_EQ(at(10, tops[i]), kRed) << values[i];
        EXPECT_EQ(at(10, tops[i] + 23), kRed) << values[i];
        EXPECT_EQ(at(10, tops[i] + 24), kGreen) << values[i];
        EXPECT_EQ(at(17, tops[i] + 12), kGreen) << "magenta is transparent";
        EXPECT_EQ(at(24, tops[i]), kGreen) << "track column beside the handle";
    }
    slider->setValue(7.0f);
    EXPECT_EQ(slider->value(), 1.0f);
}

TEST_F(Fixture, SliderPressPutsHandleCentreUnderPointerAndFollowsDrag) {
    frame.mouseDown({15, 28}, kLButton); // handle top 16 → value 1 − 6/31
    EXPECT_FLOAT_EQ(slider->value(), 1.0f - 6.0f / 31.0f);
    frame.mouseMoved({90, 53}, kLButton); // off the track, still followed: top 41 → 0
    EXPECT_EQ(slider->value(), 0.0f);
    frame.mouseMoved({90, 99}, kLButton); // clamped, no change reported
    frame.mouseMoved({90, 0}, kLButton);
    EXPECT_EQ(slider->value(), 1.0f);
    frame.mouseUp({90, 0}, kLButton);
    EXPECT_EQ(listener.values.size(), 3u);
    EXPECT_EQ(listener.events.front(), "begin 7");
    EXPECT_EQ(listener.events.back(), "end 7");
    frame.idle();
    EXPECT_EQ(at(10, 10), kRed);
}

TEST_F(Fixture, SliderShiftMovesATenthAndCtrlClickSetsHalf) {
    slider->setValue(0.5f);
    frame.mouseDown({15, 40}, kLButton | kShift); // no jump
    EXPECT_EQ(slider->value(), 0.5f);
    frame.mouseMoved({15, 9}, kLButton | kShift); // 31 pixels up: a tenth of the travel
    EXPECT_FLOAT_EQ(slider->value(), 0.6f);
    frame.mouseUp({15, 9}, kLButton);

    slider->setValue(0.0f);
    listener.values.clear();
    frame.mouseDown({15, 60}, kLButton | kControl);
    frame.mouseMoved({15, 10}, kLButton | kControl); // the drag is ignored
    frame.mouseUp({15, 10}, kLButton);
    EXPECT_EQ(slider->value(), 0.5f);
    EXPECT_EQ(listener.values, std::vector<float>{0.5f});
}

TEST_F(Fixture, ListenerCanTakeModifierClicks) {
    struct Taker : Recorder {
        int controlModifierClicked(CControl*, int) override { return 1; }
    } taker;
    auto* button =
        frame.addView(std::make_unique<COnOffButton>(Rect{50, 0, 54, 4}, &taker, 1, &twoState));
    click({50, 0}, kLButton | kShift);
    EXPECT_EQ(button->value(), 0.0f);
    EXPECT_TRUE(taker.events.empty());
}

TEST_F(Fixture, OnOffButtonTogglesOncePerClickAndShowsItsSubImage) {
    auto* button =
        frame.addView(std::make_unique<COnOffButton>(Rect{50, 0, 56, 6}, &listener, 20, &twoState));
    frame.idle();
    EXPECT_EQ(at(51, 1), kRed);
    EXPECT_EQ(at(54, 1), kGrey) << "rect wider than the sub-image shows the background";
    click({55, 5});
    frame.idle();
    EXPECT_EQ(at(51, 1), kGreen);
    click({50, 0});
    EXPECT_EQ(listener.values, (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"begin 20", "changed", "end 20",
                                                         "begin 20", "changed", "end 20"}));
    button->setValue(0.25f); // any non-zero value shows "on"
    frame.idle();
    EXPECT_EQ(at(51, 1), kGreen);
}

TEST_F(Fixture, KickButtonIsOneWhilePressedOverIt) {
    auto* button =
        frame.addView(std::make_unique<CKickButton>(Rect{50, 0, 54, 4}, &listener, 40, &twoState));
    frame.mouseDown({51, 1}, kLButton);
    frame.idle();
    EXPECT_EQ(at(51, 1), kGreen);
    frame.mouseMoved({52, 2}, kLButton); // still over it: no change
    frame.mouseMoved({80, 2}, kLButton);
    frame.idle();
    EXPECT_EQ(at(51, 1), kRed);
    frame.mouseMoved({53, 3}, kLButton);
    frame.mouseUp({53, 3}, kLButton);
    EXPECT_EQ(listener.values, (std::vector<float>{1.0f, 0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(button->value(), 0.0f);
}

TEST_F(Fixture, RockerFollowsPointerHalvesAndShowsExactValues) {
    auto* rocker = frame.addView(
        std::make_unique<CRockerSwitch>(Rect{50, 0, 54, 4}, &listener, 42, &threeState));
    frame.idle();
    EXPECT_EQ(at(50, 0), kGreen); // 0: at rest
    frame.mouseDown({50, 1}, kLButton);
    frame.idle();
    EXPECT_EQ(at(50, 0), kRed); // −1: up pressed
    frame.mouseMoved({50, 2}, kLButton);
    frame.idle();
    EXPECT_EQ(at(50, 0), kBlue); // +1: down pressed
    frame.mouseMoved({50, 50}, kLButton);
    frame.mouseMoved({50, 3}, kLButton);
    frame.mouseUp({50, 3}, kLButton);
    EXPECT_EQ(listener.values, (std::vector<float>{-1.0f, 1.0f, 0.0f, 1.0f, 0.0f}));
    rocker->setValue(4.0f);
    frame.idle();
    EXPECT_EQ(at(50, 0), kRed);
}

TEST_F(Fixture, TextEditDrawsWhiteTextOnBlackAndReportsOnlyChangedCommits) {
    const Font font(FontWeight::Normal, 12);
    auto* field = frame.addView(
        std::make_unique<CTextEdit>(Rect{40, 70, 90, 90}, &listener, 39, "888", font));
    frame.idle();
    int bright = 0; // white text anti-aliased on black: grey levels, some of them high
    for (int y = 70; y < 90; ++y) {
        for (int x = 40; x < 90; ++x) {
            const Color c = at(x, y);
            ASSERT_TRUE(c.red == c.green && c.green == c.blue) << x << "," << y;
            bright += c.red > 150 ? 1 : 0;
            if (x == 40 || y == 70 || x == 89 || y == 89) {
                ASSERT_EQ(c, kBlack);
            }
        }
    }
    EXPECT_GT(bright, 5);

    click({60, 80});
    EXPECT_EQ(window.editedField(), field);
    EXPECT_TRUE(field->isEditing());
    field->commit("888");
    EXPECT_TRUE(listener.values.empty());
    field->commit(std::string(300, '4'));
    EXPECT_EQ(field->text(), std::string(255, '4'));
    EXPECT_EQ(listener.values.size(), 1u);
    field->setText("x\xC3\xA9"); // é must not be split at the limit
    EXPECT_EQ(field->text(), "x\xC3\xA9");
    field->commit(std::string(254, 'a') + "\xC3\xA9");
    EXPECT_EQ(field->text(), std::string(254, 'a'));
}

TEST_F(Fixture, FrameRedrawsDirtyViewsAtIdleAndOneViewOnRequest) {
    frame.redrawAll();
    EXPECT_EQ(window.presented(), std::vector<Rect>{frame.bounds()});
    window.clearPresented();
    frame.idle();
    EXPECT_TRUE(window.presented().empty()) << "nothing dirty";

    // A view over the slider is repainted when the slider is.
    auto* cover =
        frame.addView(std::make_unique<CKickButton>(Rect{10, 10, 14, 14}, &listener, 1, &twoState));
    slider->setValue(1.0f);
    frame.idle();
    slider->setValue(0.0f);
    window.clearPresented();
    frame.idle();
    EXPECT_EQ(window.presented(), std::vector<Rect>{slider->rect()});
    EXPECT_EQ(at(10, 10), kRed); // the cover, not the track
    EXPECT_EQ(at(10, 41), kRed); // the handle

    cover->setVisible(false);
    cover->invalid();
    EXPECT_FALSE(cover->isDirty());
    EXPECT_EQ(window.presented().back(), cover->rect());
    EXPECT_EQ(at(10, 10), kGreen);
    click({11, 11}); // a hidden view gets no mouse: the slider below does
    EXPECT_GT(slider->value(), 0.9f);
}

} // namespace
