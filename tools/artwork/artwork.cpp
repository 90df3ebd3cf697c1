// artwork: paints the editor's skin, every bitmap from code, and writes them as PNG files.
//
//     artwork OUTPUT_FOLDER [DOCS_FOLDER]
//
// OUTPUT_FOLDER receives skin101.png ... skin115.png (the files committed in resources/skin).
// With DOCS_FOLDER the tool also writes the pictures of the documentation there: a copy of each
// bitmap (skin-101.png ...), a labelled, enlarged contact sheet of the control bitmaps
// (skin-sheet.png) and the editor as it opens (editor-layout.png), drawn by the toolkit's own
// controls at their editor rectangles, which is how the painted labels and scales are checked
// against the controls.
//
// Look: a calm charcoal instrument. A title banner on top, six raised panels with a one-pixel
// light bevel, off-white bold captions, grey labels and scales, one warm accent (the banner
// rule, the slider index line, the pressed rocker arrows). Lamps are dull when off and
// saturated, with a glow, when lit.
//
// Everything is integer or exactly rounded arithmetic (no transcendental functions), so the
// same bytes come out on every run.

#include "gui/Bitmap.h"
#include "gui/Controls.h"
#include "gui/DrawContext.h"
#include "gui/Font.h"
#include "gui/Png.h"
#include "gui/Surface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using gui::Color;
using gui::DrawContext;
using gui::Font;
using gui::FontWeight;
using gui::Point;
using gui::Rect;
using gui::Surface;
using gui::TextAlign;

// Palette.
constexpr Color kGap{26, 28, 31};        // window between the panels
constexpr Color kPanel{43, 46, 50};      // panel face; also the tracks' ground
constexpr Color kBevelLight{86, 91, 97}; // top and left edge of a raised surface
constexpr Color kBevelDark{16, 17, 19};  // bottom and right edge
constexpr Color kOutline{14, 15, 17};    // outline of the small bitmaps
constexpr Color kCaption{238, 235, 228}; // panel captions
constexpr Color kLabel{198, 202, 207};   // control labels
constexpr Color kScaleText{150, 156, 163};
constexpr Color kTick{122, 128, 135};
constexpr Color kAccent{224, 164, 70}; // warm amber
constexpr Color kMagenta{255, 0, 255}; // transparent colour of the slider handle

// Slider geometry shared by every slider of the editor.
constexpr int kTravel = 31;       // iMaxPos - iMinPos
constexpr int kHandleHeight = 24; // bitmap 102
constexpr int kHandleIndex = 11;  // the handle's index line covers rows 11 and 12

struct Fonts {
    Font title{FontWeight::Bold, 26};
    Font subtitle{FontWeight::Normal, 12};
    Font caption{FontWeight::Bold, 12};
    Font heading{FontWeight::Bold, 11};
    Font label{FontWeight::Normal, 11};
    Font small{FontWeight::Normal, 10};
    Font normal{FontWeight::Normal, 12}; // the toolkit's normal text field font
};

// ---------------------------------------------------------------------------------------------
// Pixel helpers

// a + (b - a) · t / 256, rounded; t in 0 ... 256.
Color mix(Color a, Color b, int t) {
    const auto channel = [t](int x, int y) {
        return static_cast<std::uint8_t>((x * (256 - t) + y * t + 128) >> 8);
    };
    return {channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue)};
}

// Blends `c` over the pixel with coverage `alpha` 0 ... 256; outside the surface nothing.
void blend(Surface& s, int x, int y, Color c, int alpha) {
    if (x < 0 || y < 0 || x >= s.width() || y >= s.height() || alpha <= 0) {
        return;
    }
    s.pixel(x, y) = mix(s.color(x, y), c, std::min(alpha, 256)).pixel();
}

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

int toAlpha(double coverage) {
    return static_cast<int>(std::lround(clamp01(coverage) * 256.0));
}

// Fraction of the pixel (x, y) inside the circle, from 8 × 8 samples (exact binary fractions).
double discCoverage(int x, int y, double cx, double cy, double r) {
    int inside = 0;
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i) {
            const double dx = x + (2 * i + 1) / 16.0 - cx;
            const double dy = y + (2 * j + 1) / 16.0 - cy;
            inside += dx * dx + dy * dy <= r * r ? 1 : 0;
        }
    }
    return inside / 64.0;
}

