// Streaming analysis of a file for the case report, and its pictures.
//
// SignalOverview takes the audio block by block as it streams through the chain and keeps, in
// memory fixed at construction whatever the file's length:
//   - a spectrogram of at most kColumns columns: windows of kWindow samples (channels averaged
//     to mono), periodic Hann, hop kHop, kBins power values from 0 Hz to rate/2; each column
//     holds, per bin, the maximum power over the windows that start in its span, so a short
//     click or tone survives however long the file;
//   - a min/max waveform overview on the same columns (over all channels);
//   - the RMS level over all channels per 100 ms, at most kMaxLevelPoints points.
// When the total length is known (expectedFrames > 0) the column span is chosen so the file
// fills at most kColumns columns (at least one window per column: short files get fewer
// columns). When it is unknown the columns start one hop wide; whenever the columns fill up
// (also when a file runs longer than announced) neighbouring pairs are merged and the span
// doubled, so a long file of unknown length ends with between kColumns/2 and kColumns columns.
// The level series does the same with its points (sums of squares combined: RMS stays exact).
// Memory: about 3.3 MB for the spectrogram (kColumns × kBins floats) plus under 100 kB, all at
// construction; add() allocates nothing.
//
// Power is scaled so a sine of amplitude A centred on a bin reads A² there: a full-scale sine is
// 0 dB, one at −20 dBFS peak reads −20 dB. (A constant offset at 0 Hz reads 6 dB above that.)
//
// Not thread-safe: one thread feeds an overview and reads it after finish().
#pragma once

#include "gui/Surface.h"
#include "platform/RealFft.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cli {

class SignalOverview {
public:
    static constexpr std::size_t kColumns = 1600;         // most spectrogram / waveform columns
    static constexpr std::size_t kWindow = 1024;          // analysis window, samples
    static constexpr std::size_t kHop = 512;              // window hop, samples
    static constexpr std::size_t kBins = kWindow / 2 + 1; // 0 Hz … rate/2
    static constexpr std::size_t kMaxLevelPoints = 4000;  // most level points
    static constexpr double kLevelSeconds = 0.1;          // level point length before merging
    static constexpr double kSilenceDb = -200.0;          // what exact digital silence reads

    // `channels` >= 1 and `sampleRate` > 0, else std::invalid_argument. `expectedFrames`: the
    // file's length in frames when the header tells it, 0 when unknown. All memory is taken
    // here (std::bad_alloc without it).
    SignalOverview(double sampleRate, int channels, std::uint64_t expectedFrames = 0);
    SignalOverview(const SignalOverview&) = delete;
    SignalOverview& operator=(const SignalOverview&) = delete;

    // `count` frames of interleaved samples (count × channels floats). Non-finite samples count
    // as 0. Throws std::logic_error after finish().
    void add(const float* frames, std::size_t count);
    // Analyses the tail: the windows that start before the end, zero-padded, and the last
    // partial level point. Call once after the last block; further calls do nothing.
    void finish();

    double sampleRate() const { return rate; }
    int channels() const { return channelCount; }
    std::uint64_t framesSeen() const { return frames_; }

    // Spectrogram and waveform columns: column i covers frames [i·columnFrames(), (i+1)·
    // columnFrames()), the last one cut at framesSeen().
    std::size_t columnCount() const;
    std::uint64_t columnFrames() const { return span * kHop; }
    double columnStartSeconds(std::size_t i) const;
    double columnEndSeconds(std::size_t i) const;
    // Column accessors take i < columnCount().
    // kBins powers of column i (linear, see above), bin k at k · rate / kWindow Hz.
    const float* columnPower(std::size_t i) const { return &power[i * kBins]; }
    // The same in dB, kSilenceDb for zero power.
    double powerDb(std::size_t column, std::size_t bin) const;
    // Lowest and highest sample of any channel in column i (0 and 0 for a column that has none).
    float columnMin(std::size_t i) const;
    float columnMax(std::size_t i) const;

