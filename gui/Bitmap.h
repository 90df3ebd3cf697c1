// An image to draw from: 24-bit RGB pixels in memory (3 bytes a pixel, red first, rows top to
// bottom). Controls keep the images of their states stacked vertically in one bitmap and cut
// one out with the source rectangle of DrawContext::drawBitmap.
#pragma once

#include "gui/Color.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gui {

class Bitmap {
public:
    // A width × height bitmap of one colour; negative sizes count as 0.
    Bitmap(int width, int height, Color fill = kBlack);
    // A bitmap of the given pixels; throws std::invalid_argument unless `rgb` holds exactly
    // 3 · width · height bytes.
    Bitmap(int width, int height, std::vector<std::uint8_t> rgb);

    int width() const { return width_; }
    int height() const { return height_; }

    // The caller keeps 0 <= x < width, 0 <= y < height.
    Color pixel(int x, int y) const {
        const std::uint8_t* p = &rgb_[offset(x, y)];
        return {p[0], p[1], p[2]};
    }
    void setPixel(int x, int y, Color c);

private:
    std::size_t offset(int x, int y) const {
        return 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                    static_cast<std::size_t>(x));
    }

    int width_;                     // pixels
    int height_;                    // pixels
    std::vector<std::uint8_t> rgb_; // 3 · width_ · height_ bytes, R, G, B per pixel
};

} // namespace gui
