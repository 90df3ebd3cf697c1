#include "analyzer/SpectrumAnalyzer.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr gui::Color kYellow{255, 255, 0};
constexpr gui::Color kBlue{0, 0, 255};
constexpr gui::Color kRed{255, 0, 0};
constexpr gui::Color kGreen{0, 255, 0};

// A number as printf's "%g" (six significant digits, no trailing zeros) or "%.1f" write it in
// the C locale, whatever locale the host has set.
std::string general(float value) {
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
}

std::string oneDecimal(float value) {
    char text[48];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

float clampLevel(float level) {
    return std::clamp(level, SpectrumAnalyzer::kFloorDb, 0.0f);
}

} // namespace

SpectrumAnalyzer::SpectrumAnalyzer(const gui::Rect& rect) : gui::CView(rect) {
    fft.window = NspRealFft::kWindowBlackman;
    fft.scale = 1;
    fft.removeDC = true;
    setBarCount(barCount);
}

SpectrumAnalyzer::~SpectrumAnalyzer() = default;

void SpectrumAnalyzer::setBarCount(int n) {
    barCount = std::max(n, 1);
    const auto bins = static_cast<std::size_t>(barCount);
    scratch.assign(bins, kFloorDb);
    inputTrace.assign(bins, kFloorDb);
    outputTrace.assign(bins, kFloorDb);
    shownInput.assign(bins, kFloorDb);
    shownOutput.assign(bins, kFloorDb);
    fed.forEach([&](Fed& slot) {
        slot.input.assign(bins, kFloorDb);
        slot.output.assign(bins, kFloorDb);
    });
    fft.setSize(2 * barCount);
    // The first shown bin's level at the left edge, every displayed bin, the last one's at the
    // right edge.
    points.resize(static_cast<std::size_t>(std::max(displayedBins(), 0)) + 2);
    binWidth = 335.0f / static_cast<float>(std::max(displayedBins(), 1));
    setDirty();
}

void SpectrumAnalyzer::feed(int count, const float* inputSignal, const float* outputSignal) {
    const int chunk = 2 * barCount;
    const float divisor = static_cast<float>(std::max(averaging.load(), 1));
    const auto follow = [&](const float* signal, std::vector<float>& trace) {
        for (int at = 0; signal != nullptr && at + chunk <= count; at += chunk) {
            fft.transform(chunk, signal + at, scratch.data());
            for (std::size_t i = 0; i < trace.size(); ++i) {
                trace[i] = trace[i] + (scratch[i] - trace[i]) / divisor;
            }
        }
    };
    follow(inputSignal, inputTrace);
    follow(outputSignal, outputTrace);

    const int inputPeak = peakOf(inputTrace);
    bool fromOutput = false;
    int peak = inputPeak;
    if (outputSignal != nullptr) {
        const int outputPeak = peakOf(outputTrace);
        const int mode = displayMode.load();
        if (mode == 1) {
            fromOutput = true;
        } else if (mode == 2 && lineGraph.load()) {
            fromOutput = outputTrace[static_cast<std::size_t>(outputPeak)] >=
                         inputTrace[static_cast<std::size_t>(inputPeak)];
        }
        peak = fromOutput ? outputPeak : inputPeak;
    }

    Fed& slot = fed.writeSlot();
    std::copy(inputTrace.begin(), inputTrace.end(), slot.input.begin());
    std::copy(outputTrace.begin(), outputTrace.end(), slot.output.begin());
    slot.maxBin = peak;
    slot.maxLevel = (fromOutput ? outputTrace : inputTrace)[static_cast<std::size_t>(peak)];
    fed.publish();
}

void SpectrumAnalyzer::onIdle() {
    if (!fed.fetch()) {
        return;
    }
    const Fed& latest = fed.readSlot();
    shownInput = latest.input;
    shownOutput = latest.output;
    maxBin = latest.maxBin;
    maxLevel = latest.maxLevel;
    setDirty();
}

int SpectrumAnalyzer::peakOf(const std::vector<float>& trace) const {
    // The first greatest value above the floor among the bins that may be shown (bin 0 too).
    int peak = 0;
    float best = kFloorDb;
    const int end = barCount - topCut();
    for (int i = 0; i < end; ++i) {
        if (trace[static_cast<std::size_t>(i)] > best) {
            best = trace[static_cast<std::size_t>(i)];
            peak = i;
        }
    }
    return peak;
}

std::string SpectrumAnalyzer::readout(float level, int bin, std::string_view prefix) const {
    // "-42.3dB,1000.0Hz "
    std::string text(prefix);
    text.append(oneDecimal(clampLevel(level)));
    text.append("dB,").append(oneDecimal(static_cast<float>(bin) * binSpacing()));
    text.append(unit).append(" ");
    return text;
}

int SpectrumAnalyzer::columnOf(int position) const {
    const float x = binWidth * static_cast<float>(position) + binWidth / 2.0f + 1.0f;
    return rect().left + static_cast<int>(x);
}

