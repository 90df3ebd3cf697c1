// veltrano demo: restores the bundled sample recording (speech with mains hum, steady noise and
// low level) with a preset suited to it, and prints what changed.
#pragma once

#include <iosfwd>
#include <string>

namespace cli {

// The bundled sample's path (beside the program's sources, or installed beside the program).
std::string demoSamplePath();

// Restores the sample into `folder` (created; the demo's own files there are replaced) and
// prints the summary. Returns the exit status.
int runDemo(const std::string& folder, std::ostream& out, std::ostream& err);

// Measurements of the summary, over a whole mono or stereo recording (interleaved).
struct Measures {
    double rmsDb;   // level (dBFS, RMS)
    double peakDb;  // peak (dBFS)
    double humDb;   // RMS of the hum's first five harmonics (dBFS)
    double floorDb; // noise floor: 10th percentile of the 50 ms frames' RMS (dBFS)
};
Measures measure(const float* samples, std::size_t frames, int channels, int rate,
                 double humFrequency);

} // namespace cli
