#include "gui/Png.h"

#include <fstream>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace gui {

namespace {

void append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

std::vector<std::uint8_t> encodePng(const Surface& surface) {
    std::vector<std::uint8_t> png;
    if (surface.width() == 0 || surface.height() == 0) {
        return png;
    }
    std::vector<std::uint8_t> rgb;
    rgb.reserve(3 * static_cast<std::size_t>(surface.width()) *
                static_cast<std::size_t>(surface.height()));
    for (int y = 0; y < surface.height(); ++y) {
        for (int x = 0; x < surface.width(); ++x) {
            const Color c = surface.color(x, y);
            rgb.insert(rgb.end(), {c.red, c.green, c.blue});
        }
    }
    if (stbi_write_png_to_func(append, &png, surface.width(), surface.height(), 3, rgb.data(),
                               3 * surface.width()) == 0) {
        png.clear();
    }
    return png;
}

bool writePng(const Surface& surface, const std::filesystem::path& path) {
    const std::vector<std::uint8_t> png = encodePng(surface);
    if (png.empty()) {
        return false;
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    file.close();
    return !file.fail();
}

} // namespace gui