int SpectrumAnalyzer::rowOf(float level) const {
    const float share = (clampLevel(level) + 96.0f) / 96.0f;
    const float height = share * levelHeight;
    return rect().top + 96 - static_cast<int>(height);
}

void SpectrumAnalyzer::draw(gui::DrawContext& context) {
    const gui::Rect& size = rect();
    const int left = size.left;
    const int top = size.top;
    const int right = size.right;
    const int bottom = size.bottom;
    context.fillRect({left + 1, top + 1, right, bottom}, gui::kBlack);
    context.frameRect({left, top, right, bottom - 16}, gui::kWhite);

    // The label strip under the plot.
    const float spacing = binSpacing();
    const int f0 = firstShownBin();
    const int last = barCount - topCut() - 1;
    const auto strip = [&](int from, int to) { return gui::Rect{from, bottom - 12, to, bottom}; };
    // The lowest frequency, centred under the plot's first 20 columns. A number wider than
    // those (7.8125 at 16 kHz is 31 pixels) would be cut on both sides there: it starts at the
    // plot's edge instead, and the maximum readout's box begins after it.
    const std::string lowest = general(static_cast<float>(f0) * spacing);
    const int lowestWidth = font.textWidth(lowest);
    gui::Rect lowestBox = strip(left, left + 20);
    if (lowestWidth > 20) {
        lowestBox = strip(left + 2, left + 2 + lowestWidth);
    }
    context.drawText(lowest, lowestBox, font, gui::kWhite,
                     lowestWidth > 20 ? gui::TextAlign::Left : gui::TextAlign::Center);
    const int maximumFrom = std::max(left + 20, lowestBox.right + 4);
    std::string highest(1, ' ');
    highest.append(general(static_cast<float>(last) * spacing)).append(unit);
    context.drawText(highest, strip(right - 100, right), font, gui::kWhite, gui::TextAlign::Right);

    // Readouts: level at the cursor in the shown trace, and the maximum.
    const std::vector<float>& shown = traceOf(displayMode.load() == 1);
    const float atCursor = cursorBin >= 0 && cursorBin < barCount
                               ? shown[static_cast<std::size_t>(cursorBin)]
                               : kFloorDb;
    context.drawText(readout(atCursor, cursorBin), strip(left + 138, right - 100), font,
                     showCursor ? kRed : textColour, gui::TextAlign::Center);
    context.drawText(readout(maxLevel, maxBin, "Max:"), strip(maximumFrom, left + 138), font,
                     maxPeak ? kGreen : textColour, gui::TextAlign::Center);

    const int mode = displayMode.load();
    if (lineGraph.load()) {
        if (mode != 1) {
            drawTrace(context, shownInput, kYellow);
        }
        if (mode == 1 || mode == 2) {
            drawTrace(context, shownOutput, kBlue);
        }
    }
    if (maxPeak) {
        drawMarker(context, maxBin, 0, kGreen);
    }
    if (showCursor) {
        drawMarker(context, cursorBin, -1, kRed);
    }
}

void SpectrumAnalyzer::drawTrace(gui::DrawContext& context, const std::vector<float>& trace,
                                 gui::Color colour) {
    const int f0 = firstShownBin();
    const int last = barCount - topCut() - 1;
    if (last < f0) {
        return;
    }
    std::size_t count = 0;
    points[count++] = {rect().left + 1, rowOf(trace[static_cast<std::size_t>(f0)])};
    for (int j = f0; j <= last; ++j) {
        points[count++] = {columnOf(j - f0), rowOf(trace[static_cast<std::size_t>(j)])};
    }
    points[count++] = {rect().left + 336, rowOf(trace[static_cast<std::size_t>(last)])};
    context.polyline(std::span<const gui::Point>(points.data(), count), colour);
}

void SpectrumAnalyzer::drawMarker(gui::DrawContext& context, int bin, int shift,
                                  gui::Color colour) {
    const int position = removeDC() && bin > 0 ? bin - 1 : bin;
    const int x = columnOf(position) + shift;
    context.line({x, rect().top + 1}, {x, rect().top + 97}, colour);
}

void SpectrumAnalyzer::onMouseDown(const gui::MouseEvent& event) {
    mouse(event.where);
}

void SpectrumAnalyzer::mouse(gui::Point where) {
    const gui::Rect& p = rect(); // clicks count anywhere in the view
    if (!p.contains(where) || p.width() <= 0 || p.height() <= 0) {
        return;
    }
    // The scale factors are whole numbers (337 / width, 115 / height): 1 for the editor's view.
    const auto width = static_cast<int>(p.width());
    const auto height = static_cast<int>(p.height());
    const int m =
        static_cast<int>(static_cast<float>(337 / width) * static_cast<float>(where.x - p.left));
    const int l = static_cast<int>(115.0f - static_cast<float>(115 / height) *
                                                static_cast<float>(where.y - p.top));
    if (m < 2 || m > 335 || l < 3 || l > 112) {
        return;
    }
    cursorBin = static_cast<int>(static_cast<float>(m - 1) / binWidth) + firstShownBin();
    setDirty();
}
