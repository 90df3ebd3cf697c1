// A picture of the editor's panel showing a setting, drawn off-screen: what the examiner saw
// (or would have seen) in the plug-in's window, for a case file. The spectrum panel is empty.
#pragma once

#include "cli/Settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// The PNG file's bytes of the panel (576 × 470 pixels) with the setting at `sampleRate`.
std::vector<std::uint8_t> settingsPicture(const Settings& settings, float sampleRate = 44100.0f);

} // namespace cli
