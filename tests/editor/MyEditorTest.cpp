// The editor window driven headless: controls clicked through the frame, fields committed as
// the platform's edit box would, and parameter changes coming back through the plug-in.
#include "editor/MyEditor.h"

#include "analyzer/SpectrumAnalyzer.h"
#include "gui/Controls.h"
#include "gui/HeadlessWindow.h"
#include "gui/Png.h"
#include "gui/ScriptedDialogs.h"
#include "platform/Desktop.h"
#include "plugin/VeltranoVST.h"
#include "resources/Skin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<VstInt32, float>> automated; // audioMasterAutomate calls, in order
std::vector<VstInt32> hostCalls;                   // every opcode, in order

// The host's file selector: offered when `hostSelectAnswer` is set, which it then returns.
std::optional<std::string> hostSelectAnswer;
VstFileSelect hostSelectRequest{};
VstFileType hostSelectType{};
std::string hostSelectFolder;
std::vector<char> hostSelectBuffer;

VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr,
                                    float opt) {
    hostCalls.push_back(opcode);
    switch (opcode) {
    case audioMasterAutomate:
        automated.emplace_back(index, opt);
        return 0;
    case audioMasterVersion:
        return kVstVersion;
    case audioMasterCanDo: {
        const std::string asked = static_cast<const char*>(ptr);
        return hostSelectAnswer.has_value() &&
               (asked == "openFileSelector" || asked == "closeFileSelector");
    }
    case audioMasterOpenFileSelector: {
        auto* select = static_cast<VstFileSelect*>(ptr);
        hostSelectRequest = *select;
        hostSelectType = *select->fileTypes;
        hostSelectFolder = select->initialPath;
        hostSelectBuffer.assign(hostSelectAnswer->begin(), hostSelectAnswer->end());
        hostSelectBuffer.push_back('\0');
        select->returnPath = hostSelectBuffer.data();
        return 1;
    }
    default:
        return 0;
    }
}

