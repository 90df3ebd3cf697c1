// The live spectrum display: two smoothed decibel spectra, the input trace and the output
// trace, drawn as line graphs over a fixed -96 ... 0 dB scale, with frequency labels, a
// clickable frequency cursor with its readout, and a marker and readout for the current
// maximum.
//
// The processing chain feeds it once per block (feed); the editor configures it when its window
// opens (rectangle 337 x 115, setBarCount(1024), averaging 4, lineGraph on, the internal
// sample rate) and sets displayMode and the marker flags from its buttons.
//
// Bins: with b = barCount, the top cut t = trunc(0.16 b) bins are never shown, and bin 0 is not
// shown while removeDC is on (f0 = 1); the d = b - t - f0 displayed bins share 335 pixels. Bin
// spacing: sampleRate / (2 b) Hz.
//
// Coordinates are the frame's. Text: Liberation Sans (Arial's metrics) 11 pixels, on a
// transparent background. Numbers are formatted without the C locale's influence (a host may
// have set a decimal comma).
//
// Threads: feed runs on the audio thread and neither draws, allocates, locks nor waits: it
// updates its own traces and maximum and publishes them through a triple buffer. At every
// idle of the frame (onIdle, GUI thread) the view takes the newest published state and marks
// itself dirty; draw and the mouse run on the GUI thread and read only that state. Each
// published state carries every block fed before it (the traces are running averages), so no
// block is lost to the picture however late the GUI thread comes. displayMode, averaging and
// lineGraph are atomics the editor may set while feed runs; setBarCount must not run then.
#pragma once

#include "analyzer/NspRealFft.h"
#include "common/TripleBuffer.h"
#include "gui/DrawContext.h"
#include "gui/Font.h"
#include "gui/Rect.h"
#include "gui/View.h"

#include <atomic>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SpectrumAnalyzer : public gui::CView {
public:
    static constexpr float kFloorDb = -96.0f;

    explicit SpectrumAnalyzer(const gui::Rect& rect);
    ~SpectrumAnalyzer() override;

    // Keeps n bins (n >= 1): both traces back to -96 dB, a transform of 2n samples. Allocates.
    void setBarCount(int n);
    // Audio thread. Cuts each signal into whole chunks of 2 barCount samples (the rest is
    // ignored), moves the traces towards each chunk's spectrum by 1/averaging of the distance,
    // renews the maximum and publishes the result for the next idle. outputSignal may be null
    // (no output trace then).
    void feed(int count, const float* inputSignal, const float* outputSignal);
    // GUI thread: takes the newest fed state, if any, and marks the view dirty.
    void onIdle() override;
    // Paints the view.
    void draw(gui::DrawContext& context) override;
    // A click: inside the plot area it moves the cursor to the bin under the pointer.
    void onMouseDown(const gui::MouseEvent& event) override;
    void mouse(gui::Point where);

    // Derived quantities.
    int topCut() const { return static_cast<int>(static_cast<float>(barCount) * 0.16f); }
    int firstShownBin() const { return removeDC() ? 1 : 0; }
    int displayedBins() const { return barCount - topCut() - firstShownBin(); }
    float binSpacing() const {
        return static_cast<float>(sampleRate) / static_cast<float>(2 * barCount);
    }
    // Pixel column of bin position p (bin - first shown bin) and row of a level, in the frame.
    int columnOf(int position) const;
    int rowOf(float level) const;

    bool removeDC() const { return fft.removeDC; }
    // The traces as shown (after the last idle).
    const std::vector<float>& traceOf(bool output) const {
        return output ? shownOutput : shownInput;
    }

    // Set directly by the editor.
    std::atomic<bool> lineGraph{false}; // draw the traces as line graphs
    std::atomic<int> displayMode{0};    // 0 input trace, 1 output trace, 2 both
    std::atomic<int> averaging{1};      // smoothing divisor
    int cursorBin = 1;
    unsigned sampleRate = 44100; // Hz
    bool showCursor = false;
    bool maxPeak = false;
    // The maximum as shown (after the last idle).
    int maxBin = 1;
    float maxLevel = kFloorDb; // dB

private:
    // What feed publishes.
    struct Fed {
        std::vector<float> input;  // dB per bin
        std::vector<float> output; // dB per bin
        int maxBin = 1;
        float maxLevel = kFloorDb;
    };

    int peakOf(const std::vector<float>& trace) const;
    std::string readout(float level, int bin, std::string_view prefix = {}) const;
    void drawTrace(gui::DrawContext& context, const std::vector<float>& trace, gui::Color colour);
    void drawMarker(gui::DrawContext& context, int bin, int shift, gui::Color colour);

    float levelHeight = 100.0f;     // pixels for the full 96 dB
    float binWidth = 0.0f;          // pixels per displayed bin
    gui::Color textColour{0, 0, 0}; // readouts whose flag is off
    std::vector<float> scratch;     // one chunk's spectrum (audio thread)
    std::vector<float> inputTrace;  // dB per bin (audio thread)
    std::vector<float> outputTrace; // dB per bin (audio thread)
    TripleBuffer<Fed> fed;          // audio thread to GUI thread
    std::vector<float> shownInput;  // dB per bin as drawn (GUI thread)
    std::vector<float> shownOutput; // dB per bin as drawn (GUI thread)
    std::vector<gui::Point> points; // a trace's polyline, sized by setBarCount
    std::string unit = "Hz";        // frequency unit of the labels
    int barCount = 64;              // bins kept
    NspRealFft fft;                 // Blackman window, dB, DC removed (audio thread)
    gui::Font font{gui::FontWeight::Normal, 11};
};
