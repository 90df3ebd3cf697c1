// An RGB colour and the 32-bit pixel format of a Surface: 0x00RRGGBB, the top byte zero.
#pragma once

#include <cstdint>

namespace gui {

using Pixel = std::uint32_t;

struct Color {
    std::uint8_t red = 0;   // 0 … 255
    std::uint8_t green = 0; // 0 … 255
    std::uint8_t blue = 0;  // 0 … 255

    constexpr Pixel pixel() const { return (Pixel{red} << 16) | (Pixel{green} << 8) | Pixel{blue}; }
    static constexpr Color fromPixel(Pixel p) {
        return {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                static_cast<std::uint8_t>(p)};
    }
    friend constexpr bool operator==(Color, Color) = default;
};

inline constexpr Color kBlack{0, 0, 0};
inline constexpr Color kWhite{255, 255, 255};

} // namespace gui
