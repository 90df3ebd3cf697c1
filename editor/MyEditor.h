// The plug-in's window: the 576 × 470 skin with its bitmap controls, the numeric text fields and
// the spectrum view, at fixed positions. Every control carries a tag: 0–34 are the plug-in's
// parameter indices, 43–71 its command indices, 35–42 the editor's own (spectrum panel,
// Report, Help).
//
// Two paths meet here. A user action reaches valueChanged, which acts locally or forwards the
// tag and a value to the plug-in's setParameterAutomated. Every parameter change, from the
// host or from the editor, ends in the plug-in's setParameter, which forwards it to this
// setParameter; that moves the controls and rewrites the texts in their canonical formats (at
// once on the user-interface thread, otherwise at the next idle; see Threads).
//
// Texts: numbers are written and read without the C locale's influence (a host may have set
// a decimal comma). A parameter text keeps at most 9 characters and the averaging text at most
// 5; a value outside 0 … 1 whose text is longer shows its first characters.
//
// Threads: open, close, idle and valueChanged run on the host's user-interface thread (the
// thread that called open). Everything another thread may call (setParameter, setEqBandText,
// setEqBandSlider, setHumFrequencyText, spectrumWanted, feedSpectrum, isOpen) takes no lock,
// allocates nothing and touches no control: what a control should show is posted into one atomic
// slot per tag (the newest post wins) and applied at the next idle. A post from the
// user-interface thread itself is applied at once. The chain reads the Input and Output buttons
// through atomic mirrors and `freeze`, and feeds the view through an atomic pointer: close
// withdraws the pointer and waits until no feed is running before the view is destroyed; the
// audio thread never waits.
#pragma once

#include "gui/Bitmap.h"
#include "gui/Control.h"
#include "gui/FileSelector.h"
#include "gui/Font.h"
#include "gui/Frame.h"
#include "gui/Platform.h"
#include "platform/Desktop.h"
#include "plugin/EditorLink.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace gui {
class CTextEdit;
class CVerticalSlider;
class Dialogs;
} // namespace gui

class SpectrumAnalyzer;
class VeltranoVST;

class MyEditor : public EditorLink, public gui::CControlListener {
public:
    // Makes the platform window inside the host's parent window.
    using WindowFactory = std::function<std::unique_ptr<gui::Window>(void* parent)>;

    // What the editor asks of the system for the Report and Help buttons and for its idle
    // pacing; tests put stand-ins here.
    struct Desktop {
        // The install folder followed by a file name (platform::installFolderPath), or the
        // step that failed.
        std::function<platform::InstallPath(std::string_view fileName)> installFolderPath;
        // Where else the manual may be when it is not in the install folder (Windows: beside
        // the plug-in's DLL, for a plug-in copied rather than installed); empty for nowhere.
        std::function<std::optional<std::string>()> manualFolder;
        // Opens a file with the user's default program; false when that could not start.
        std::function<bool(const std::string&)> openFile;
        // The desktop's own save dialog; empty for none.
        gui::DesktopSave saveDialog;
        // A millisecond tick count, and a sleep of so many milliseconds.
        std::function<std::uint32_t()> tickCount;
        std::function<void(int)> sleep;

        static Desktop system();
    };

    // The manual, installed beside the plug-in (Windows: in the install folder).
    static constexpr const char* kHelpFile = "VeltranoVST.html";
    // The longest path the report and help requests build, terminating zero included.
    static constexpr std::size_t kMaxPath = platform::kMaxInstallPath;

    // The editor's own tags.
    static constexpr int kShowInput = 35;
    static constexpr int kShowOutput = 36;
    static constexpr int kMaxPeak = 37;
    static constexpr int kFreeze = 38;
    static constexpr int kAveragingField = 39;
    static constexpr int kReport = 40;
    static constexpr int kHelp = 41;
    static constexpr int kAveragingStep = 42;
    static constexpr int kNumTags = 72; // 0 … 71

    static constexpr int kWidth = 576;  // pixels, the background's size
    static constexpr int kHeight = 470; // pixels
    static constexpr int kInitialAveraging = 4;

    // Without a factory the window is a gui::HeadlessWindow. `plugin` and `dialogs` must
    // outlive the editor.
    MyEditor(VeltranoVST* plugin, gui::Dialogs& dialogs, WindowFactory makeWindow = {});
    ~MyEditor() override;

    // AEffEditor.
    bool getRect(ERect** rect) override;
    // Builds the frame, every control and the spectrum view inside `parent`. False (and
    // nothing built) for a null parent or when the factory makes no window; an open editor is
    // closed first.
    bool open(void* parent) override;
    // Withdraws the view from the chain, waits for a feed still running, then destroys the
    // frame and the window.
    void close() override;
    // Applies what other threads posted, keeps the view's sample rate and lets the window
    // deliver its events and redraw.
    void idle() override;
    bool isOpen() override { return opened.load(std::memory_order_acquire); }
    void setParameter(VstInt32 index, float value) override;
    // Keys the host passes on go to the control holding the focus (the last one clicked): the
    // sliders take the arrow keys, Page Up/Down, Home and End. True when a control took it.
    // No control takes key releases (AEffEditor::onKeyUp answers false).
    bool onKeyDown(VstKeyCode& key) override;
    // The wheel turned `distance` notches, for the control under the pointer.
    bool onWheel(float distance) override;
    // For a platform whose controls track the mouse in a loop of their own: keeps the window
    // painting and gives the host its idle call at most every 100 ms meanwhile.
    void doIdleStuff() override;

