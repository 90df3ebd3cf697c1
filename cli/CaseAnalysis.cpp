#include "cli/CaseAnalysis.h"

#include "gui/Png.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace cli {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Windows needed to cover `frames` frames: one per hop that starts before the end.
std::uint64_t windowsFor(std::uint64_t frames) {
    return (frames + SignalOverview::kHop - 1) / SignalOverview::kHop;
}

double toDb(double power) {
    if (!(power > 0.0)) {
        return SignalOverview::kSilenceDb;
    }
    return std::max(SignalOverview::kSilenceDb, 10.0 * std::log10(power));
}

} // namespace

SignalOverview::SignalOverview(double sampleRate, int channels, std::uint64_t expectedFrames)
    : rate(sampleRate), channelCount(channels), span(1), fft(kWindow), hann(kWindow),
      window(kWindow, 0.0f), dropped(kHop, 0.0f), windowed(kWindow, 0.0f),
      spectrum(fft.complexSize(), 0.0f), power(kColumns * kBins, 0.0f), low(kColumns, FLT_MAX),
      high(kColumns, -FLT_MAX) {
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate) || channels < 1) {
        throw std::invalid_argument("signal overview: bad sample rate or channel count");
    }
    for (std::size_t j = 0; j < kWindow; ++j) {
        hann[j] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(j) /
                                                          static_cast<double>(kWindow)));
    }
    if (expectedFrames > 0) {
        span = std::max<std::uint64_t>(1, (windowsFor(expectedFrames) + kColumns - 1) / kColumns);
    }
    levelSpan = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::llround(sampleRate * kLevelSeconds)));
    while (expectedFrames > 0 && (expectedFrames + levelSpan - 1) / levelSpan > kMaxLevelPoints) {
        levelSpan *= 2;
    }
    levelSquares.reserve(kMaxLevelPoints);
    levelN.reserve(kMaxLevelPoints);
}

void SignalOverview::add(const float* frames, std::size_t count) {
    if (finished) {
        throw std::logic_error("signal overview: audio added after finish()");
    }
    const auto ch = static_cast<std::size_t>(channelCount);
    const float toMono = 1.0f / static_cast<float>(channelCount);
    while (count > 0) {
        const std::uint64_t columnSpan = span * kHop;
        if (frames_ / columnSpan >= kColumns) {
            mergeColumns();
            continue;
        }
        // A stretch that stays inside one column, one level point and one window.
        const std::uint64_t toColumnEnd = columnSpan - frames_ % columnSpan;
        std::size_t n = std::min(count, kWindow - windowFill);
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, toColumnEnd));
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, levelSpan - levelFill));

        const auto column = static_cast<std::size_t>(frames_ / columnSpan);
        float lo = low[column];
        float hi = high[column];
        double squares = 0.0;
        float* mono = &window[windowFill];
        for (std::size_t f = 0; f < n; ++f) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < ch; ++c) {
                float x = frames[c];
                if (!std::isfinite(x)) {
                    x = 0.0f;
                }
                squares += static_cast<double>(x) * static_cast<double>(x);
                lo = std::min(lo, x);
                hi = std::max(hi, x);
                sum += x;
            }
            mono[f] = sum * toMono;
            frames += ch;
        }
        low[column] = lo;
        high[column] = hi;
        levelSum += squares;
        levelFill += n;
        frames_ += n;
        windowFill += n;
        count -= n;

        if (windowFill == kWindow) {
            analyseWindow();
            std::memcpy(dropped.data(), window.data(), kHop * sizeof(float));
            std::memmove(window.data(), window.data() + kHop, (kWindow - kHop) * sizeof(float));
            windowFill = kWindow - kHop;
        }
        if (levelFill == levelSpan) {
            pushLevel();
        }
    }
}

void SignalOverview::finish() {
    if (finished) {
        return;
    }
    finished = true;
    // Every hop that starts before the end gets a window. Padding it with silence would put a
    // step into it, whose leakage paints the whole band: when the audio is at least a window
    // long, such hops get its last kWindow samples instead (the hop before the window still
    // held in `dropped`, then what `window` has). Shorter audio is padded: it has nothing else.
    if (windowsDone > 0 && windowFill > 0) {
        std::vector<float>& tail = windowed;             // free until analyseWindow() fills it
        const std::size_t before = kWindow - windowFill; // at most kHop
        std::memcpy(tail.data(), dropped.data() + (kHop - before), before * sizeof(float));
        std::memcpy(tail.data() + before, window.data(), windowFill * sizeof(float));
        std::memcpy(window.data(), tail.data(), kWindow * sizeof(float));
        for (std::size_t starts = (windowFill + kHop - 1) / kHop; starts > 0; --starts) {
            analyseWindow();
        }
        windowFill = 0;
    }
    while (windowFill > 0) {
        std::fill(window.begin() + static_cast<std::ptrdiff_t>(windowFill), window.end(), 0.0f);
        analyseWindow();
        std::memmove(window.data(), window.data() + kHop, (kWindow - kHop) * sizeof(float));
        windowFill = windowFill > kHop ? windowFill - kHop : 0;
    }
    if (levelFill > 0) {
        pushLevel();
    }
}

