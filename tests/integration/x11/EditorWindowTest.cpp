// The plug-in binary's editor in a real X window, used as a person would: pointer and keys
// through the XTest extension, the host's idle pumped after each action. What the plug-in stores
// and tells the host is checked, and what the server shows. CTest runs these under xvfb-run;
// without a display they skip.
//
// The last screenshot goes to the test's binary folder (editor-window.png), and to the file
// VELTRANO_SCREENSHOT_OUT names when set.

// GoogleTest before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include "x11/EditorWindowHarness.h"

#include "gui/Png.h"
#include "plugin/Parameters.h"
#include "resources/Skin.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

constexpr float kRate = 44100.0f;
constexpr int kBlock = 512;

constexpr int kSliderTravel = 31;       // pixels between the handle's lowest and highest top
constexpr int kSliderHandleHeight = 24; // pixels

constexpr gui::Pixel kYellowTrace = 0xFFFF00; // the input spectrum
constexpr gui::Pixel kBlueTrace = 0x0000FF;   // the output spectrum

int hostErrors = 0; // X errors of the host's own connection
int countHostError(Display*, XErrorEvent*) {
    ++hostErrors;
    return 0;
}

// Pixels that differ between `a` and `b` inside `area`.
int differing(const gui::Surface& a, const gui::Surface& b, const Area& area) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return count;
}

// The rows of `area` holding at least one pixel of `colour`.
int rowsWith(const gui::Surface& s, const Area& area, gui::Pixel colour) {
    int rows = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (s.pixel(x, y) == colour) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

// Stereo programme material: a 60 Hz hum with harmonics, a speech-like mix of tones whose
// loudness moves at syllable rate, and noise.
class Programme {
public:
    void next(std::vector<float>& left, std::vector<float>& right) {
        constexpr double kTwoPi = 2.0 * std::numbers::pi;
        for (std::size_t i = 0; i < left.size(); ++i) {
            const double t = static_cast<double>(n++) / kRate;
            const double hum = 0.15 * std::sin(kTwoPi * 60.0 * t) +
                               0.05 * std::sin(kTwoPi * 180.0 * t) +
                               0.03 * std::sin(kTwoPi * 300.0 * t);
            const double syllable = 0.5 + 0.5 * std::sin(kTwoPi * 4.0 * t);
            const double voice =
                syllable *
                (0.12 * std::sin(kTwoPi * 220.0 * t) + 0.08 * std::sin(kTwoPi * 700.0 * t) +
                 0.05 * std::sin(kTwoPi * 1200.0 * t) + 0.03 * std::sin(kTwoPi * 2500.0 * t));
            left[i] = static_cast<float>(hum + voice) + noise(random);
            right[i] = static_cast<float>(hum + 0.8 * voice) + noise(random);
        }
    }

private:
    long long n = 0;
    std::mt19937 random{7};
    std::normal_distribution<float> noise{0.0f, 0.02f};
};

class EditorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') {
            GTEST_SKIP() << "No X server: DISPLAY is not set (CTest runs these under xvfb-run)";
        }
        const std::string why = harness.connect();
        ASSERT_TRUE(why.empty()) << why;
        hostErrors = 0;
        XSetErrorHandler(&countHostError);
        ASSERT_TRUE(harness.startPlugin(kRate, kBlock)) << harness.host.error();
        ASSERT_TRUE(harness.createHostWindow());
        ASSERT_EQ(harness.width, 576);
        ASSERT_EQ(harness.height, 470);
    }

    void TearDown() override {
        if (harness.display != nullptr) {
            harness.closeEditor();
            XSetErrorHandler(nullptr);
        }
    }

    VstHost& host() { return harness.host; }

    // The host calls with this opcode for parameter `index`.
    std::vector<VstHost::Call> callsFor(VstInt32 opcode, VstInt32 index) const {
        std::vector<VstHost::Call> found;
        for (const VstHost::Call& call : harness.host.callsOf(opcode)) {
            if (call.index == index) {
                found.push_back(call);
            }
        }
        return found;
    }

    // Clicks a switch that is off and waits until the plug-in has it on.
    void switchOn(int index, const Area& button) {
        SCOPED_TRACE(index);
        ASSERT_EQ(host().getParameter(index), 0.0f);
        harness.click(button.x(), button.y());
        ASSERT_TRUE(harness.idleUntil([&] { return host().getParameter(index) == 1.0f; }));
        const auto automated = callsFor(audioMasterAutomate, index);
        ASSERT_EQ(automated.size(), 1u);
        EXPECT_EQ(automated[0].opt, 1.0f);
        EXPECT_EQ(callsFor(audioMasterBeginEdit, index).size(), 1u);
        EXPECT_EQ(callsFor(audioMasterEndEdit, index).size(), 1u);
    }

    // Clicks a button of the editor's own and waits until the server shows it changed.
    void toggleLamp(const Area& lamp) { ASSERT_TRUE(harness.clickUntilChanged(lamp)); }

    EditorWindowHarness harness{VELTRANO_PLUGIN_PATH};
};