    // EditorLink.
    void setEqBandText(int band, float cutDb) override;
    void setEqBandSlider(int band, float position) override;
    // "%0.1f Hz" of hz in the hum frequency field, at the next idle.
    void setHumFrequencyText(float hz) override;
    // Open, Input or Output at exactly 1, and not frozen.
    bool spectrumWanted() override;
    // Passes the block to the view's feed while a view is shown; nothing otherwise.
    void feedSpectrum(int count, const float* input, const float* output) override;

    // gui::CControlListener.
    void valueChanged(gui::CControl* control) override;
    void beginEdit(int tag) override;
    void endEdit(int tag) override;

    void setDesktop(Desktop services) { desktop = std::move(services); }

    // The Report button: the setup report written where the user chooses, then opened.
    // Nothing for a cancelled dialog; an "Error" message when the file cannot be written.
    void saveSetupReport();
    // The Help button: the manual opened with the desktop's default program; where it is not
    // in the install folder, the one in the desktop's manualFolder.
    void showHelp();
    // The install folder followed by `fileName` into `path`; after a failure the message of
    // the step that failed has been shown (caption "Error") and the answer is false.
    bool installFolderPath(std::string_view fileName, std::string& path);

    // While open: the control of a tag (null for other tags), the spectrum view and the frame.
    // Null while closed.
    gui::CControl* control(int tag) const;
    SpectrumAnalyzer* spectrumView() const { return spectrum; }
    gui::CFrame* frameView() const { return frame.get(); }

    // Set by the Freeze button (value 1 on); kept across close and open.
    std::atomic<bool> freeze{false};

    // The standard library's atof of a text in the C locale, for decimal numbers: leading
    // white space skipped, an optional sign, the longest leading decimal number (digits with
    // an optional point and exponent) read, 0 when there is none. Values too large for a double
    // give ±HUGE_VAL, too small ±0.
    static double parseNumber(std::string_view text);

private:
    // What a posted slot asks of its control; the kind sits in the slot's upper 32 bits, the
    // float's bits in the lower ones, 0 meaning nothing posted.
    enum class Shown : std::uint32_t { Nothing, Value, ParameterText, WholeText, HertzText };

    // Any thread: stores the newest request for `tag`; applied at once on the GUI thread.
    void post(int tag, Shown kind, float value);
    // GUI thread: takes the slot of `tag` and applies it to its control.
    void apply(int tag);
    bool onGuiThread() const;
    gui::CVerticalSlider* slider(int tag) const;
    gui::CTextEdit* field(int tag) const;
    // Sets field `tag` to `text`, cut to the parameter texts' 9 characters.
    void setFieldText(int tag, std::string_view text);
    void showDisplayMode(int changedTag);
    void stepAveraging(float value);
    void automate(int index, float value);
    void buildControls();

    VeltranoVST* plugin;   // the owning plug-in
    gui::Dialogs& dialogs; // the report's and help's messages and the toolkit's save dialog
    WindowFactory makeWindow;

    // Skin, loaded at construction; the controls draw from them while open.
    gui::Bitmap background;
    gui::Bitmap sliderHandle;
    gui::Bitmap eqSliderTrack;
    gui::Bitmap panelSliderTrack;
    gui::Bitmap greenLamp;
    gui::Bitmap blueLamp;
    gui::Bitmap yellowLamp;
    gui::Bitmap rocker;
    gui::Bitmap reportButton;
    gui::Bitmap helpButton;
    gui::Bitmap eqFlatButton;
    gui::Bitmap eqLowCutButton;
    gui::Bitmap eqHighCutButton;
    gui::Font normalFont;  // 12 pixels
    gui::Font smallerFont; // 10 pixels

    ERect editorRect{}; // top 0, left 0, bottom 470, right 576

    // While open; the frame is destroyed before the window it presents to.
    std::unique_ptr<gui::Window> window;
    std::unique_ptr<gui::CFrame> frame;
    std::array<gui::CControl*, kNumTags> controls{}; // by tag; owned by the frame
    SpectrumAnalyzer* spectrum = nullptr;            // owned by the frame

    Desktop desktop = Desktop::system();
    std::uint32_t nextIdleTime = 0; // tick count; see doIdleStuff

    // Shared with other threads.
    std::atomic<bool> opened{false};
    std::atomic<std::thread::id> guiThread{};
    std::array<std::atomic<std::uint64_t>, kNumTags> posted{}; // by tag; see Shown
    std::atomic<float> showInput{0.0f};                        // the Input button's value
    std::atomic<float> showOutput{0.0f};                       // the Output button's value
    std::atomic<SpectrumAnalyzer*> liveView{nullptr};          // the view feeds may reach
    std::atomic<int> feeding{0};                               // feeds running now
};
