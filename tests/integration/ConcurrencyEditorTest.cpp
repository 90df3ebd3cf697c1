// The editor opened, idled and closed over and over on the user-interface thread while the audio
// thread processes with the hum tracked and the input spectrum shown, so that the chain posts
// the frequency text and feeds the view all the while: no data race (under ThreadSanitizer), no
// use of a closed view, and what the chain posts reaches the field at the next idle.
//
// The plug-in and its editor are built into this program (a headless window), not loaded from
// the module: the module's editor needs an X server.
#include "analyzer/SpectrumAnalyzer.h"
#include "editor/MyEditor.h"
#include "gui/Controls.h"
#include "gui/ScriptedDialogs.h"
#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

std::string hertzText(float hz) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<double>(hz),
                                   std::chars_format::fixed, 1);
    return std::string(text, end.ptr) + " Hz";
}

// Opens the editor and switches the input spectrum on, as a click on its button would.
void openWithInputShown(MyEditor& editor, void* parent) {
    ASSERT_TRUE(editor.open(parent));
    gui::CControl* input = editor.control(MyEditor::kShowInput);
    input->setValue(1.0f);
    editor.valueChanged(input);
    ASSERT_TRUE(editor.spectrumWanted());
}

TEST(Concurrency, EditorOpenCloseWhileProcessing) {
    VeltranoVST plugin(quietHost);
    plugin.setSampleRate(48000.0f);
    plugin.resume();
    plugin.setParameter(kHumFilter, 1.0f);
    plugin.setParameter(kHumAutoTrack, 1.0f);
    gui::ScriptedDialogs dialogs;
    auto* editor = new MyEditor(&plugin, dialogs); // headless window; owned by the plug-in
    plugin.installEditor(editor);
    int parent = 0; // stands for the host's window

    // One internal block per call: a 59.8 Hz hum with its harmonics, and noise.
    const auto frames = static_cast<VstInt32>(plugin.hostBlockFrames());
    std::atomic<int> blocks{0};
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> left(static_cast<std::size_t>(frames));
        std::vector<float> right(left.size());
        std::mt19937 random(5);
        std::normal_distribution<float> noise(0.0f, 0.01f);
        double phase = 0.0;
        const double step = 2.0 * std::numbers::pi * 59.8 / 48000.0;
        while (!stop.load()) {
            for (float& x : left) {
                x = static_cast<float>(0.2 * std::sin(phase) + 0.1 * std::sin(3.0 * phase)) +
                    noise(random);
                phase += step;
            }
            right = left;
            float* io[2] = {left.data(), right.data()};
            plugin.processReplacing(io, io, frames);
            blocks.fetch_add(1);
        }
    });

    // Every round lets at least one block pass while the editor is open.
    const auto waitForBlocks = [&](int count) {
        const int until = blocks.load() + count;
        while (blocks.load() < until) {
            editor->idle();
            std::this_thread::yield();
        }
    };
    for (int round = 0; round < 100; ++round) {
        openWithInputShown(*editor, &parent);
        waitForBlocks(round % 10 == 0 ? 1 : 0);
        editor->idle();
        editor->close();
    }

    // Once more, with a field text only the audio thread can replace.
    openWithInputShown(*editor, &parent);
    auto* field = static_cast<gui::CTextEdit*>(editor->control(kHumFrequency));
    field->setText("none");
    waitForBlocks(2);
    stop = true;
    audio.join();

    editor->idle();
    EXPECT_EQ(field->text(), hertzText(plugin.humDetector(0).frequency));
    const std::vector<float>& trace = editor->spectrumView()->traceOf(false);
    EXPECT_GT(*std::max_element(trace.begin(), trace.end()), SpectrumAnalyzer::kFloorDb + 10.0f);
    editor->close();
}

} // namespace
