#include "gui/Font.h"

#include "gui/EmbeddedFonts.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

namespace gui {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isCached(char32_t c) {
    return (c >= 32 && c <= 126) || (c >= 160 && c <= 255);
}

// value · pixels / units rounded to the nearest integer (halves away from zero), exactly.
int scaleRounded(long long value, long long pixels, long long units) {
    const long long twice = 2 * value * pixels;
    const long long rounded =
        twice >= 0 ? (twice + units) / (2 * units) : -((-twice + units) / (2 * units));
    return static_cast<int>(rounded);
}

} // namespace

Font::Font(FontWeight weight, int height)
    : weight_(weight), height_(std::clamp(height, kMinHeight, kMaxHeight)), ascent_(0),
      glyphs_(256) {
    const unsigned char* data =
        weight == FontWeight::Bold ? kLiberationSansBold : kLiberationSansRegular;
    stbtt_fontinfo info;
    if (stbtt_InitFont(&info, data, stbtt_GetFontOffsetForIndex(data, 0)) == 0) {
        throw std::runtime_error("Font: the embedded font cannot be read");
    }
    int ascent = 0;
    int descent = 0;
    int lineGap = 0;
    stbtt_GetFontVMetrics(&info, &ascent, &descent, &lineGap);
    const long long cellUnits = static_cast<long long>(ascent) - descent;
    ascent_ = scaleRounded(ascent, height_, cellUnits);
    // The same scale as stbtt_ScaleForPixelHeight: the cell, not the em, is height_ pixels.
    const float scale = static_cast<float>(height_) / static_cast<float>(cellUnits);

    for (char32_t c = 0; c < 256; ++c) {
        if (!isCached(c)) {
            continue;
        }
        const int index = stbtt_FindGlyphIndex(&info, static_cast<int>(c));
        Glyph& g = glyphs_[c];
        int advance = 0;
        int bearing = 0;
        stbtt_GetGlyphHMetrics(&info, index, &advance, &bearing);
        g.advance = scaleRounded(advance, height_, cellUnits);
        int x0 = 0;
        int y0 = 0;
        int x1 = 0;
        int y1 = 0;
        stbtt_GetGlyphBitmapBox(&info, index, scale, scale, &x0, &y0, &x1, &y1);
        if (x1 <= x0 || y1 <= y0) {
            continue; // a space: advance only
        }
        g.left = x0;
        g.top = y0;
        g.width = x1 - x0;
        g.height = y1 - y0;
        g.coverage.assign(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height),
                          0);
        stbtt_MakeGlyphBitmap(&info, g.coverage.data(), g.width, g.height, g.width, scale, scale,
                              index);
    }
}

const Font::Glyph& Font::glyph(char32_t codePoint) const {
    return glyphs_[isCached(codePoint) ? codePoint : U'?'];
}

int Font::textWidth(std::string_view text) const {
    long long width = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        width += glyph(nextCodePoint(text, pos)).advance;
    }
    return static_cast<int>(std::min<long long>(width, INT_MAX));
}

char32_t nextCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    const int length = lead >= 0xF5   ? 0
                       : lead >= 0xF0 ? 4
                       : lead >= 0xE0 ? 3
                       : lead >= 0xC2 ? 2
                                      : 0;
    if (length == 0 || text.size() - pos < static_cast<std::size_t>(length - 1)) {
        return kReplacement;
    }
    char32_t c = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i) - 1]);
        if ((next & 0xC0) != 0x80) {
            return kReplacement; // the lead byte alone; the next byte starts afresh
        }
        c = (c << 6) | (next & 0x3F);
    }
    pos += static_cast<std::size_t>(length - 1);
    return c;
}

} // namespace gui