    // RMS level over all channels, dBFS (a full-scale square wave reads 0, a full-scale sine
    // −3.01), point i covering frames [i·levelFrames(), (i+1)·levelFrames()), the last one
    // possibly shorter. kSilenceDb for digital silence.
    std::size_t levelCount() const { return levelSquares.size(); }
    std::uint64_t levelFrames() const { return levelSpan; }
    double levelDb(std::size_t i) const;
    std::vector<double> levelSeriesDb() const;

private:
    void analyseWindow(); // the window in `window`, starting at frame windowsDone · kHop
    void mergeColumns();  // pairs of columns into one, span doubled
    void mergeLevels();   // pairs of level points into one, levelSpan doubled
    void pushLevel();     // the accumulated level point

    double rate;                       // Hz
    int channelCount;                  // interleaved channels per frame
    std::uint64_t span;                // windows (hops) per column
    std::uint64_t frames_ = 0;         // frames added so far
    std::uint64_t windowsDone = 0;     // windows analysed so far
    std::size_t windowFill = 0;        // mono samples in `window`
    bool finished = false;             // finish() has run
    platform::RealFft fft;             // kWindow-point real transform
    std::vector<float> hann;           // kWindow periodic Hann coefficients
    std::vector<float> window;         // kWindow mono samples of the window being gathered
    std::vector<float> dropped;        // the kHop samples that left `window` last
    std::vector<float> windowed;       // kWindow windowed samples (transform input)
    std::vector<float> spectrum;       // fft.complexSize() floats (transform output)
    std::vector<float> power;          // kColumns × kBins, column by column
    std::vector<float> low;            // kColumns lowest samples
    std::vector<float> high;           // kColumns highest samples
    std::uint64_t levelSpan;           // frames per level point
    double levelSum = 0.0;             // sum of squares of the point being accumulated
    std::uint64_t levelFill = 0;       // frames in the point being accumulated
    std::vector<double> levelSquares;  // sum of squares per point (capacity kMaxLevelPoints)
    std::vector<std::uint64_t> levelN; // frames per point
};

// A value sampled as a file streams (the tracked hum frequency), in memory fixed at
// construction: the first value given at or after each multiple of the spacing. When
// kMaxPoints are held every other point is dropped and the spacing doubled, so a file of any
// length ends with at most kMaxPoints points.
class ValueTrack {
public:
    static constexpr std::size_t kMaxPoints = 4000;

    // `spacingFrames` >= 1 (smaller is taken as 1).
    explicit ValueTrack(std::uint64_t spacingFrames);
    // Frames in increasing order; a value for a frame before the next point is passed over.
    void add(std::uint64_t frame, double value);

    std::size_t size() const { return frames.size(); }
    std::uint64_t frame(std::size_t i) const { return frames[i]; }
    double value(std::size_t i) const { return values[i]; }
    std::uint64_t spacing() const { return step; }

private:
    std::uint64_t step;
    std::uint64_t next = 0; // the first frame the next point may have
    std::vector<std::uint64_t> frames;
    std::vector<double> values;
};

// A perceptually uniform map (dark violet → blue → green → yellow) of t in [0, 1], clamped.
gui::Color viridis(double t);

// The spectrogram as a picture, columnCount() pixels wide and `height` high: time left to
// right, frequency linear from bottom to top, bin k occupying rows [k, k+1) · height / kBins
// counted from the bottom (so the bottom edge is 0 Hz and the top edge rate/2, each less or
// more half a bin). A row spanning several bins shows their maximum. Power in dB maps to the
// colour map between `dbFloor` and `dbTop` (clamped), so pictures passed the same two share one
// scale. std::invalid_argument unless dbTop > dbFloor and height >= 1.
gui::Surface spectrogramSurface(const SignalOverview& overview, double dbFloor, double dbTop,
                                int height);
// Its PNG file's bytes (empty for an overview without columns).
std::vector<std::uint8_t> spectrogramPng(const SignalOverview& overview, double dbFloor,
                                         double dbTop, int height);
// A vertical colour bar of the same scale: dbTop at the top row, dbFloor at the bottom row.
gui::Surface colourBarSurface(double dbFloor, double dbTop, int width, int height);
std::vector<std::uint8_t> colourBarPng(double dbFloor, double dbTop, int width, int height);

} // namespace cli
