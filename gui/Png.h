// PNG output of a Surface (8-bit RGB, no alpha), for tests, pictures and reports.
#pragma once

#include "gui/Surface.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace gui {

// The PNG file's bytes; empty for a surface without pixels, which PNG cannot hold.
std::vector<std::uint8_t> encodePng(const Surface& surface);
// Writes the PNG file; false (and possibly a partial file) if the surface has no pixels or the
// file cannot be written completely.
bool writePng(const Surface& surface, const std::filesystem::path& path);

} // namespace gui