TEST_F(EditorWindow, SwitchesFieldSliderAndSpectrumWorkUnderRealInput) {
    ASSERT_TRUE(harness.openEditor());
    ASSERT_EQ(harness.childCount(), 1u);
    const gui::Surface opened = harness.grab();
    // The whole skin is shown from the first idle on, not only the controls.
    const gui::Bitmap background = skin::bitmap(skin::kBackground);
    int unlike = 0;
    for (int y = kTitle.top; y < kTitle.bottom; ++y) {
        for (int x = kTitle.left; x < kTitle.right; ++x) {
            unlike += opened.pixel(x, y) != background.pixel(x, y).pixel() ? 1 : 0;
        }
    }
    EXPECT_EQ(unlike, 0);

    // Three switches: the plug-in stores them and tells the host, gesture included.
    host().clearCalls();
    switchOn(kHumFilter, kHumFilterButton);
    switchOn(kRandomNoise, kRandomNoiseButton);
    switchOn(kEqualizer, kEqualizerButton);

    // The hum frequency typed into its field: 50 Hz is (50 − 44.45) / 23.73.
    harness.click(kHumFrequencyField.x(), kHumFrequencyField.y());
    harness.type("50");
    harness.key(XK_Return);
    const auto expected = static_cast<float>((50.0 - 44.45) / (68.18 - 44.45));
    ASSERT_TRUE(
        harness.idleUntil([&] { return !callsFor(audioMasterAutomate, kHumFrequency).empty(); }));
    EXPECT_FLOAT_EQ(host().getParameter(kHumFrequency), expected);
    EXPECT_FLOAT_EQ(callsFor(audioMasterAutomate, kHumFrequency).back().opt, expected);

    // The maximum gain slider's handle dragged 20 pixels up: more gain, told to the host as
    // one gesture.
    const float gainBefore = host().getParameter(kMaxGain);
    const int handleTop =
        kMaxGainSlider.top + static_cast<int>(std::lround((1.0f - gainBefore) * kSliderTravel));
    int y = handleTop + kSliderHandleHeight / 2;
    harness.moveTo(kMaxGainSlider.x(), y);
    harness.press();
    for (int step = 0; step < 4; ++step) {
        y -= 5;
        harness.moveTo(kMaxGainSlider.x(), y);
    }
    harness.release();
    ASSERT_TRUE(harness.idleUntil([&] { return !callsFor(audioMasterEndEdit, kMaxGain).empty(); }));
    EXPECT_NEAR(host().getParameter(kMaxGain), gainBefore + 20.0f / kSliderTravel, 2.0f / 31.0f);
    const auto moves = callsFor(audioMasterAutomate, kMaxGain);
    ASSERT_FALSE(moves.empty());
    EXPECT_FLOAT_EQ(moves.back().opt, host().getParameter(kMaxGain));
    EXPECT_EQ(callsFor(audioMasterBeginEdit, kMaxGain).size(), 1u);
    EXPECT_EQ(callsFor(audioMasterEndEdit, kMaxGain).size(), 1u);

    // Both spectra on, then two seconds of programme through the plug-in with the idle at
    // about 30 Hz of audio time: both traces take shape.
    toggleLamp(kInputButton);
    toggleLamp(kOutputButton);
    Programme programme;
    std::vector<float> inLeft(kBlock), inRight(kBlock), outLeft(kBlock), outRight(kBlock);
    float* inputs[2] = {inLeft.data(), inRight.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    for (int block = 0; block < 2 * static_cast<int>(kRate) / kBlock; ++block) {
        programme.next(inLeft, inRight);
        host().processReplacing(inputs, outputs, kBlock);
        if (block % 3 == 0) {
            harness.idle(1);
        }
    }
    harness.idle(10);

    const gui::Surface shown = harness.grab();
    const std::filesystem::path file =
        std::filesystem::path(VELTRANO_SCREENSHOT_DIR) / "editor-window.png";
    EXPECT_TRUE(gui::writePng(shown, file)) << file;
    if (const char* out = std::getenv("VELTRANO_SCREENSHOT_OUT"); out != nullptr && *out != 0) {
        EXPECT_TRUE(gui::writePng(shown, out)) << out;
    }

    // The skin is there, the lamps of the switches and buttons lit, the field rewritten and
    // both traces drawn across many rows (not a flat floor line).
    std::set<gui::Pixel> colours;
    for (int yy = 0; yy < shown.height(); yy += 3) {
        for (int xx = 0; xx < shown.width(); xx += 3) {
            colours.insert(shown.pixel(xx, yy));
        }
    }
    EXPECT_GT(colours.size(), 50u);
    for (const Area& lamp :
         {kHumFilterButton, kRandomNoiseButton, kEqualizerButton, kInputButton, kOutputButton}) {
        EXPECT_GT(differing(opened, shown, lamp), 20) << "lamp at " << lamp.left << "," << lamp.top;
    }
    EXPECT_GT(differing(opened, shown, kHumFrequencyField), 10);
    EXPECT_GT(rowsWith(shown, kSpectrumView, kYellowTrace), 10);
    EXPECT_GT(rowsWith(shown, kSpectrumView, kBlueTrace), 10);
    EXPECT_EQ(hostErrors, 0);
}

TEST_F(EditorWindow, OpensAndClosesAHundredTimesWhileProcessing) {
    host().setParameter(kHumFilter, 1.0f);
    host().setParameter(kHumAutoTrack, 1.0f);

    std::atomic<long> blocks{0};
    // Stopped and joined on every way out, a failed assertion's included.
    std::jthread audio([&](std::stop_token stop) {
        Programme programme;
        std::vector<float> inLeft(kBlock), inRight(kBlock), outLeft(kBlock), outRight(kBlock);
        float* inputs[2] = {inLeft.data(), inRight.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        while (!stop.stop_requested()) {
            programme.next(inLeft, inRight);
            harness.host.processReplacing(inputs, outputs, kBlock);
            blocks.fetch_add(1);
        }
    });

    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(harness.openEditor());
        ASSERT_EQ(harness.childCount(), 1u);
        // Both spectra on: the chain feeds the view while it is open.
        toggleLamp(kInputButton);
        toggleLamp(kOutputButton);
        if (HasFatalFailure()) {
            break;
        }
        const long before = blocks.load();
        ASSERT_TRUE(harness.idleUntil([&] { return blocks.load() > before + 2; }));
        harness.idle(3);
        harness.closeEditor();
        EXPECT_EQ(harness.childCount(), 0u); // no window left behind
        EXPECT_EQ(hostErrors, 0);
    }
    audio.request_stop();
    audio.join();
    EXPECT_GT(blocks.load(), 100);
    EXPECT_EQ(hostErrors, 0);
}

} // namespace
