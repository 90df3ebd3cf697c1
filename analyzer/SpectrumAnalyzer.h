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
// Coordinates are the frame's; the view's rectangle is `size`. Text: Liberation Sans (Arial's
// metrics) 11 pixels, on a transparent background. Numbers are formatted without the C
// locale's influence (a host may have set a decimal comma).
//
// Threading: feed runs on the audio thread and allocates, locks and draws nothing once
// setBarCount has run; draw and mouse run on the GUI thread. How the traces cross from one to
// the other is the owner's concern for now (see feed).
#pragma once

#include "analyzer/NspRealFft.h"
#include "gui/DrawContext.h"
#include "gui/Font.h"
#include "gui/Rect.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

class SpectrumAnalyzer {
public:
    static constexpr float kFloorDb = -96.0f;

    explicit SpectrumAnalyzer(const gui::Rect& rect);
    virtual ~SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    // Keeps n bins (n >= 1): both traces back to -96 dB, a transform of 2n samples. Allocates.
    void setBarCount(int n);
    // Cuts each signal into whole chunks of 2 barCount samples (the rest is ignored), moves the
    // traces towards each chunk's spectrum by 1/averaging of the distance, renews the maximum
    // and asks for a redraw. outputSignal may be null (no output trace then).
    void feed(int count, const float* inputSignal, const float* outputSignal);
    // Paints the view.
    virtual void draw(gui::DrawContext& context);
    // A click at `where`: inside the plot area it moves the cursor to the bin under it.
    virtual void mouse(gui::Point where);

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
    const std::vector<float>& traceOf(bool output) const {
        return output ? outputTrace : inputTrace;
    }
    // Set by feed and by a click; cleared by draw.
    bool needsRedraw() const { return dirty; }
    const gui::Rect& viewRect() const { return size; }

    // Set directly by the editor.
    bool lineGraph = false; // draw the traces as line graphs
    int displayMode = 0;    // 0 input trace, 1 output trace, 2 both
    int cursorBin = 1;
    int maxBin = 1;
    unsigned sampleRate = 44100; // Hz
    float maxLevel = kFloorDb;   // dB
    bool showCursor = false;
    bool maxPeak = false;
    int averaging = 1; // smoothing divisor

private:
    int peakOf(const std::vector<float>& trace) const;
    std::string readout(float level, int bin, std::string_view prefix = {}) const;
    void drawTrace(gui::DrawContext& context, const std::vector<float>& trace, gui::Color colour);
    void drawMarker(gui::DrawContext& context, int bin, int shift, gui::Color colour);

    gui::Rect size;                 // the view's rectangle
    gui::Rect plot;                 // where clicks count (the view's rectangle)
    float levelHeight = 100.0f;     // pixels for the full 96 dB
    float binWidth = 0.0f;          // pixels per displayed bin
    gui::Color textColour{0, 0, 0}; // readouts whose flag is off
    std::vector<float> scratch;     // one chunk's spectrum
    std::vector<float> inputTrace;  // dB per bin
    std::vector<float> outputTrace; // dB per bin
    std::vector<gui::Point> points; // a trace's polyline, sized by setBarCount
    std::string unit = "Hz";        // frequency unit of the labels
    int barCount = 64;              // bins kept
    NspRealFft fft;                 // Blackman window, dB, DC removed
    gui::Font font{gui::FontWeight::Normal, 11};
    bool dirty = true;
};