gui::Point centre(const gui::Rect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

class MyEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        automated.clear();
        hostCalls.clear();
        hostSelectAnswer.reset();
        plugin.setSampleRate(48000.0f);
        editor = new MyEditor(&plugin, dialogs, [this](void*) {
            auto headless = std::make_unique<gui::HeadlessWindow>();
            window = headless.get();
            return headless;
        });
        MyEditor::Desktop desktop;
        desktop.installFolderPath = [this](std::string_view fileName) {
            return platform::pathInFolder(installFolder, fileName);
        };
        desktop.openFile = [this](const std::string& path) {
            opened.push_back(path);
            return true;
        };
        desktop.tickCount = [this] { return ticks; };
        desktop.sleep = [this](int ms) { ticks += static_cast<std::uint32_t>(ms); };
        editor->setDesktop(desktop);
        // Installed here only, so that the plug-in's setParameter reaches the editor.
        plugin.installEditor(editor);
        ASSERT_TRUE(editor->open(&parent));
    }

    gui::CControl& control(int tag) { return *editor->control(tag); }
    std::string text(int tag) { return static_cast<gui::CTextEdit&>(control(tag)).text(); }
    float value(int tag) { return control(tag).value(); }

    void press(gui::Point where, int buttons = gui::kLButton) {
        editor->frameView()->mouseDown(where, buttons);
    }
    void release(gui::Point where) { editor->frameView()->mouseUp(where, 0); }
    void click(gui::Point where, int buttons = gui::kLButton) {
        press(where, buttons);
        release(where);
    }
    void click(int tag) { click(centre(control(tag).rect())); }
    // Rows of a rocker's upper and lower half.
    void clickRocker(int tag, bool upper, int times = 1) {
        const gui::Rect& r = control(tag).rect();
        for (int i = 0; i < times; ++i) {
            click({r.left + 2, upper ? r.top + 2 : r.bottom - 2});
        }
    }
    // A click opens the platform's edit box; Enter commits the typed text.
    void type(int tag, const std::string& typed) {
        click(tag);
        ASSERT_EQ(window->editedField(), &control(tag));
        window->editedField()->commit(typed);
    }

    gui::ScriptedDialogs dialogs;
    VeltranoVST plugin{recordingHost};
    MyEditor* editor = nullptr; // owned by the plug-in
    gui::HeadlessWindow* window = nullptr;
    int parent = 0; // stands for the host's window
    // What the editor's desktop answers and was asked.
    std::optional<std::string> installFolder = ::testing::TempDir();
    std::vector<std::string> opened;
    std::uint32_t ticks = 0;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(MyEditorTest, OpenBuildsEveryControlAndTheView) {
    ERect* rect = nullptr;
    ASSERT_TRUE(editor->getRect(&rect));
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 470);
    EXPECT_EQ(rect->right, 576);
    EXPECT_TRUE(editor->isOpen());

    int sliders = 0, onOff = 0, kicks = 0, rockers = 0, fields = 0;
    for (int tag = 0; tag < MyEditor::kNumTags; ++tag) {
        gui::CControl* c = editor->control(tag);
        ASSERT_NE(c, nullptr) << tag;
        ASSERT_EQ(c->tag(), tag);
        sliders += dynamic_cast<gui::CVerticalSlider*>(c) != nullptr;
        onOff += dynamic_cast<gui::COnOffButton*>(c) != nullptr;
        kicks += dynamic_cast<gui::CKickButton*>(c) != nullptr;
        rockers += dynamic_cast<gui::CRockerSwitch*>(c) != nullptr;
        fields += dynamic_cast<gui::CTextEdit*>(c) != nullptr;
    }
    EXPECT_EQ(sliders, 24);
    EXPECT_EQ(onOff, 14);
    EXPECT_EQ(kicks, 5);
    EXPECT_EQ(rockers, 3);
    EXPECT_EQ(fields, 26);

    EXPECT_EQ(control(kEqBand19).rect(), (gui::Rect{425, 357, 440, 413}));
    EXPECT_EQ(control(kMaxGain).rect(), (gui::Rect{544, 351, 559, 407}));
    EXPECT_EQ(control(MyEditor::kFreeze).rect(), (gui::Rect{93, 162, 115, 183}));
    EXPECT_EQ(control(MyEditor::kAveragingStep).rect(), (gui::Rect{167, 126, 179, 144}));
    EXPECT_EQ(control(kEqBandEntry19).rect(), (gui::Rect{424, 417, 442, 429}));
    EXPECT_EQ(control(kEqPresetHighCut).rect(), (gui::Rect{9, 410, 37, 431}));
    EXPECT_EQ(static_cast<gui::CVerticalSlider&>(control(kHumAttenuation)).handleTop(),
              224 + static_cast<int>(std::lround((1.0f - value(kHumAttenuation)) * 31)));

    EXPECT_EQ(value(kEqBand0), plugin.getParameter(kEqBand0));
    EXPECT_EQ(value(kMaxGain), plugin.getParameter(kMaxGain));
    EXPECT_EQ(value(MyEditor::kAveragingStep), 4.0f);
    EXPECT_EQ(text(MyEditor::kAveragingField), "4");
    EXPECT_EQ(text(kHumFrequency), "60.0 Hz");
    EXPECT_EQ(text(kEqBandEntry0), "0");
    EXPECT_EQ(text(kHumAttenuationEntry), "60.0");
    EXPECT_EQ(text(kPredictableAttenuationEntry), "100%");
    EXPECT_EQ(text(kMaxGainEntry), "10.0");

    const SpectrumAnalyzer& view = *editor->spectrumView();
    EXPECT_EQ(view.rect(), (gui::Rect{231, 66, 568, 181}));
    EXPECT_TRUE(view.showCursor);
    EXPECT_EQ(view.displayMode, 0);
    EXPECT_EQ(view.averaging, 4);
    EXPECT_TRUE(view.lineGraph);
    EXPECT_EQ(view.displayedBins(), 1024 - 163 - 1);
    EXPECT_EQ(view.sampleRate, static_cast<unsigned>(plugin.getSampleRate()));
}

