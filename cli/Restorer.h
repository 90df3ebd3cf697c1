// Runs a recording through one VeltranoVST exactly as a host would, and hands back output that
// lines up with the input sample for sample: the delay is compensated (the first initialDelay
// frames the plug-in plays are dropped; the plug-in delays by exactly that much whatever is
// switched on) and the tail is flushed with silence, so the output has the input's length.
//
// The residue, what the chain removed, comes from two more instances fed the same input:
//   residue = reference - filtered
// where the reference is an instance running as the reference of what it removes (the input
// through the chain's delays and resampling, turned by the high-pass's phase where the
// high-pass is on; see VeltranoVST::setRemovalReference) and the filtered signal is the output
// of the chain without its level stages (auto-normalize, automatic gain control: a change of
// level is not a removal), which is the output itself when both are off. With every switch off
// the residue is exactly zero.
//
// The plug-in collects its input into fixed host blocks whatever the call sizes, so the output
// does not depend on the block pattern used here; tests hold that.
//
// More than two channels: each channel goes through its own mono instance (the plug-in is a
// mono or stereo effect; pairing arbitrary channels would couple their stereo stages). Every
// instance has the same setting and rate, so the same delay.
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
    // Frames of `channels` interleaved floats.
    using Source = std::function<std::size_t(float* frames, std::size_t maxFrames)>;
    // Output and residue for the same frames, interleaved; residue is null unless enabled.
    using Sink = std::function<void(const float* output, const float* residue, std::size_t frames)>;
    using Progress = std::function<void(std::size_t framesDone)>;

    Restorer(const Settings& settings, int sampleRate, int channels);
    ~Restorer();
    Restorer(const Restorer&) = delete;
    Restorer& operator=(const Restorer&) = delete;

    // Frames the plug-in reports as its latency (initialDelay), its true delay: the frames
    // dropped from the start of its output.
    int latency() const;
    // The instance of the first channel (of both, for stereo).
    VeltranoVST& plugin() { return *lanes.front().vst; }
    // Instances run side by side: 1 for mono and stereo, one per channel beyond.
    std::size_t instances() const { return lanes.size(); }

    // Makes run() form the residue (see above); call before run().
    void enableResidue();
    // Whether the level stages are on, so that the residue needs an instance of its own.
    bool residueNeedsOwnChain() const { return lanes.front().unlevelled != nullptr; }

    // Host call sizes used in turn (default 4096 frames).
    void setBlockPattern(std::vector<int> pattern);

    // Reads until the source gives no more frames or `frames` frames have been read, and writes
    // exactly as many frames to the sink as were read. Returns the number of frames.
    std::size_t run(std::size_t frames, const Source& source, const Sink& sink,
                    const Progress& progress = {});

    // Convenience for tests: the whole recording in memory; the residue too when asked for.
    std::vector<float> process(const std::vector<float>& input,
                               std::vector<float>* residue = nullptr);

private:
    std::unique_ptr<VeltranoVST> makePlugin(const Settings& chosen, int width) const;

    // The instances that take some adjacent channels.
    struct Lane {
        int first = 0;                           // the first channel it takes
        int width = 1;                           // 1 or 2 channels
        std::unique_ptr<VeltranoVST> vst;        // the restoration
        std::unique_ptr<VeltranoVST> reference;  // the residue's reference, when enabled
        std::unique_ptr<VeltranoVST> unlevelled; // the chain without the level stages, when
                                                 // the residue is enabled and one is on
    };

    Settings settings;
    int sampleRate;
    int channels;
    std::vector<Lane> lanes;
    std::vector<int> pattern{4096};
};

} // namespace cli