void SignalOverview::analyseWindow() {
    for (std::size_t j = 0; j < kWindow; ++j) {
        windowed[j] = window[j] * hann[j];
    }
    fft.forwardComplex(windowed.data(), spectrum.data());
    // A bin-centred sine of amplitude A gives |X| = A · (sum of the window) / 2 = A · N / 4.
    constexpr float scale = 16.0f / static_cast<float>(kWindow * kWindow);
    // The window starts before the end of the audio seen, so its column exists (add() merges
    // before a frame would enter column kColumns).
    float* column = &power[static_cast<std::size_t>(windowsDone / span) * kBins];
    for (std::size_t k = 0; k < kBins; ++k) {
        const float re = spectrum[2 * k];
        const float im = spectrum[2 * k + 1];
        column[k] = std::max(column[k], (re * re + im * im) * scale);
    }
    ++windowsDone;
}

void SignalOverview::mergeColumns() {
    for (std::size_t i = 0; i < kColumns / 2; ++i) {
        const float* a = &power[2 * i * kBins];
        const float* b = a + kBins;
        float* out = &power[i * kBins];
        for (std::size_t k = 0; k < kBins; ++k) {
            out[k] = std::max(a[k], b[k]);
        }
        low[i] = std::min(low[2 * i], low[2 * i + 1]);
        high[i] = std::max(high[2 * i], high[2 * i + 1]);
    }
    std::fill(power.begin() + static_cast<std::ptrdiff_t>(kColumns / 2 * kBins), power.end(), 0.0f);
    std::fill(low.begin() + kColumns / 2, low.end(), FLT_MAX);
    std::fill(high.begin() + kColumns / 2, high.end(), -FLT_MAX);
    span *= 2;
}

void SignalOverview::pushLevel() {
    levelSquares.push_back(levelSum);
    levelN.push_back(levelFill);
    levelSum = 0.0;
    levelFill = 0;
    if (levelSquares.size() == kMaxLevelPoints) {
        mergeLevels();
    }
}

void SignalOverview::mergeLevels() {
    const std::size_t half = levelSquares.size() / 2;
    for (std::size_t i = 0; i < half; ++i) {
        levelSquares[i] = levelSquares[2 * i] + levelSquares[2 * i + 1];
        levelN[i] = levelN[2 * i] + levelN[2 * i + 1];
    }
    levelSquares.resize(half);
    levelN.resize(half);
    levelSpan *= 2;
}

std::size_t SignalOverview::columnCount() const {
    return static_cast<std::size_t>((frames_ + columnFrames() - 1) / columnFrames());
}

double SignalOverview::columnStartSeconds(std::size_t i) const {
    return static_cast<double>(static_cast<std::uint64_t>(i) * columnFrames()) / rate;
}

double SignalOverview::columnEndSeconds(std::size_t i) const {
    const std::uint64_t end = std::min(frames_, static_cast<std::uint64_t>(i + 1) * columnFrames());
    return static_cast<double>(end) / rate;
}

double SignalOverview::powerDb(std::size_t column, std::size_t bin) const {
    return toDb(power[column * kBins + bin]);
}

float SignalOverview::columnMin(std::size_t i) const {
    return low[i] <= high[i] ? low[i] : 0.0f;
}

float SignalOverview::columnMax(std::size_t i) const {
    return low[i] <= high[i] ? high[i] : 0.0f;
}

double SignalOverview::levelDb(std::size_t i) const {
    const double n = static_cast<double>(levelN[i]) * channelCount;
    return toDb(levelSquares[i] / n);
}

std::vector<double> SignalOverview::levelSeriesDb() const {
    std::vector<double> out(levelCount());
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = levelDb(i);
    }
    return out;
}