TEST_F(MyEditorTest, RendersTheControlsOnTheSkin) {
    plugin.setParameter(kEqBand0, 0.0f);
    plugin.setParameter(kEqBand0 + 1, 0.5f);
    plugin.setParameter(kAutoGain, 1.0f);
    editor->frameView()->redrawAll(); // as the platform window does when it first shows
    const gui::Surface& surface = editor->frameView()->surface();
    ASSERT_TRUE(gui::writePng(surface, ::testing::TempDir() + "editor.png"));

    // The handle of band 0 sits at the bottom of its travel, centred on the track.
    const gui::Bitmap handle = skin::bitmap(skin::kSliderHandle);
    const gui::Point inHandle{handle.width() / 2, handle.height() / 2};
    EXPECT_EQ(surface.color(45 + 0 + inHandle.x, 388 + inHandle.y),
              handle.pixel(inHandle.x, inHandle.y));
    // The Auto Gain lamp shows its "on" sub-image.
    const gui::Bitmap lamp = skin::bitmap(skin::kGreenLampButton);
    EXPECT_EQ(surface.color(480 + 10, 312 + 10), lamp.pixel(10, 30));
    // Text fields are black boxes with white text.
    EXPECT_EQ(surface.color(166, 283), gui::kBlack);
}

TEST_F(MyEditorTest, TypedEntriesComeBackInTheirCanonicalForm) {
    type(kHumAttenuationEntry, "abc");
    EXPECT_EQ(value(kHumAttenuation), 1.0f);
    EXPECT_EQ(text(kHumAttenuationEntry), "0.0");
    type(kHumAttenuationEntry, "20");
    EXPECT_EQ(text(kHumAttenuationEntry), "20.0");

    type(kHumFrequency, "100");
    EXPECT_EQ(plugin.getParameter(kHumFrequency), 1.0f);
    EXPECT_EQ(text(kHumFrequency), "68.2 Hz");
    type(kHumFrequency, "50");
    EXPECT_EQ(text(kHumFrequency), "50.0 Hz");

    type(kEqBandEntry0 + 3, "-5");
    EXPECT_EQ(text(kEqBandEntry0 + 3), "0");
    EXPECT_EQ(value(3), 1.0f);
    type(kEqBandEntry0 + 3, "45");
    EXPECT_EQ(text(kEqBandEntry0 + 3), "30");
    EXPECT_EQ(value(3), 0.0f);

    type(kPredictableAttenuationEntry, "25");
    EXPECT_EQ(plugin.getParameter(kPredictableAttenuation), 0.75f);
    EXPECT_EQ(text(kPredictableAttenuationEntry), "25%");

    type(kMaxGainEntry, "12.5");
    EXPECT_NEAR(value(kMaxGain), 0.2083f, 1e-4f);
    EXPECT_EQ(text(kMaxGainEntry), "12.5");

    // The averaging field has no case of its own: the text stays until the rocker rewrites it.
    type(MyEditor::kAveragingField, "9");
    EXPECT_EQ(text(MyEditor::kAveragingField), "9");
    EXPECT_EQ(editor->spectrumView()->averaging, 4);
}

