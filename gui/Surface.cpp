#include "gui/Surface.h"

#include <algorithm>

namespace gui {

Surface::Surface(int width, int height, Color background)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_),
              background.pixel()) {}

void Surface::fill(Color c) {
    std::fill(pixels_.begin(), pixels_.end(), c.pixel());
}

} // namespace gui
