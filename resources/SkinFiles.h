// The skin's PNG files compiled into the library, one array per bitmap id. The definitions are
// generated at build time from resources/skin/skin<id>.png by gui/EmbedFile.cmake.
#pragma once

#include <cstddef>

namespace skin {

extern const unsigned char kSkin101[];
extern const std::size_t kSkin101Size;
extern const unsigned char kSkin102[];
extern const std::size_t kSkin102Size;
extern const unsigned char kSkin103[];
extern const std::size_t kSkin103Size;
extern const unsigned char kSkin106[];
extern const std::size_t kSkin106Size;
extern const unsigned char kSkin107[];
extern const std::size_t kSkin107Size;
extern const unsigned char kSkin108[];
extern const std::size_t kSkin108Size;
extern const unsigned char kSkin109[];
extern const std::size_t kSkin109Size;
extern const unsigned char kSkin110[];
extern const std::size_t kSkin110Size;
extern const unsigned char kSkin111[];
extern const std::size_t kSkin111Size;
extern const unsigned char kSkin112[];
extern const std::size_t kSkin112Size;
extern const unsigned char kSkin113[];
extern const std::size_t kSkin113Size;
extern const unsigned char kSkin114[];
extern const std::size_t kSkin114Size;
extern const unsigned char kSkin115[];
extern const std::size_t kSkin115Size;

} // namespace skin