gui::Color viridis(double t) {
    // The published map sampled at nine evenly spaced points, 0 … 1.
    static constexpr std::array<gui::Color, 9> kAnchors{{{68, 1, 84},
                                                         {71, 45, 123},
                                                         {59, 82, 139},
                                                         {44, 114, 142},
                                                         {33, 144, 140},
                                                         {39, 173, 129},
                                                         {93, 200, 99},
                                                         {170, 220, 50},
                                                         {253, 231, 37}}};
    if (!(t > 0.0)) {
        t = 0.0; // NaN too
    }
    const double x = std::min(t, 1.0) * static_cast<double>(kAnchors.size() - 1);
    const auto i = std::min(static_cast<std::size_t>(x), kAnchors.size() - 2);
    const double f = x - static_cast<double>(i);
    const auto mix = [f](std::uint8_t a, std::uint8_t b) {
        return static_cast<std::uint8_t>(std::lround(a + (b - a) * f));
    };
    const gui::Color a = kAnchors[i];
    const gui::Color b = kAnchors[i + 1];
    return {mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue)};
}

ValueTrack::ValueTrack(std::uint64_t spacingFrames)
    : step(std::max<std::uint64_t>(1, spacingFrames)) {
    frames.reserve(kMaxPoints);
    values.reserve(kMaxPoints);
}

void ValueTrack::add(std::uint64_t frame, double value) {
    if (frame < next) {
        return;
    }
    if (frames.size() == kMaxPoints) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < frames.size(); i += 2, ++kept) {
            frames[kept] = frames[i];
            values[kept] = values[i];
        }
        frames.resize(kept);
        values.resize(kept);
        step *= 2;
        next = (frames.back() / step + 1) * step;
        if (frame < next) {
            return;
        }
    }
    frames.push_back(frame);
    values.push_back(value);
    next = (frame / step + 1) * step;
}

namespace {

void checkScale(double dbFloor, double dbTop) {
    if (!(dbTop > dbFloor) || !std::isfinite(dbFloor) || !std::isfinite(dbTop)) {
        throw std::invalid_argument("colour scale: the top must lie above the floor");
    }
}

gui::Color colourOfDb(double db, double dbFloor, double dbTop) {
    return viridis((db - dbFloor) / (dbTop - dbFloor));
}

} // namespace

gui::Surface spectrogramSurface(const SignalOverview& overview, double dbFloor, double dbTop,
                                int height) {
    checkScale(dbFloor, dbTop);
    if (height < 1) {
        throw std::invalid_argument("spectrogram: height must be at least 1");
    }
    constexpr std::size_t bins = SignalOverview::kBins;
    const std::size_t width = overview.columnCount();
    gui::Surface surface(static_cast<int>(width), height);
    // Bins shown by each row, counted from the bottom.
    std::vector<std::size_t> first(static_cast<std::size_t>(height));
    std::vector<std::size_t> last(static_cast<std::size_t>(height));
    const auto h = static_cast<std::size_t>(height);
    for (std::size_t r = 0; r < h; ++r) {
        first[r] = std::min(bins - 1, r * bins / h);
        last[r] = std::max(first[r], std::min(bins - 1, ((r + 1) * bins + h - 1) / h - 1));
    }
    for (std::size_t x = 0; x < width; ++x) {
        const float* p = overview.columnPower(x);
        for (std::size_t r = 0; r < h; ++r) {
            const float strongest = *std::max_element(p + first[r], p + last[r] + 1);
            surface.pixel(static_cast<int>(x), height - 1 - static_cast<int>(r)) =
                colourOfDb(toDb(strongest), dbFloor, dbTop).pixel();
        }
    }
    return surface;
}

std::vector<std::uint8_t> spectrogramPng(const SignalOverview& overview, double dbFloor,
                                         double dbTop, int height) {
    return gui::encodePng(spectrogramSurface(overview, dbFloor, dbTop, height));
}

gui::Surface colourBarSurface(double dbFloor, double dbTop, int width, int height) {
    checkScale(dbFloor, dbTop);
    gui::Surface surface(width, height);
    for (int y = 0; y < height; ++y) {
        const double t = height > 1 ? 1.0 - static_cast<double>(y) / (height - 1) : 1.0;
        const gui::Pixel c = viridis(t).pixel();
        for (int x = 0; x < width; ++x) {
            surface.pixel(x, y) = c;
        }
    }
    return surface;
}

std::vector<std::uint8_t> colourBarPng(double dbFloor, double dbTop, int width, int height) {
    return gui::encodePng(colourBarSurface(dbFloor, dbTop, width, height));
}

} // namespace cli
