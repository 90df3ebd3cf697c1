// The TrueType files compiled into the library (Liberation Sans, metric-compatible with Arial).
// The definitions are generated at build time by EmbedFile.cmake.
#pragma once

#include <cstddef>

namespace gui {

extern const unsigned char kLiberationSansRegular[];
extern const std::size_t kLiberationSansRegularSize;
extern const unsigned char kLiberationSansBold[];
extern const std::size_t kLiberationSansBoldSize;

} // namespace gui
