// Drawing onto a Surface, clipped. Views draw in frame coordinates; the context's origin says
// where the frame's (0, 0) lies on the surface (for an off-screen surface of one view, minus
// the view's top-left corner), and its clip rectangle, given in the same coordinates, is
// normally the view's rectangle. Nothing is ever written outside the surface or the clip,
// whatever the coordinates: the arithmetic is 64-bit, so no int coordinate can overflow it.
//
// Pixels are exact and the same on every platform: geometry is integer and text is blended
// with integer arithmetic from the font's cached coverage:
//   result = (colour · a + surface · (255 − a) + 127) / 255 per channel, a = coverage 0 … 255.
//
// Threads: GUI thread only, like the Surface it draws on.
#pragma once

#include "gui/Bitmap.h"
#include "gui/Color.h"
#include "gui/Font.h"
#include "gui/Rect.h"
#include "gui/Surface.h"

#include <span>
#include <string_view>

namespace gui {

enum class TextAlign { Left, Center, Right };

class DrawContext {
public:
    // Origin (0, 0), clipped to the whole surface. The surface must outlive the context.
    explicit DrawContext(Surface& target);

    // The surface position of coordinate (0, 0). Keeps the clip where it is on the surface.
    void setOrigin(Point surfacePosition) { origin_ = surfacePosition; }
    Point origin() const { return origin_; }
    // Replaces the clip; `r` is in drawing coordinates and is limited to the surface.
    void setClip(const Rect& r);
    // The clip in surface coordinates (always inside the surface).
    Rect surfaceClip() const { return clip_; }

    void fillRect(const Rect& r, Color c);
    // The one-pixel outline just inside `r`: rows top and bottom − 1, columns left and
    // right − 1.
    void frameRect(const Rect& r, Color c);
    // A one-pixel line with both end points drawn: along the longer axis every pixel from one
    // end to the other, on the shorter axis the pixel nearest the ideal line (a tie goes to
    // the pixel farther from the end that comes first along the longer axis). The same pixels
    // whichever way round the end points are given, and the same wherever the line is clipped.
    void line(Point from, Point to, Color c);
    // Lines between successive points; one point draws that pixel.
    void polyline(std::span<const Point> points, Color c);

    // Copies the part `source` of the bitmap (limited to the bitmap) with its top-left corner
    // at `destination`.
    void drawBitmap(const Bitmap& bitmap, const Rect& source, Point destination);
    // The same, skipping the source pixels of exactly the colour `transparent`.
    void drawBitmap(const Bitmap& bitmap, const Rect& source, Point destination, Color transparent);

    // One line of UTF-8 text on a transparent background, clipped to `box` as well as the
    // clip. Horizontally as `align` asks (centred: the left over space halved, rounded down),
    // vertically the font's cell is centred in the box the same way.
    void drawText(std::string_view text, const Rect& box, const Font& font, Color c,
                  TextAlign align = TextAlign::Center);

private:
    // `r` in surface coordinates, limited to the clip.
    Rect clipped(const Rect& r) const;
    void copyBitmap(const Bitmap& bitmap, const Rect& source, Point destination,
                    const Color* transparent);
    // Blends a glyph whose bitmap's top-left corner is at surface (x, y), inside `area`.
    void blendGlyph(const Font::Glyph& g, long long x, long long y, const Rect& area, Color c);

    Surface& target_;
    Point origin_; // surface position of drawing coordinate (0, 0)
    Rect clip_;    // surface coordinates, inside the surface
};

// The width of a text in pixels as drawText lays it out.
inline int textWidth(std::string_view text, const Font& font) {
    return font.textWidth(text);
}

} // namespace gui
