// The editor's skin: every bitmap of the editor, painted by tools/artwork, compiled into the
// library as PNG files and decoded on demand into 24-bit bitmaps.
//
// A bitmap with several sub-images stacks them vertically, each the bitmap's full width and an
// equal share of its height, the first on top. The slider handle is drawn leaving out its
// magenta (255, 0, 255) pixels (gui::CVerticalSlider::kHandleTransparent).
//
// Threads: any; bitmap() decodes into a new object on every call, so callers keep what they load.
#pragma once

#include "gui/Bitmap.h"

#include <span>

namespace skin {

inline constexpr int kBackground = 101;       // 576 × 470
inline constexpr int kSliderHandle = 102;     // 14 × 24
inline constexpr int kEqSliderTrack = 103;    // 15 × 56
inline constexpr int kGreenLampButton = 106;  // off, on
inline constexpr int kRocker = 107;           // up pressed, at rest, down pressed
inline constexpr int kBlueLampButton = 108;   // off, on
inline constexpr int kYellowLampButton = 109; // off, on
inline constexpr int kPanelSliderTrack = 110; // 15 × 56
inline constexpr int kReportButton = 111;     // up, pressed
inline constexpr int kHelpButton = 112;       // up, pressed
inline constexpr int kEqFlatButton = 113;     // up, pressed
inline constexpr int kEqLowCutButton = 114;   // up, pressed
inline constexpr int kEqHighCutButton = 115;  // up, pressed

struct BitmapInfo {
    int id;
    int width;     // pixels
    int height;    // pixels, all sub-images together
    int subImages; // stacked vertically, each width × height / subImages
};

// Every bitmap of the skin, by increasing id.
std::span<const BitmapInfo> bitmaps();

// The bitmap of `id`, decoded. Throws std::out_of_range for an id that is not in the skin, and
// std::runtime_error if the compiled-in file does not decode to the listed size (a build fault).
gui::Bitmap bitmap(int id);

} // namespace skin