// Paints a disc whose colour depends on the distance of the pixel centre from the centre.
void disc(Surface& s, double cx, double cy, double r, const std::function<Color(double)>& shade,
          double opacity = 1.0) {
    const int x0 = static_cast<int>(std::floor(cx - r));
    const int x1 = static_cast<int>(std::ceil(cx + r));
    const int y0 = static_cast<int>(std::floor(cy - r));
    const int y1 = static_cast<int>(std::ceil(cy + r));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double coverage = discCoverage(x, y, cx, cy, r);
            if (coverage > 0.0) {
                const double dx = x + 0.5 - cx;
                const double dy = y + 0.5 - cy;
                blend(s, x, y, shade(std::sqrt(dx * dx + dy * dy)), toAlpha(coverage * opacity));
            }
        }
    }
}

struct PointF {
    double x;
    double y;
};

// An anti-aliased stroke of `width` pixels along the polyline.
void stroke(Surface& s, const std::vector<PointF>& points, double width, Color c,
            const Rect& area) {
    const double half = width / 2.0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            double nearest = 1e9;
            for (std::size_t i = 1; i < points.size(); ++i) {
                const PointF a = points[i - 1];
                const PointF b = points[i];
                const double vx = b.x - a.x;
                const double vy = b.y - a.y;
                const double length2 = vx * vx + vy * vy;
                const double t =
                    length2 > 0.0 ? clamp01(((px - a.x) * vx + (py - a.y) * vy) / length2) : 0.0;
                const double dx = px - (a.x + t * vx);
                const double dy = py - (a.y + t * vy);
                nearest = std::min(nearest, std::sqrt(dx * dx + dy * dy));
            }
            blend(s, x, y, c, toAlpha(half + 0.5 - nearest));
        }
    }
}

// Rows top ... bottom - 1 of `r` shaded from `top` to `bottom`.
void gradient(Surface& s, const Rect& r, Color top, Color bottom) {
    DrawContext dc(s);
    const int rows = std::max(1, r.bottom - r.top - 1);
    for (int y = r.top; y < r.bottom; ++y) {
        dc.fillRect({r.left, y, r.right, y + 1}, mix(top, bottom, (y - r.top) * 256 / rows));
    }
}

// A raised (or, pressed, sunken) button face filling `r`, outlined.
void buttonFace(Surface& s, const Rect& r, bool pressed) {
    DrawContext dc(s);
    const Rect inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    if (pressed) {
        gradient(s, inner, {40, 43, 47}, {50, 53, 58});
        dc.fillRect({inner.left, inner.top, inner.right, inner.top + 1}, {24, 26, 28});
        dc.fillRect({inner.left, inner.top, inner.left + 1, inner.bottom}, {24, 26, 28});
    } else {
        gradient(s, inner, {84, 89, 96}, {56, 60, 65});
        dc.fillRect({inner.left, inner.top, inner.right, inner.top + 1}, {116, 122, 129});
        dc.fillRect({inner.left, inner.top, inner.left + 1, inner.bottom - 1}, {98, 104, 111});
        dc.fillRect({inner.left, inner.bottom - 1, inner.right, inner.bottom}, {38, 41, 45});
        dc.fillRect({inner.right - 1, inner.top, inner.right, inner.bottom}, {38, 41, 45});
    }
    dc.frameRect(r, kOutline);
}

// 0 ... 1 eased in and out.
double smooth(double t) {
    return t * t * (3.0 - 2.0 * t);
}

