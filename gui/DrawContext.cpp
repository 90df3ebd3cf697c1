#include "gui/DrawContext.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace gui {

namespace {

// `r` moved by `offset` and limited to `bounds`; empty when they do not overlap.
Rect moveAndLimit(const Rect& r, Point offset, const Rect& bounds) {
    const auto limit = [](long long v, int lo, int hi) {
        return static_cast<int>(std::clamp<long long>(v, lo, hi));
    };
    return {limit(static_cast<long long>(r.left) + offset.x, bounds.left, bounds.right),
            limit(static_cast<long long>(r.top) + offset.y, bounds.top, bounds.bottom),
            limit(static_cast<long long>(r.right) + offset.x, bounds.left, bounds.right),
            limit(static_cast<long long>(r.bottom) + offset.y, bounds.top, bounds.bottom)};
}

// i · rise / run rounded to the nearest integer, halves up, for 0 <= i, rise <= run < 2^33.
// The product can exceed 64 bits, so i is taken in two parts of 20 bits and the rest.
long long nearestStep(long long i, long long rise, long long run) {
    if (run == 0) {
        return 0;
    }
    const long long high = (i >> 20) * rise;
    const long long rest = ((high % run) << 20) + (i & 0xFFFFF) * rise;
    const long long quotient = ((high / run) << 20) + rest / run;
    return quotient + (2 * (rest % run) >= run ? 1 : 0);
}

Pixel blend(Pixel under, Color over, unsigned alpha) {
    const auto mix = [alpha](unsigned top, Pixel bottom) {
        return (top * alpha + (bottom & 0xFF) * (255 - alpha) + 127) / 255;
    };
    return (mix(over.red, under >> 16) << 16) | (mix(over.green, under >> 8) << 8) |
           mix(over.blue, under);
}

} // namespace

DrawContext::DrawContext(Surface& target)
    : target_(target), origin_{0, 0}, clip_{0, 0, target.width(), target.height()} {}

void DrawContext::setClip(const Rect& r) {
    clip_ = moveAndLimit(r, origin_, {0, 0, target_.width(), target_.height()});
}

Rect DrawContext::clipped(const Rect& r) const {
    return moveAndLimit(r, origin_, clip_);
}

void DrawContext::fillRect(const Rect& r, Color c) {
    const Rect s = clipped(r);
    for (int y = s.top; y < s.bottom; ++y) {
        for (int x = s.left; x < s.right; ++x) {
            target_.pixel(x, y) = c.pixel();
        }
    }
}

void DrawContext::frameRect(const Rect& r, Color c) {
    if (r.isEmpty()) {
        return;
    }
    fillRect({r.left, r.top, r.right, r.top + 1}, c);
    fillRect({r.left, r.bottom - 1, r.right, r.bottom}, c);
    fillRect({r.left, r.top, r.left + 1, r.bottom}, c);
    fillRect({r.right - 1, r.top, r.right, r.bottom}, c);
}

void DrawContext::line(Point from, Point to, Color c) {
    // Work along the longer ("major") axis in increasing order; only the steps whose major
    // coordinate lies inside the clip are visited, so a line of any length costs at most the
    // clip's extent.
    long long x0 = static_cast<long long>(from.x) + origin_.x;
    long long y0 = static_cast<long long>(from.y) + origin_.y;
    long long x1 = static_cast<long long>(to.x) + origin_.x;
    long long y1 = static_cast<long long>(to.y) + origin_.y;
    const bool steep = std::llabs(y1 - y0) > std::llabs(x1 - x0);
    if (steep) {
        std::swap(x0, y0);
        std::swap(x1, y1);
    }
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const long long run = x1 - x0;
    const long long rise = std::llabs(y1 - y0);
    const long long direction = y1 < y0 ? -1 : 1;
    const long long majorFirst = steep ? clip_.top : clip_.left;
    const long long majorEnd = steep ? clip_.bottom : clip_.right;
    const long long minorFirst = steep ? clip_.left : clip_.top;
    const long long minorEnd = steep ? clip_.right : clip_.bottom;
    const long long last = std::min(run, majorEnd - 1 - x0);
    for (long long i = std::max(0LL, majorFirst - x0); i <= last; ++i) {
        const long long minor = y0 + direction * nearestStep(i, rise, run);
        if (minor < minorFirst || minor >= minorEnd) {
            continue;
        }
        const auto major = static_cast<int>(x0 + i);
        const auto other = static_cast<int>(minor);
        target_.pixel(steep ? other : major, steep ? major : other) = c.pixel();
    }
}