TEST_F(MyEditorTest, NumbersAreReadAsAtofReadsThemInTheCLocale) {
    EXPECT_EQ(MyEditor::parseNumber(" \t12.5 dB"), 12.5);
    EXPECT_EQ(MyEditor::parseNumber("+3"), 3.0);
    EXPECT_EQ(MyEditor::parseNumber("-.5e1x"), -5.0);
    EXPECT_EQ(MyEditor::parseNumber("7e"), 7.0);
    EXPECT_EQ(MyEditor::parseNumber("5,5"), 5.0); // a decimal comma is not a decimal point
    EXPECT_EQ(MyEditor::parseNumber(""), 0.0);
    EXPECT_EQ(MyEditor::parseNumber("abc"), 0.0);
    EXPECT_EQ(MyEditor::parseNumber("--5"), 0.0);
    EXPECT_EQ(MyEditor::parseNumber("-."), 0.0);
    EXPECT_EQ(MyEditor::parseNumber("inf"), 0.0);
    EXPECT_EQ(MyEditor::parseNumber("1e999"), HUGE_VAL);
    EXPECT_EQ(MyEditor::parseNumber("-0.001e999"), -HUGE_VAL);
    EXPECT_EQ(MyEditor::parseNumber("1e-999"), 0.0);

    type(kMaxGainEntry, "1e999");
    EXPECT_EQ(text(kMaxGainEntry), "60.0");
}

TEST_F(MyEditorTest, SetParameterFormatsInSinglePrecisionAndCutsLongTexts) {
    // 100 · 0.07f rounds to 7 in single precision; in double the result would truncate to 92.
    editor->setParameter(kPredictableAttenuation, 0.07f);
    EXPECT_EQ(text(kPredictableAttenuationEntry), "93%");
    EXPECT_EQ(value(kPredictableAttenuation), 0.07f);

    editor->setParameter(kHumAttenuation, 2.0f);
    EXPECT_EQ(text(kHumAttenuationEntry), "-60.0");
    EXPECT_EQ(value(kHumAttenuation), 1.0f); // the slider holds 0 … 1
    editor->setParameter(kHumAttenuationEntry, 1.0e6f);
    EXPECT_EQ(text(kHumAttenuationEntry), "-59999940"); // of "-59999940.0"
    editor->setParameter(kRandomAttenuation, 1.0e12f);
    EXPECT_EQ(text(kRandomAttenuationEntry), "-21474836"); // int's limit, then cut
    editor->setParameter(kHumFrequency, 1.0e6f);
    EXPECT_EQ(text(kHumFrequency), "23730044.");
    editor->setParameter(kEqBandEntry0 + 2, -1.0f);
    EXPECT_EQ(text(kEqBandEntry0 + 2), "60");
    editor->setParameter(kAutoNormalize, 1.0f);
    EXPECT_EQ(value(kAutoNormalize), 1.0f);

    // Indices without a control change nothing.
    const std::string before = text(MyEditor::kAveragingField);
    editor->setParameter(MyEditor::kAveragingField, 1.0f);
    editor->setParameter(200, 1.0f);
    EXPECT_EQ(text(MyEditor::kAveragingField), before);
}

TEST_F(MyEditorTest, SlidersButtonsAndRockersReachThePlugin) {
    const gui::Rect band5 = control(5).rect();
    click({band5.left + 7, 357 + 12}); // handle centre at the top
    EXPECT_EQ(plugin.getParameter(5), 1.0f);
    EXPECT_EQ(text(kEqBandEntry0 + 5), "0");
    click({band5.left + 7, 380}, gui::kLButton | gui::kControl);
    EXPECT_EQ(plugin.getParameter(5), 0.5f);
    EXPECT_EQ(value(5), 0.5f);
    EXPECT_EQ(text(kEqBandEntry0 + 5), "15");

    click(kHumFilter);
    EXPECT_EQ(plugin.getParameter(kHumFilter), 1.0f);

    // Rockers forward only the press; the release (0) is not a command.
    automated.clear();
    clickRocker(kEqShift, false); // +1: every band 1 dB further down
    EXPECT_EQ(text(kEqBandEntry0 + 5), "16");
    clickRocker(kHumFrequencyStep, true); // -1: 0.01 up
    EXPECT_EQ(text(kHumFrequency), "60.2 Hz");
    EXPECT_EQ(automated, (std::vector<std::pair<VstInt32, float>>{{kEqShift, 1.0f},
                                                                  {kHumFrequencyStep, -1.0f}}));
}

