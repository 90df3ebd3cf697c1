#include "gui/Bitmap.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace gui {

namespace {

std::size_t byteCount(int width, int height) {
    return 3 * static_cast<std::size_t>(std::max(width, 0)) *
           static_cast<std::size_t>(std::max(height, 0));
}

} // namespace

Bitmap::Bitmap(int width, int height, Color fill)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), rgb_(byteCount(width, height)) {
    for (std::size_t i = 0; i < rgb_.size(); i += 3) {
        rgb_[i] = fill.red;
        rgb_[i + 1] = fill.green;
        rgb_[i + 2] = fill.blue;
    }
}

Bitmap::Bitmap(int width, int height, std::vector<std::uint8_t> rgb)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), rgb_(std::move(rgb)) {
    if (rgb_.size() != byteCount(width, height)) {
        throw std::invalid_argument("Bitmap: pixel data does not match the size");
    }
}

void Bitmap::setPixel(int x, int y, Color c) {
    std::uint8_t* p = &rgb_[offset(x, y)];
    p[0] = c.red;
    p[1] = c.green;
    p[2] = c.blue;
}

} // namespace gui