void DrawContext::polyline(std::span<const Point> points, Color c) {
    if (points.size() == 1) {
        line(points[0], points[0], c);
    }
    for (std::size_t i = 1; i < points.size(); ++i) {
        line(points[i - 1], points[i], c);
    }
}

void DrawContext::drawBitmap(const Bitmap& bitmap, const Rect& source, Point destination) {
    copyBitmap(bitmap, source, destination, nullptr);
}

void DrawContext::drawBitmap(const Bitmap& bitmap, const Rect& source, Point destination,
                             Color transparent) {
    copyBitmap(bitmap, source, destination, &transparent);
}

void DrawContext::copyBitmap(const Bitmap& bitmap, const Rect& source, Point destination,
                             const Color* transparent) {
    const Rect from = source.intersect({0, 0, bitmap.width(), bitmap.height()});
    if (from.isEmpty()) {
        return;
    }
    // Surface position of `from`'s top-left pixel, moved on by whatever was cut off `source`.
    const long long x0 = static_cast<long long>(destination.x) + origin_.x +
                         (static_cast<long long>(from.left) - source.left);
    const long long y0 = static_cast<long long>(destination.y) + origin_.y +
                         (static_cast<long long>(from.top) - source.top);
    const long long left = std::max<long long>(x0, clip_.left);
    const long long top = std::max<long long>(y0, clip_.top);
    const long long right = std::min<long long>(x0 + from.width(), clip_.right);
    const long long bottom = std::min<long long>(y0 + from.height(), clip_.bottom);
    for (long long y = top; y < bottom; ++y) {
        for (long long x = left; x < right; ++x) {
            const Color pixel = bitmap.pixel(static_cast<int>(from.left + (x - x0)),
                                             static_cast<int>(from.top + (y - y0)));
            if (transparent == nullptr || pixel != *transparent) {
                target_.pixel(static_cast<int>(x), static_cast<int>(y)) = pixel.pixel();
            }
        }
    }
}

void DrawContext::drawText(std::string_view text, const Rect& box, const Font& font, Color c,
                           TextAlign align) {
    const Rect area = clipped(box);
    if (area.isEmpty()) {
        return;
    }
    const long long left = static_cast<long long>(box.left) + origin_.x;
    const long long right = static_cast<long long>(box.right) + origin_.x;
    const long long top = static_cast<long long>(box.top) + origin_.y;
    const long long width = font.textWidth(text);
    long long pen = align == TextAlign::Left    ? left
                    : align == TextAlign::Right ? right - width
                                                : left + ((box.width() - width) >> 1);
    const long long baseline = top + ((box.height() - font.height()) >> 1) + font.ascent();
    for (std::size_t pos = 0; pos < text.size();) {
        const Font::Glyph& g = font.glyph(nextCodePoint(text, pos));
        blendGlyph(g, pen + g.left, baseline + g.top, area, c);
        pen += g.advance;
    }
}

void DrawContext::blendGlyph(const Font::Glyph& g, long long x0, long long y0, const Rect& area,
                             Color c) {
    const long long left = std::max<long long>(x0, area.left);
    const long long top = std::max<long long>(y0, area.top);
    const long long right = std::min<long long>(x0 + g.width, area.right);
    const long long bottom = std::min<long long>(y0 + g.height, area.bottom);
    for (long long y = top; y < bottom; ++y) {
        for (long long x = left; x < right; ++x) {
            const unsigned alpha =
                g.coverage[static_cast<std::size_t>((y - y0) * g.width + (x - x0))];
            if (alpha != 0) {
                Pixel& p = target_.pixel(static_cast<int>(x), static_cast<int>(y));
                p = blend(p, c, alpha);
            }
        }
    }
}

} // namespace gui