TEST_F(MyEditorTest, EqualizerPresetClickEqualsOneApplication) {
    VeltranoVST reference(recordingHost);
    reference.setSampleRate(48000.0f);
    plugin.setParameter(4, 0.2f);
    reference.setParameter(4, 0.2f);
    for (int tag : {kEqPresetLowCut, kEqFlat, kEqPresetHighCut}) {
        automated.clear();
        click(tag);
        EXPECT_EQ(automated, (std::vector<std::pair<VstInt32, float>>{{tag, 1.0f}, {tag, 0.0f}}));
        reference.setParameter(tag, 1.0f);
        for (int band = 0; band < kNumEqBands; ++band) {
            ASSERT_EQ(plugin.getParameter(band), reference.getParameter(band)) << tag << band;
            ASSERT_EQ(plugin.bandGain(band), reference.bandGain(band)) << tag << band;
        }
    }
    // After the high-cut preset the low bands are flat and the top band is cut.
    EXPECT_EQ(text(kEqBandEntry0), "0");
    EXPECT_EQ(text(kEqBandEntry19), "28");
    EXPECT_LT(value(kEqBand19), 0.1f);
}

TEST_F(MyEditorTest, ReportAndHelpActOnPressOnly) {
    const gui::Point report = centre(control(MyEditor::kReport).rect());
    press(report);
    EXPECT_EQ(dialogs.saveRequests().size(), 1u); // cancelled: nothing written or opened
    release(report);
    EXPECT_EQ(dialogs.saveRequests().size(), 1u);
    click(MyEditor::kHelp); // no manual in the folder
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].caption, "File Not Found");
    EXPECT_EQ(dialogs.messages()[0].text, "Could not find Veltrano Help file.");
    EXPECT_EQ(dialogs.saveRequests().size(), 1u);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(automated.empty());
}

TEST_F(MyEditorTest, ReportReplacesTheChosenFileWithCrLfTextAndOpensIt) {
    const std::string path = ::testing::TempDir() + "setup report \xc3\xbc.txt";
    std::ofstream(path) << std::string(10000, 'x'); // an older, longer file
    dialogs.queueSaveAnswer(path);
    click(MyEditor::kReport);
    ASSERT_EQ(dialogs.saveRequests().size(), 1u);
    const gui::SaveFileRequest& request = dialogs.saveRequests()[0];
    EXPECT_EQ(request.title, "Save Veltrano Settings File");
    EXPECT_EQ(request.typeName, "VT-VST Settings Files");
    EXPECT_EQ(request.extension, "txt");
    EXPECT_EQ(request.folder, ::testing::TempDir());

    const std::string written = readFile(path);
    EXPECT_EQ(written.rfind("\t\t\t\t\t\t\t\tPage 1 of 1\r\n\r\nCase Number/ID:", 0), 0u);
    EXPECT_TRUE(written.ends_with("\r\nExaminer's Initials:____________\r\n\r\nEND OF REPORT\r\n"));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'),
              std::count(written.begin(), written.end(), '\r'));
    EXPECT_EQ(opened, std::vector<std::string>{path});
    EXPECT_TRUE(dialogs.messages().empty());
}

TEST_F(MyEditorTest, ReportThatCannotBeWrittenShowsAnErrorAndOpensNothing) {
    const std::string path = ::testing::TempDir() + "no such folder/report.txt";
    dialogs.queueSaveAnswer(path);
    click(MyEditor::kReport);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].caption, "Error");
    EXPECT_EQ(dialogs.messages()[0].text, "The setup report could not be written to " + path + ".");
    EXPECT_TRUE(opened.empty());
}

