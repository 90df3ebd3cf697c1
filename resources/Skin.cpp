#include "resources/Skin.h"

#include "resources/SkinFiles.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace skin {

namespace {

struct File {
    const unsigned char* data;
    const std::size_t* size;
};

constexpr std::array<BitmapInfo, 13> kBitmaps = {{
    {kBackground, 576, 470, 1},
    {kSliderHandle, 14, 24, 1},
    {kEqSliderTrack, 15, 56, 1},
    {kGreenLampButton, 20, 40, 2},
    {kRocker, 12, 54, 3},
    {kBlueLampButton, 20, 40, 2},
    {kYellowLampButton, 20, 40, 2},
    {kPanelSliderTrack, 15, 56, 1},
    {kReportButton, 58, 42, 2},
    {kHelpButton, 41, 42, 2},
    {kEqFlatButton, 28, 42, 2},
    {kEqLowCutButton, 28, 42, 2},
    {kEqHighCutButton, 28, 42, 2},
}};

// In the order of kBitmaps.
const std::array<File, 13> kFiles = {{
    {kSkin101, &kSkin101Size},
    {kSkin102, &kSkin102Size},
    {kSkin103, &kSkin103Size},
    {kSkin106, &kSkin106Size},
    {kSkin107, &kSkin107Size},
    {kSkin108, &kSkin108Size},
    {kSkin109, &kSkin109Size},
    {kSkin110, &kSkin110Size},
    {kSkin111, &kSkin111Size},
    {kSkin112, &kSkin112Size},
    {kSkin113, &kSkin113Size},
    {kSkin114, &kSkin114Size},
    {kSkin115, &kSkin115Size},
}};

struct StbiFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

} // namespace

std::span<const BitmapInfo> bitmaps() {
    return kBitmaps;
}

gui::Bitmap bitmap(int id) {
    for (std::size_t i = 0; i < kBitmaps.size(); ++i) {
        const BitmapInfo& info = kBitmaps[i];
        if (info.id != id) {
            continue;
        }
        const File& file = kFiles[i];
        int width = 0;
        int height = 0;
        int channels = 0;
        const std::unique_ptr<stbi_uc, StbiFree> pixels(stbi_load_from_memory(
            file.data, static_cast<int>(*file.size), &width, &height, &channels, 3));
        if (!pixels || width != info.width || height != info.height) {
            throw std::runtime_error("skin: bitmap " + std::to_string(id) + " does not decode");
        }
        const std::size_t bytes =
            3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        return gui::Bitmap(width, height,
                           std::vector<std::uint8_t>(pixels.get(), pixels.get() + bytes));
    }
    throw std::out_of_range("skin: no bitmap " + std::to_string(id));
}

} // namespace skin
