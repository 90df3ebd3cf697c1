// The toolkit's fonts: Liberation Sans, regular and bold, whose advance widths and vertical
// metrics match Arial's. The TrueType files are compiled into the library.
//
// Height: a font of height h has a character cell (ascent + descent, from the font's
// horizontal header) of exactly h pixels, as a positive LOGFONT height means on Windows; the
// em is smaller (about 0.895 h). The ascent is rounded to whole pixels and the descent is the
// rest. Advances are whole pixels (rounded from the font units with integer arithmetic), no
// kerning is applied, and every glyph sits on a whole-pixel position, so text width is the sum
// of the advances.
//
// Glyphs: printable ASCII (32–126) and Latin-1 (160–255) are rasterised once, anti-aliased,
// when the font is constructed; any other code point is drawn as '?'. Text is UTF-8; a byte
// that does not start a valid sequence counts as U+FFFD (so as '?').
//
// Rasterisation uses stb_truetype's single-precision code once per glyph; with IEEE
// arithmetic (no -ffast-math, SSE rather than x87 on 32-bit x86) the coverage is the same on
// every platform.
//
// Threads: a Font is immutable after construction, so a const Font may be read from any
// thread; the toolkit creates and uses fonts on the GUI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace gui {

enum class FontWeight { Normal, Bold };

class Font {
public:
    static constexpr int kMinHeight = 1;   // pixels
    static constexpr int kMaxHeight = 128; // pixels

    // One anti-aliased glyph; coverage 0 (none) … 255 (full), width × height, row by row.
    struct Glyph {
        int left = 0;    // pixels from the pen position to the bitmap's left edge
        int top = 0;     // pixels from the baseline to the bitmap's top row (negative: above)
        int width = 0;   // pixels
        int height = 0;  // pixels
        int advance = 0; // pixels the pen moves on
        std::vector<std::uint8_t> coverage;
    };

    // `height` is limited to kMinHeight … kMaxHeight.
    Font(FontWeight weight, int height);

    FontWeight weight() const { return weight_; }
    int height() const { return height_; }
    int ascent() const { return ascent_; }

    // The glyph of a code point, '?' for one outside the cached ranges.
    const Glyph& glyph(char32_t codePoint) const;
    // The advance width of a UTF-8 text in pixels, limited to the range of int.
    int textWidth(std::string_view text) const;

private:
    FontWeight weight_;
    int height_;                // character cell, pixels
    int ascent_;                // baseline to the cell's top, pixels
    std::vector<Glyph> glyphs_; // indexed by code point 0 … 255; unused entries stay empty
};

// The code point starting at text[pos], advancing pos past it; pos < text.size().
char32_t nextCodePoint(std::string_view text, std::size_t& pos);

} // namespace gui