TEST_F(MyEditorTest, ReportUsesTheHostsFileSelectorWhenItHasOne) {
    const std::string path = ::testing::TempDir() + "from the host.txt";
    hostSelectAnswer = path;
    click(MyEditor::kReport);
    EXPECT_TRUE(dialogs.saveRequests().empty());
    EXPECT_EQ(hostSelectRequest.command, kVstFileSave);
    EXPECT_EQ(hostSelectRequest.nbFileTypes, 1);
    EXPECT_STREQ(hostSelectRequest.title, "Save Veltrano Settings File");
    EXPECT_STREQ(hostSelectType.name, "VT-VST Settings Files");
    EXPECT_STREQ(hostSelectType.dosType, "txt");
    EXPECT_EQ(hostSelectFolder, ::testing::TempDir());
    EXPECT_EQ(std::count(hostCalls.begin(), hostCalls.end(), audioMasterCloseFileSelector), 1);
    EXPECT_TRUE(readFile(path).ends_with("END OF REPORT\r\n"));
    EXPECT_EQ(opened, std::vector<std::string>{path});
}

TEST_F(MyEditorTest, HelpOpensTheManualBesideThePlugin) {
    const std::string folder = ::testing::TempDir() + "installed/";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + MyEditor::kHelpFile) << "<!DOCTYPE html>";
    installFolder = folder.substr(0, folder.size() - 1); // without the final '/'
    click(MyEditor::kHelp);
    EXPECT_EQ(opened, std::vector<std::string>{folder + MyEditor::kHelpFile});
    EXPECT_TRUE(dialogs.messages().empty());

    installFolder.reset(); // the system cannot say where the plug-in is
    click(MyEditor::kHelp);
    click(MyEditor::kReport);
    ASSERT_EQ(dialogs.messages().size(), 3u);
    EXPECT_EQ(dialogs.messages()[0].caption, "Error");
    EXPECT_EQ(dialogs.messages()[0].text, "Failed on SHGetFolderPath().");
    EXPECT_EQ(dialogs.messages()[1].text, "Failed to generate path to help files.");
    EXPECT_EQ(dialogs.messages()[2].text, "Failed on SHGetFolderPath().");
    EXPECT_TRUE(dialogs.saveRequests().empty());
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(MyEditorTest, KeysAndWheelMoveTheFocusedOrPointedSlider) {
    click(kEqBand0 + 4); // the handle jumps under the pointer; the slider takes the focus
    const float start = value(kEqBand0 + 4);
    automated.clear();
    hostCalls.clear();
    VstKeyCode up{0, VKEY_UP, 0};
    EXPECT_TRUE(editor->onKeyDown(up));
    EXPECT_FLOAT_EQ(value(kEqBand0 + 4), start + 0.01f);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].first, kEqBand0 + 4);
    EXPECT_FLOAT_EQ(plugin.getParameter(kEqBand0 + 4), start + 0.01f);
    EXPECT_EQ(hostCalls.front(), audioMasterBeginEdit);
    EXPECT_EQ(hostCalls.back(), audioMasterEndEdit);
    VstKeyCode end{0, VKEY_END, 0};
    EXPECT_TRUE(editor->onKeyDown(end));
    EXPECT_EQ(value(kEqBand0 + 4), 0.0f);
    VstKeyCode letter{'a', 0, 0};
    EXPECT_FALSE(editor->onKeyDown(letter));
    EXPECT_FALSE(editor->onKeyUp(up));

    EXPECT_FALSE(editor->onWheel(1.0f)); // the pointer's place is unknown
    window->setPointer(centre(control(kMaxGain).rect()));
    const float gain = value(kMaxGain);
    EXPECT_TRUE(editor->onWheel(-2.0f));
    EXPECT_FLOAT_EQ(value(kMaxGain), gain - 0.04f);
    EXPECT_FLOAT_EQ(plugin.getParameter(kMaxGain), gain - 0.04f);
}

TEST_F(MyEditorTest, DoIdleStuffCallsTheHostAtMostEvery100Ms) {
    const auto idles = [] {
        return std::count(hostCalls.begin(), hostCalls.end(), audioMasterIdle);
    };
    ticks = 1000;
    editor->doIdleStuff(); // due at once
    EXPECT_EQ(idles(), 1);
    ticks = 1020; // due at 1100: sleeps 4 ms, still more than 50 ms early
    editor->doIdleStuff();
    EXPECT_EQ(idles(), 1);
    EXPECT_EQ(ticks, 1024u);
    ticks = 1047; // after the sleep within 50 ms of 1100: goes ahead, next due at 1151
    editor->doIdleStuff();
    EXPECT_EQ(idles(), 2);
    ticks = 1090; // 1094 after the sleep, more than 50 ms before 1151
    editor->doIdleStuff();
    EXPECT_EQ(idles(), 2);
}

