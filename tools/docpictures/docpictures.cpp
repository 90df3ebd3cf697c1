// docpictures: draws the pictures of the documentation that come from the running code rather
// than from the skin artwork.
//
//     docpictures OUTPUT_FOLDER
//
// writes OUTPUT_FOLDER/spectrum-view.png: the spectrum display as the editor configures it
// (16 000 Hz, 1024 bins, averaging 4, both traces, cursor and maximum shown), fed for two
// seconds with a test signal: a voiced sound (a 140 Hz harmonic series with formant peaks)
// over 60 Hz mains hum with odd harmonics and a noise floor as the input, and the voiced sound
// with a tenth of the noise as the output. Drawn at twice the size, pixel for pixel.
#include "analyzer/SpectrumAnalyzer.h"
#include "gui/Frame.h"
#include "gui/Png.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 16000.0;

double voiced(double t) {
    double y = 0.0;
    for (int k = 1; k <= 25; ++k) {
        const double hz = 140.0 * k;
        // Formant peaks near 500, 1500 and 2500 Hz on a falling slope.
        const double shape = 1.0 / k + 0.8 * std::exp(-std::pow((hz - 500.0) / 150.0, 2.0)) +
                             0.4 * std::exp(-std::pow((hz - 1500.0) / 200.0, 2.0)) +
                             0.2 * std::exp(-std::pow((hz - 2500.0) / 250.0, 2.0));
        y += 0.05 * shape * std::sin(2.0 * std::numbers::pi * hz * t + k);
    }
    return y;
}

double hum(double t) {
    const double w = 2.0 * std::numbers::pi * 60.0 * t;
    return 0.1 * std::sin(w) + 0.03 * std::sin(3.0 * w + 1.0) + 0.015 * std::sin(5.0 * w + 2.0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: docpictures OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];

    gui::CFrame frame(576, 470, nullptr, nullptr);
    auto* view = frame.addView(std::make_unique<SpectrumAnalyzer>(gui::Rect{231, 66, 568, 181}));
    view->showCursor = true;
    view->setBarCount(1024);
    view->averaging = 4;
    view->lineGraph = true;
    view->sampleRate = static_cast<unsigned>(kRate);
    view->displayMode = 2;
    view->maxPeak = true;

    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.004);
    std::vector<float> in(2048);
    std::vector<float> out(2048);
    for (int block = 0; block < 16; ++block) {
        for (std::size_t n = 0; n < in.size(); ++n) {
            const double t = static_cast<double>(block * 2048 + static_cast<int>(n)) / kRate;
            const double floor = noise(random);
            in[n] = static_cast<float>(voiced(t) + hum(t) + floor);
            out[n] = static_cast<float>(voiced(t) + 0.1 * floor);
        }
        view->feed(2048, in.data(), out.data());
    }
    view->mouse({231 + 65, 66 + 40}); // the cursor on the voice's fundamental region
    frame.idle();

    // The view and a margin of 5 pixels, doubled.
    const gui::Surface& editor = frame.surface();
    constexpr int kLeft = 226, kTop = 61, kWidth = 347, kHeight = 125;
    gui::Surface picture(2 * kWidth, 2 * kHeight);
    for (int y = 0; y < 2 * kHeight; ++y) {
        for (int x = 0; x < 2 * kWidth; ++x) {
            picture.pixel(x, y) = editor.pixel(kLeft + x / 2, kTop + y / 2);
        }
    }
    const std::filesystem::path target = folder / "spectrum-view.png";
    if (!gui::writePng(picture, target.string())) {
        std::fprintf(stderr, "docpictures: cannot write %s\n", target.string().c_str());
        return 1;
    }
    return 0;
}
