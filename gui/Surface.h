// A width × height image of 0x00RRGGBB pixels in memory, rows top to bottom, owned. It is the
// target of a DrawContext; the platform back end shows it, tests and PNG output read it.
#pragma once

#include "gui/Color.h"

#include <cstddef>
#include <vector>

namespace gui {

class Surface {
public:
    // Negative sizes count as 0. Every pixel starts as `background`.
    Surface(int width, int height, Color background = kBlack);

    int width() const { return width_; }
    int height() const { return height_; }

    // The pixel at (x, y); the caller keeps 0 <= x < width, 0 <= y < height.
    Pixel pixel(int x, int y) const { return pixels_[index(x, y)]; }
    Pixel& pixel(int x, int y) { return pixels_[index(x, y)]; }
    Color color(int x, int y) const { return Color::fromPixel(pixel(x, y)); }

    const Pixel* data() const { return pixels_.data(); }
    void fill(Color c);

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }

    int width_;                 // pixels
    int height_;                // pixels
    std::vector<Pixel> pixels_; // width_ · height_, row by row
};

} // namespace gui