TEST_F(MyEditorTest, AveragingRockerStepsWithoutBound) {
    clickRocker(MyEditor::kAveragingStep, true, 3);
    EXPECT_EQ(text(MyEditor::kAveragingField), "7");
    EXPECT_EQ(editor->spectrumView()->averaging, 7);
    EXPECT_EQ(value(MyEditor::kAveragingStep), 0.0f); // rests at 0 after the first release

    editor->close();
    ASSERT_TRUE(editor->open(&parent));
    clickRocker(MyEditor::kAveragingStep, false, 10);
    EXPECT_EQ(text(MyEditor::kAveragingField), "-6");
    EXPECT_EQ(editor->spectrumView()->averaging, -6);
}

TEST_F(MyEditorTest, SpectrumButtonsSetTheDisplayMode) {
    SpectrumAnalyzer& view = *editor->spectrumView();
    std::vector<int> modes;
    for (int tag : {MyEditor::kShowInput, MyEditor::kShowOutput, MyEditor::kShowInput,
                    MyEditor::kShowOutput}) {
        click(tag);
        modes.push_back(view.displayMode);
    }
    EXPECT_EQ(modes, (std::vector<int>{0, 2, 1, 1}));
    EXPECT_EQ(value(MyEditor::kShowInput), 0.0f);
    EXPECT_EQ(value(MyEditor::kShowOutput), 0.0f);

    click(MyEditor::kMaxPeak);
    EXPECT_TRUE(view.maxPeak);
    click(MyEditor::kFreeze);
    EXPECT_TRUE(editor->freeze);
    click(MyEditor::kFreeze);
    EXPECT_FALSE(editor->freeze);
    EXPECT_TRUE(automated.empty()); // the panel is the editor's own
}

TEST_F(MyEditorTest, ReopenStartsFromTheStoredParameters) {
    click(MyEditor::kShowInput);
    click(MyEditor::kMaxPeak);
    click(MyEditor::kFreeze);
    clickRocker(MyEditor::kAveragingStep, true);
    editor->close();
    EXPECT_FALSE(editor->isOpen());
    EXPECT_EQ(editor->control(kEqBand0), nullptr);
    EXPECT_EQ(editor->spectrumView(), nullptr);

    // Closed: the plug-in stores, the editor shows nothing (and touches no control).
    plugin.setParameter(kEqFlat, 1.0f);
    plugin.setParameter(kEqBand0 + 7, 0.25f);
    plugin.setParameter(kReverb, 1.0f);
    plugin.setParameter(kRandomAttenuation, 0.4f);
    editor->setEqBandText(3, 12.0f);
    editor->setEqBandSlider(3, 0.5f);
    editor->idle();

    ASSERT_TRUE(editor->open(&parent));
    EXPECT_EQ(value(kEqBand0 + 7), plugin.getParameter(kEqBand0 + 7));
    EXPECT_EQ(text(kEqBandEntry0 + 7), "22");
    EXPECT_EQ(text(kEqBandEntry0 + 3), "0");
    EXPECT_EQ(value(kReverb), 1.0f);
    EXPECT_EQ(value(kRandomAttenuation), 0.4f);
    EXPECT_EQ(text(kRandomAttenuationEntry), "60%");
    EXPECT_EQ(text(MyEditor::kAveragingField), "4");
    EXPECT_EQ(value(MyEditor::kAveragingStep), 4.0f);
    EXPECT_EQ(editor->spectrumView()->displayMode, 0);
    EXPECT_EQ(editor->spectrumView()->averaging, 4);
    EXPECT_FALSE(editor->spectrumView()->maxPeak);
    EXPECT_EQ(value(MyEditor::kShowInput), 0.0f);
    EXPECT_EQ(value(MyEditor::kMaxPeak), 0.0f);
    // Freeze stays on across the reopen and its button says so.
    EXPECT_TRUE(editor->freeze);
    EXPECT_EQ(value(MyEditor::kFreeze), 1.0f);
    click(MyEditor::kFreeze);
    EXPECT_FALSE(editor->freeze);
}