// sin(x) from its Taylor series after reduction to -pi ... pi (exactly rounded operations only).
double sine(double x) {
    constexpr double kPi = 3.14159265358979323846;
    x = std::fmod(x, 2.0 * kPi);
    if (x > kPi) {
        x -= 2.0 * kPi;
    } else if (x < -kPi) {
        x += 2.0 * kPi;
    }
    double term = x;
    double sum = x;
    for (int n = 1; n < 12; ++n) {
        term *= -x * x / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

// ---------------------------------------------------------------------------------------------
// Control bitmaps

// 102: the slider handle, a rounded metal cap with an amber index line across rows 11 and 12.
Surface paintHandle() {
    Surface s(14, kHandleHeight, kMagenta);
    DrawContext dc(s);
    gradient(s, {1, 1, 13, 23}, {214, 217, 221}, {142, 147, 153});
    // Grip grooves above and below the index.
    for (int row : {4, 7, 16, 19}) {
        dc.fillRect({3, row, 11, row + 1}, {112, 117, 123});
        dc.fillRect({3, row + 1, 11, row + 2}, {226, 229, 232});
    }
    dc.fillRect({1, kHandleIndex, 13, kHandleIndex + 1}, kAccent);
    dc.fillRect({1, kHandleIndex + 1, 13, kHandleIndex + 2}, {186, 126, 40});
    // Outline with the corners cut, so the magenta shows there.
    dc.fillRect({1, 0, 13, 1}, kOutline);
    dc.fillRect({1, 23, 13, 24}, kOutline);
    dc.fillRect({0, 1, 1, 23}, kOutline);
    dc.fillRect({13, 1, 14, 23}, kOutline);
    dc.fillRect({1, 1, 13, 2}, {240, 242, 244}); // top highlight
    return s;
}

// 103 and 110: a slider track, a sunken slot on the panel's ground. The slot's centre lies
// under the handle's centre (columns 5-8 of 15; the handle is drawn at column 0).
Surface paintTrack(Color slot) {
    Surface s(15, 56, kPanel);
    DrawContext dc(s);
    const Rect r{5, 5, 9, 51};
    dc.fillRect(r, slot);
    dc.fillRect({r.left, r.top, r.right, r.top + 1}, {8, 9, 10});
    dc.fillRect({r.left, r.top, r.left + 1, r.bottom}, {8, 9, 10});
    dc.fillRect({r.left, r.bottom - 1, r.right, r.bottom}, kBevelLight);
    dc.fillRect({r.right - 1, r.top + 1, r.right, r.bottom}, kBevelLight);
    return s;
}

struct LampColors {
    Color dull; // lens when off
    Color lit;  // lens rim when on
    Color core; // lens centre when on
};

// 106, 108, 109: a square button with a round lamp, off above, lit below.
Surface paintLampButton(const LampColors& colors) {
    Surface s(20, 40, kPanel);
    for (int state = 0; state < 2; ++state) {
        const int top = state * 20;
        buttonFace(s, {0, top, 20, top + 20}, false);
        const double cx = 10.0;
        const double cy = top + 10.0;
        const bool on = state == 1;
        if (on) {
            // Glow on the face around the lens, fading out by the button's edge.
            for (int y = top + 1; y < top + 19; ++y) {
                for (int x = 1; x < 19; ++x) {
                    const double dx = x + 0.5 - cx;
                    const double dy = y + 0.5 - cy;
                    const double d = std::sqrt(dx * dx + dy * dy);
                    const double fade = clamp01(1.0 - (d - 5.5) / 4.0);
                    blend(s, x, y, colors.lit, toAlpha(0.55 * fade * fade));
                }
            }
        }
        disc(s, cx, cy, 6.5, [](double) { return Color{20, 21, 23}; }); // bezel
        if (on) {
            disc(s, cx, cy, 5.0, [&colors](double d) {
                return mix(colors.core, colors.lit, static_cast<int>(clamp01(d / 5.0) * 256));
            });
        } else {
            disc(s, cx, cy, 5.0, [&colors](double d) {
                return mix(colors.dull, mix(colors.dull, gui::kBlack, 110),
                           static_cast<int>(clamp01(d / 5.0) * 256));
            });
        }
        // Specular highlight on the lens.
        disc(
            s, cx - 1.6, cy - 1.8, 1.7, [](double) { return gui::kWhite; }, on ? 0.6 : 0.22);
    }
    return s;
}

// 107: the rocker, 3 sub-images 12 × 18: up pressed, at rest, down pressed.
Surface paintRocker() {
    Surface s(12, 54, kPanel);
    DrawContext dc(s);
    for (int state = 0; state < 3; ++state) {
        const int top = state * 18;
        for (int half = 0; half < 2; ++half) {
            const bool pressed = (state == 0 && half == 0) || (state == 2 && half == 1);
            const Rect face{0, top + half * 8, 12, top + half * 8 + 10};
            buttonFace(s, face, pressed);
            const Color arrow = pressed ? kAccent : Color{214, 218, 222};
            const int shift = pressed ? 1 : 0;
            // Arrow rows: 3 rows, widths 2, 4, 6, centred on columns 5 and 6.
            for (int i = 0; i < 3; ++i) {
                const int row = half == 0 ? top + 3 + i : top + 14 - i;
                dc.fillRect({5 - i, row + shift, 7 + i, row + shift + 1}, arrow);
            }
        }
        dc.frameRect({0, top, 12, top + 18}, kOutline);
    }
    return s;
}

// 111, 112: a push button with its caption, up above, pressed below.
Surface paintTextButton(int width, std::string_view text, const Fonts& fonts) {
    Surface s(width, 42, kPanel);
    DrawContext dc(s);
    for (int state = 0; state < 2; ++state) {
        const int top = state * 21;
        const bool pressed = state == 1;
        buttonFace(s, {0, top, width, top + 21}, pressed);
        const int shift = pressed ? 1 : 0;
        dc.drawText(text, {shift, top + shift, width + shift, top + 21 + shift}, fonts.heading,
                    pressed ? Color{214, 210, 200} : Color{240, 238, 232});
    }
    return s;
}

// 113, 114, 115: a push button with an equalizer curve; `curve` maps 0 ... 1 across the icon
// to 0 (bottom) ... 1 (top).
Surface paintCurveButton(const std::function<double(double)>& curve) {
    Surface s(28, 42, kPanel);
    for (int state = 0; state < 2; ++state) {
        const int top = state * 21;
        const bool pressed = state == 1;
        buttonFace(s, {0, top, 28, top + 21}, pressed);
        const double shift = pressed ? 1.0 : 0.0;
        std::vector<PointF> points;
        for (int i = 0; i <= 48; ++i) {
            const double t = i / 48.0;
            points.push_back({6.0 + 16.0 * t + shift, top + 15.0 - 9.0 * curve(t) + shift});
        }
        stroke(s, points, 1.7, pressed ? Color{232, 178, 92} : Color{236, 234, 228},
               {2, top + 2, 26, top + 19});
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// The editor's layout: where the controls sit (editor pixels) and how they open.

enum class Kind { Slider, OnOff, Kick, Rocker, Text };

struct Control {
    Kind kind;
    Rect rect;
    int bitmap;              // id; the track for a slider
    int minPos = 0;          // slider: iMinPos (iMaxPos = minPos + kTravel)
    float value = 0.0f;      // initial value
    std::string text;        // text field: initial text
    bool normalFont = false; // text field: the normal font rather than the smaller one
};

Control control(Kind kind, const Rect& rect, int bitmap, int minPos = 0, float value = 0.0f,
                std::string text = {}, bool normalFont = false) {
    return {kind, rect, bitmap, minPos, value, std::move(text), normalFont};
}

std::vector<Control> editorControls() {
    std::vector<Control> c;
    for (int i = 0; i < 20; ++i) {
        c.push_back(control(Kind::Slider, {45 + 20 * i, 357, 60 + 20 * i, 413}, 103, 357, 1.0f));
    }
    const auto onOff = [&c](int x, int y, int bitmap) {
        c.push_back(control(Kind::OnOff, {x, y, x + 22, y + 21}, bitmap, 0, 0.0f));
    };
    onOff(8, 107, 106);   // Auto-Normalize
    onOff(8, 145, 106);   // 200 Hz HPF
    onOff(93, 94, 109);   // Input
    onOff(93, 115, 108);  // Output
    onOff(93, 141, 106);  // Max Peak
    onOff(93, 162, 106);  // Freeze
    onOff(8, 191, 106);   // Hum Filter
    onOff(16, 227, 106);  // Auto-Tracking
    onOff(215, 223, 106); // Predictable
    onOff(215, 251, 106); // Reverb
    onOff(395, 223, 106); // Random
    onOff(395, 251, 106); // Aggressive
    onOff(8, 312, 106);   // Equalizer
    onOff(480, 312, 106); // AGC
    c.push_back(control(Kind::Kick, {465, 40, 523, 61}, 111));
    c.push_back(control(Kind::Kick, {528, 40, 569, 61}, 112));
    c.push_back(control(Kind::Kick, {9, 362, 37, 383}, 113));
    c.push_back(control(Kind::Kick, {9, 386, 37, 407}, 114));
    c.push_back(control(Kind::Kick, {9, 410, 37, 431}, 115));
    c.push_back(control(Kind::Slider, {174, 224, 189, 280}, 110, 224, 0.0f));
    c.push_back(control(Kind::Slider, {362, 224, 377, 280}, 110, 224, 0.0f));
    c.push_back(control(Kind::Slider, {536, 224, 551, 280}, 110, 224, 0.0f));
    c.push_back(control(Kind::Slider, {544, 351, 559, 407}, 110, 351, 1.0f / 6.0f));
    c.push_back(control(Kind::Rocker, {167, 126, 179, 144}, 107, 0, 4.0f));
    c.push_back(control(Kind::Rocker, {25, 270, 37, 288}, 107));
    c.push_back(control(Kind::Rocker, {16, 340, 28, 358}, 107));
    c.push_back(control(Kind::Text, {179, 126, 219, 144}, 0, 0, 0.0f, "4", true));
    c.push_back(control(Kind::Text, {37, 270, 72, 288}, 0, 0, 0.0f, "60.0 Hz"));
    c.push_back(control(Kind::Text, {166, 283, 191, 295}, 0, 0, 0.0f, "60.0"));
    c.push_back(control(Kind::Text, {354, 283, 379, 295}, 0, 0, 0.0f, "100%"));
    c.push_back(control(Kind::Text, {528, 283, 553, 295}, 0, 0, 0.0f, "100%"));
    for (int i = 0; i < 20; ++i) {
        c.push_back(control(Kind::Text, {44 + 20 * i, 417, 62 + 20 * i, 429}, 0, 0, 0.0f, "0"));
    }
    c.push_back(control(Kind::Text, {538, 411, 563, 423}, 0, 0, 0.0f, "10.0"));
    return c;
}

// The handle's top row for a value, as the slider places it.
int handleTop(int minPos, double value) {
    return minPos + static_cast<int>(std::lround((1.0 - value) * kTravel));
}

// ---------------------------------------------------------------------------------------------
// 101: the background

constexpr Rect kBanner{0, 0, 576, 61};
constexpr Rect kInputPanel{3, 63, 87, 185};
constexpr Rect kSpectrumPanel{89, 63, 573, 185};
constexpr Rect kHumPanel{3, 187, 206, 299};
constexpr Rect kNoisePanel{208, 187, 573, 299};
constexpr Rect kEqualizerPanel{3, 301, 474, 467};
constexpr Rect kAgcPanel{476, 301, 573, 467};
constexpr Rect kSpectrumView{231, 66, 568, 181};

void panel(DrawContext& dc, const Rect& r) {
    dc.fillRect(r, kPanel);
    dc.fillRect({r.left, r.top, r.right, r.top + 1}, kBevelLight);
    dc.fillRect({r.left, r.top, r.left + 1, r.bottom}, kBevelLight);
    dc.fillRect({r.left + 1, r.bottom - 1, r.right, r.bottom}, kBevelDark);
    dc.fillRect({r.right - 1, r.top + 1, r.right, r.bottom}, kBevelDark);
}

// A panel caption, vertically centred on row boundary `centre`, followed by an etched rule
// up to column `ruleEnd`.
void caption(DrawContext& dc, const Fonts& f, std::string_view text, int x, int centre,
             int ruleEnd) {
    const int width = gui::textWidth(text, f.caption);
    dc.drawText(text, {x, centre - 6, x + width, centre + 6}, f.caption, kCaption, TextAlign::Left);
    const int from = x + width + 6;
    dc.fillRect({from, centre, ruleEnd, centre + 1}, kBevelDark);
    dc.fillRect({from, centre + 1, ruleEnd, centre + 2}, {60, 64, 69});
}

// A label in the 11-pixel font centred on row boundary `centre`.
void label(DrawContext& dc, const Fonts& f, std::string_view text, int x, int centre,
           TextAlign align = TextAlign::Left, const Font* font = nullptr, Color color = kLabel) {
    const Font& use = font != nullptr ? *font : f.label;
    const int width = gui::textWidth(text, use);
    const int h = use.height();
    const int left = align == TextAlign::Left ? x : x - width;
    dc.drawText(text, {left, centre - h / 2, left + width, centre - h / 2 + h}, use, color,
                TextAlign::Left);
}

// The label beside an on/off button whose 20 × 20 image has its top-left corner at (x, y).
void switchLabel(DrawContext& dc, const Fonts& f, std::string_view text, int x, int y,
                 const Font* font = nullptr, Color color = kLabel) {
    label(dc, f, text, x + 25, y + 10, TextAlign::Left, font, color);
}

// Scale ticks for a slider's travel: marks at values 1, 3/4, 1/2, 1/4, 0, each two rows high
// on the rows of the handle's index line; the ends and the middle longer. Columns x0 ... x1 - 1
// for a long mark; a short one keeps the `shortSide` end.
void ticks(DrawContext& dc, int minPos, int x0, int x1, bool shortAtRight) {
    for (int q = 0; q <= 4; ++q) {
        const int row = handleTop(minPos, (4 - q) / 4.0) + kHandleIndex;
        const bool major = q % 2 == 0;
        const int length = major ? x1 - x0 : std::max(1, (x1 - x0) / 2);
        const int left = shortAtRight ? x1 - length : x0;
        dc.fillRect({left, row, left + length, row + 2}, major ? kTick : Color{96, 101, 107});
    }
}

// Scale texts (top, middle, bottom) right-aligned at column `right`, centred on the marks.
void scaleTexts(DrawContext& dc, const Fonts& f, int minPos, int right,
                const std::array<std::string_view, 3>& texts, TextAlign align = TextAlign::Right) {
    for (int i = 0; i < 3; ++i) {
        const int centre = handleTop(minPos, 1.0 - i / 2.0) + kHandleIndex + 1;
        label(dc, f, texts[static_cast<std::size_t>(i)], right, centre, align, &f.small,
              kScaleText);
    }
}

// A panel slider's scale on its left and its heading above it, right-aligned with the slider.
void panelSliderScale(DrawContext& dc, const Fonts& f, const Rect& slider, int minPos,
                      const std::array<std::string_view, 3>& texts, std::string_view heading) {
    ticks(dc, minPos, slider.left - 6, slider.left - 2, true);
    scaleTexts(dc, f, minPos, slider.left - 8, texts);
    label(dc, f, heading, slider.right, slider.top - 7, TextAlign::Right, &f.label, kLabel);
}

// The panels and the spectrum view's well: everything of the background but its markings.
void paintGround(Surface& s) {
    DrawContext dc(s);

    // Title banner.
    gradient(s, kBanner, {58, 62, 68}, {30, 32, 36});
    dc.fillRect({0, 61, 576, 62}, {150, 108, 44});
    dc.fillRect({0, 62, 576, 63}, {12, 13, 14});
    for (const Rect& r :
         {kInputPanel, kSpectrumPanel, kHumPanel, kNoisePanel, kEqualizerPanel, kAgcPanel}) {
        panel(dc, r);
    }

    const Rect well{kSpectrumView.left - 1, kSpectrumView.top - 1, kSpectrumView.right + 1,
                    kSpectrumView.bottom + 1};
    dc.fillRect(well, {8, 9, 10});
    dc.fillRect({well.left + 1, well.bottom - 1, well.right, well.bottom}, kBevelLight);
    dc.fillRect({well.right - 1, well.top + 1, well.right, well.bottom}, kBevelLight);
    dc.fillRect(kSpectrumView, gui::kBlack);
}

// The markings: title, captions, labels, rules and scales.
void paintMarkings(Surface& s, const Fonts& f) {
    DrawContext dc(s);
    const int titleWidth = gui::textWidth("Veltrano", f.title);
    dc.drawText("Veltrano", {14, 5, 14 + titleWidth, 33}, f.title, {242, 240, 234},
                TextAlign::Left);
    dc.drawText("VST", {14 + titleWidth + 7, 5, 200, 33}, f.title, kAccent, TextAlign::Left);
    dc.drawText("Forensic Audio Restoration", {15, 35, 300, 49}, f.subtitle, {166, 172, 180},
                TextAlign::Left);
    dc.drawText("Brimwater", {400, 9, 569, 23}, f.caption, {206, 210, 215}, TextAlign::Right);
    // A faint trace across the banner: a noisy signal that comes out clean.
    {
        std::vector<PointF> trace;
        unsigned noise = 12345;
        for (int x = 232; x <= 440; ++x) {
            noise = noise * 1103515245u + 12345u;
            const double t = (x - 232) / 208.0;
            const double hiss = ((noise >> 16) & 0x7FFF) / 32767.0 - 0.5;
            const double dirt = (1.0 - smooth(clamp01(t * 1.6))) * 9.0 * hiss;
            const double window = smooth(clamp01(t * 6.0)) * smooth(clamp01((1.0 - t) * 6.0));
            trace.push_back({x + 0.5, 28.0 + window * (8.0 * sine(t * 26.0) + dirt)});
        }
        stroke(s, trace, 1.1, {88, 94, 102}, {228, 10, 446, 46});
    }

    // Input.
    caption(dc, f, "Input", 8, 76, kInputPanel.right - 6);
    label(dc, f, "Auto-Normalize", 8, 99);
    label(dc, f, "200 Hz HPF", 8, 137);

    // Spectrum: switches on the left; the view covers its black well on the right.
    caption(dc, f, "Spectrum", 93, 76, kSpectrumView.left - 8);
    switchLabel(dc, f, "Input", 93, 94);
    switchLabel(dc, f, "Output", 93, 115);
    switchLabel(dc, f, "Max Peak", 93, 141);
    switchLabel(dc, f, "Freeze", 93, 162);
    label(dc, f, "Averaging", 167, 118);
    // Hum Filter.
    caption(dc, f, "Hum Filter", 33, 201, kHumPanel.right - 6);
    switchLabel(dc, f, "Auto-Tracking", 16, 227);
    label(dc, f, "Frequency", 76, 279);
    panelSliderScale(dc, f, {174, 224, 189, 280}, 224, {"0 dB", "30 dB", "60 dB"}, "Attenuation");

    // Adaptive Noise Reduction: PREDICTABLE and RANDOM halves.
    caption(dc, f, "Adaptive Noise Reduction", 215, 201, kNoisePanel.right - 6);
    dc.fillRect({387, 214, 388, 295}, kBevelDark);
    dc.fillRect({388, 214, 389, 295}, {60, 64, 69});
    switchLabel(dc, f, "PREDICTABLE", 215, 223, &f.heading, kCaption);
    switchLabel(dc, f, "Reverb", 215, 251);
    panelSliderScale(dc, f, {362, 224, 377, 280}, 224, {"0%", "50%", "100%"}, "Attenuation");
    switchLabel(dc, f, "RANDOM", 395, 223, &f.heading, kCaption);
    switchLabel(dc, f, "Aggressive", 395, 251);
    panelSliderScale(dc, f, {536, 224, 551, 280}, 224, {"0%", "50%", "100%"}, "Attenuation");

    // 20-Band Graphic Equalizer: band captions over the sliders, marks between them, the scale
    // on the right.
    caption(dc, f, "20-Band Graphic Equalizer", 33, 322, kEqualizerPanel.right - 6);
    static constexpr std::array<std::string_view, 20> kBands = {
        "80",   "240",  "400",  "560",  "720",  "880",  "1.0k", "1.2k", "1.4k", "1.6k",
        "1.8k", "2.2k", "2.6k", "3.0k", "3.5k", "4.0k", "4.5k", "5.0k", "5.5k", "6.0k"};
    for (int i = 0; i < 20; ++i) {
        dc.drawText(kBands[static_cast<std::size_t>(i)], {42 + 20 * i, 344, 62 + 20 * i, 354},
                    f.small, kLabel, TextAlign::Center);
    }
    label(dc, f, "Hz", 446, 349, TextAlign::Left, &f.small, kLabel);
    // Marks in the gaps before band 0 and between the bands; the scale's texts stand in the
    // gap after band 19.
    for (int i = 0; i < 20; ++i) {
        const int gapLeft = 40 + 20 * i; // columns 40 ... 44 before band i
        ticks(dc, 357, gapLeft + 1, gapLeft + 4, false);
    }
    scaleTexts(dc, f, 357, 444, {"0 dB", "-15 dB", "-30 dB"}, TextAlign::Left);

    // AGC.
    caption(dc, f, "AGC", 505, 322, kAgcPanel.right - 6);
    panelSliderScale(dc, f, {544, 351, 559, 407}, 351, {"60 dB", "30 dB", "0 dB"}, "Max Gain");
}

Surface paintBackground(const Fonts& f) {
    Surface s(576, 470, kGap);
    paintGround(s);
    paintMarkings(s, f);
    return s;
}

// True when no marking lies under a control or the spectrum view: inside their rectangles the
// background is exactly the bare ground.
bool markingsClearOfControls(const Surface& background) {
    Surface ground(576, 470, kGap);
    paintGround(ground);
    std::vector<Rect> covered = {kSpectrumView};
    for (const Control& c : editorControls()) {
        covered.push_back(c.rect);
    }
    bool clear = true;
    for (const Rect& r : covered) {
        for (int y = r.top; y < r.bottom; ++y) {
            for (int x = r.left; x < r.right; ++x) {
                if (background.pixel(x, y) != ground.pixel(x, y)) {
                    std::fprintf(stderr, "artwork: marking at (%d, %d) under a control\n", x, y);
                    clear = false;
                }
            }
        }
    }
    return clear;
}

// ---------------------------------------------------------------------------------------------
// Pictures

gui::Bitmap toBitmap(const Surface& s) {
    gui::Bitmap b(s.width(), s.height());
    for (int y = 0; y < s.height(); ++y) {
        for (int x = 0; x < s.width(); ++x) {
            b.setPixel(x, y, s.color(x, y));
        }
    }
    return b;
}

// The editor as it opens: the background with every control drawn by the toolkit.
Surface paintEditor(const std::map<int, Surface>& skin, const Fonts& f) {
    std::map<int, gui::Bitmap> bitmaps;
    for (const auto& [id, surface] : skin) {
        bitmaps.emplace(id, toBitmap(surface));
    }
    Surface s = skin.at(101);
    DrawContext dc(s);
    for (const Control& c : editorControls()) {
        std::unique_ptr<gui::CControl> control;
        switch (c.kind) {
        case Kind::Slider:
            control = std::make_unique<gui::CVerticalSlider>(c.rect, nullptr, 0, c.minPos,
                                                             c.minPos + kTravel, &bitmaps.at(102),
                                                             &bitmaps.at(c.bitmap));
            break;
        case Kind::OnOff:
            control =
                std::make_unique<gui::COnOffButton>(c.rect, nullptr, 0, &bitmaps.at(c.bitmap));
            break;
        case Kind::Kick:
            control = std::make_unique<gui::CKickButton>(c.rect, nullptr, 0, &bitmaps.at(c.bitmap));
            break;
        case Kind::Rocker:
            control =
                std::make_unique<gui::CRockerSwitch>(c.rect, nullptr, 0, &bitmaps.at(c.bitmap));
            break;
        case Kind::Text:
            control = std::make_unique<gui::CTextEdit>(
                c.rect, nullptr, 0, c.text, c.normalFont ? f.normal : f.small, TextAlign::Right);
            break;
        }
        control->setValue(c.value);
        dc.setClip(c.rect);
        control->draw(dc);
    }
    return s;
}

// The control bitmaps enlarged three times, each with its id, on the window's colour.
Surface paintContactSheet(const std::map<int, Surface>& skin, const Fonts& f) {
    constexpr int kScale = 3;
    constexpr int kMargin = 16;
    const std::vector<std::vector<int>> rows = {{102, 103, 110, 106, 108, 109, 107},
                                                {111, 112, 113, 114, 115}};
    int width = 0;
    int height = kMargin;
    for (const auto& row : rows) {
        int w = kMargin;
        int h = 0;
        for (int id : row) {
            w += skin.at(id).width() * kScale + kMargin;
            h = std::max(h, skin.at(id).height() * kScale);
        }
        width = std::max(width, w);
        height += h + 18 + kMargin;
    }
    Surface s(width, height, kGap);
    DrawContext dc(s);
    int y = kMargin;
    for (const auto& row : rows) {
        int x = kMargin;
        int h = 0;
        for (int id : row) {
            const Surface& b = skin.at(id);
            for (int by = 0; by < b.height() * kScale; ++by) {
                for (int bx = 0; bx < b.width() * kScale; ++bx) {
                    s.pixel(x + bx, y + by) = b.pixel(bx / kScale, by / kScale);
                }
            }
            const int w = b.width() * kScale;
            dc.drawText(
                std::to_string(id),
                {x - 8, y + b.height() * kScale + 3, x + w + 8, y + b.height() * kScale + 17},
                f.caption, kCaption, TextAlign::Center);
            x += w + kMargin;
            h = std::max(h, b.height() * kScale);
        }
        y += h + 18 + kMargin;
    }
    return s;
}

bool write(const Surface& s, const std::filesystem::path& path) {
    if (!gui::writePng(s, path)) {
        std::fprintf(stderr, "artwork: cannot write %s\n", path.string().c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: artwork OUTPUT_FOLDER [DOCS_FOLDER]\n");
        return 2;
    }
    const Fonts fonts;
    std::map<int, Surface> skin;
    skin.emplace(101, paintBackground(fonts));
    if (!markingsClearOfControls(skin.at(101))) {
        return 1;
    }
    skin.emplace(102, paintHandle());
    skin.emplace(103, paintTrack({22, 24, 27}));
    skin.emplace(106, paintLampButton({{40, 64, 44}, {40, 214, 86}, {214, 255, 200}}));
    skin.emplace(107, paintRocker());
    skin.emplace(108, paintLampButton({{38, 50, 74}, {44, 128, 255}, {200, 228, 255}}));
    skin.emplace(109, paintLampButton({{74, 68, 36}, {250, 206, 30}, {255, 250, 200}}));
    skin.emplace(110, paintTrack({18, 19, 21}));
    skin.emplace(111, paintTextButton(58, "Report", fonts));
    skin.emplace(112, paintTextButton(41, "Help", fonts));
    skin.emplace(113, paintCurveButton([](double) { return 0.5; }));
    // Low cut: rising from the bottom to the top by two thirds across, then flat.
    skin.emplace(114, paintCurveButton([](double t) { return smooth(std::min(1.0, t * 1.5)); }));
    skin.emplace(115,
                 paintCurveButton([](double t) { return smooth(std::min(1.0, (1.0 - t) * 1.5)); }));

    const std::filesystem::path output = argv[1];
    std::error_code ignored;
    std::filesystem::create_directories(output, ignored);
    bool ok = true;
    for (const auto& [id, surface] : skin) {
        ok = write(surface, output / ("skin" + std::to_string(id) + ".png")) && ok;
    }
    if (argc == 3) {
        const std::filesystem::path docs = argv[2];
        std::filesystem::create_directories(docs, ignored);
        for (const auto& [id, surface] : skin) {
            ok = write(surface, docs / ("skin-" + std::to_string(id) + ".png")) && ok;
        }
        ok = write(paintContactSheet(skin, fonts), docs / "skin-sheet.png") && ok;
        ok = write(paintEditor(skin, fonts), docs / "editor-layout.png") && ok;
    }
    return ok ? 0 : 1;
}
