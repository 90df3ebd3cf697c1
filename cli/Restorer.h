// Runs a recording through one VeltranoVST exactly as a host would, and hands back output that
// lines up with the input sample for sample: the delay is compensated (the first frames the
// plug-in plays are dropped) and the tail is flushed with silence, so the output has the
// input's length.
//
// The delay compensated is the plug-in's real one. It reports initialDelay as host block plus
// chain delay plus the resampling filters' delay counted as 128 or 256 frames, but those
// filters delay by half a frame (rows 8000 and 11025) or one frame less than that; an impulse
// compensated by initialDelay alone comes out one frame early. Here the compensation is
// initialDelay - 1 in every row that resamples, which puts the output exactly on the input,
// or half a frame after it in the two rows where the real delay is not a whole frame.
//
// The plug-in collects its input into fixed host blocks whatever the call sizes, so the output
// does not depend on the block pattern used here; tests hold that.
//
// One Restorer per recording and thread; not copyable.
#pragma once

#include "cli/Settings.h"

#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class VeltranoVST;

namespace cli {

// Is `rate` one of the plug-in's own rows? Any other is run at the fallback row.
bool supportedRate(int rate);

class Restorer {
public:
    // Frames of `channels` (1 or 2) interleaved floats.
    using Source = std::function<std::size_t(float* frames, std::size_t maxFrames)>;
    // Output and residue (input minus output) for the same frames, interleaved.
    using Sink = std::function<void(const float* output, const float* residue, std::size_t frames)>;
    using Progress = std::function<void(std::size_t framesDone)>;

    Restorer(const Settings& settings, int sampleRate, int channels);
    ~Restorer();
    Restorer(const Restorer&) = delete;
    Restorer& operator=(const Restorer&) = delete;

    // Frames the plug-in reports as its latency (initialDelay).
    int latency() const;
    // Frames dropped from the start of the plug-in's output: its real delay (see above).
    int compensation() const;
    VeltranoVST& plugin() { return *vst; }

    // Host call sizes used in turn (default 4096 frames).
    void setBlockPattern(std::vector<int> pattern);

    // Reads until the source gives no more frames or `frames` frames have been read, and writes
    // exactly as many frames to the sink as were read. Returns the number of frames.
    std::size_t run(std::size_t frames, const Source& source, const Sink& sink,
                    const Progress& progress = {});

    // Convenience for tests: the whole recording in memory.
    std::vector<float> process(const std::vector<float>& input,
                               std::vector<float>* residue = nullptr);

private:
    std::unique_ptr<VeltranoVST> vst;
    int channels;
    std::vector<int> pattern{4096};
};

} // namespace cli