TEST_F(MyEditorTest, ChangesFromAnotherThreadShowAtIdleNewestFirst) {
    const std::string frequencyBefore = text(kHumFrequency);
    ASSERT_EQ(text(kHumAttenuationEntry), "60.0");
    std::thread([this] {
        plugin.setParameter(kHumAttenuation, 0.5f);
        plugin.setParameter(kEqShift, 1.0f); // band texts through setEqBandText: "1"
        plugin.setParameter(kEqBand0, 0.5f); // then band 0 itself: "15"
        editor->setHumFrequencyText(50.04f); // the chain's text
        editor->setParameter(kAutoGain, 1.0f);
    }).join();
    EXPECT_EQ(text(kHumAttenuationEntry), "60.0"); // nothing touched off the GUI thread
    EXPECT_EQ(text(kHumFrequency), frequencyBefore);
    EXPECT_EQ(value(kAutoGain), 0.0f);

    editor->idle();
    EXPECT_EQ(value(kHumAttenuation), 0.5f);
    EXPECT_EQ(text(kHumAttenuationEntry), "30.0");
    EXPECT_EQ(text(kEqBandEntry0), "15");
    EXPECT_EQ(value(kEqBand0), 0.5f);
    EXPECT_EQ(text(kEqBandEntry0 + 1), "1");
    EXPECT_EQ(text(kHumFrequency), "50.0 Hz");
    EXPECT_EQ(value(kAutoGain), 1.0f);
}

TEST_F(MyEditorTest, SpectrumIsWantedWhileShownAndNotFrozen) {
    EXPECT_FALSE(editor->spectrumWanted());
    click(MyEditor::kShowOutput);
    EXPECT_TRUE(editor->spectrumWanted());
    click(MyEditor::kFreeze);
    EXPECT_FALSE(editor->spectrumWanted());
    click(MyEditor::kFreeze);
    click(MyEditor::kShowOutput);
    click(MyEditor::kShowInput);
    EXPECT_TRUE(editor->spectrumWanted());

    // A fed block reaches the view at the next idle.
    std::vector<float> block(2048);
    for (std::size_t n = 0; n < block.size(); ++n) {
        block[n] = 0.5f * std::sin(0.3f * static_cast<float>(n));
    }
    editor->feedSpectrum(2048, block.data(), block.data());
    editor->idle();
    const std::vector<float>& trace = editor->spectrumView()->traceOf(false);
    EXPECT_GT(*std::max_element(trace.begin(), trace.end()), SpectrumAnalyzer::kFloorDb + 10.0f);

    editor->close();
    EXPECT_FALSE(editor->spectrumWanted());
    editor->feedSpectrum(2048, block.data(), block.data()); // no view: nothing happens
}

TEST_F(MyEditorTest, IdleGivesTheViewANewSampleRate) {
    ASSERT_EQ(editor->spectrumView()->sampleRate, 16000u); // the internal rate at 48 kHz
    plugin.setSampleRate(44100.0f);
    editor->idle();
    EXPECT_EQ(editor->spectrumView()->sampleRate, 14700u);
}

TEST_F(MyEditorTest, OpenFailsWhenNoWindowCanBeMade) {
    MyEditor windowless(&plugin, dialogs, [](void*) { return std::unique_ptr<gui::Window>(); });
    EXPECT_FALSE(windowless.open(&parent));
    EXPECT_FALSE(windowless.isOpen());
    EXPECT_EQ(windowless.frameView(), nullptr);
}

} // namespace
