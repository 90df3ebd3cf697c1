#include "editor/MyEditor.h"

#include "analyzer/SpectrumAnalyzer.h"
#include "editor/SetupReport.h"
#include "gui/Controls.h"
#include "gui/Dialogs.h"
#include "gui/HeadlessWindow.h"
#include "platform/Desktop.h"
#include "plugin/Parameters.h"
#include "plugin/VeltranoVST.h"
#include "resources/Skin.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace {

// A parameter text fills a 10-byte buffer, the averaging text a 6-byte one, each with its
// terminating zero; what does not fit is left off.
constexpr std::size_t kParameterTextLength = 9;
constexpr std::size_t kAveragingTextLength = 5;

constexpr gui::Rect kSpectrumRect{231, 66, 568, 181};

// "%d" of a value truncated towards zero; values beyond int show the nearest int.
std::string wholeText(float value) {
    int whole = 0;
    if (value >= 2147483648.0f) {
        whole = INT_MAX;
    } else if (value < -2147483648.0f) {
        whole = INT_MIN;
    } else {
        whole = static_cast<int>(value); // truncates towards zero; -0.5 gives 0
    }
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text, whole);
    return std::string(text, result.ptr);
}

// "%0.1f" of a float, as printf writes it in the C locale.
std::string oneDecimal(float value) {
    char text[64]; // FLT_MAX has 39 digits
    const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                      std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

// The text a field shows for a parameter value, before it is cut to the buffer. Each form
// a − k·value rounds the product to single precision first, and the result too.
std::string parameterText(int fieldTag, float value) {
    if (fieldTag >= kEqBandEntry0 && fieldTag <= kEqBandEntry19) {
        const float product = kEqRangeDb * value;
        return wholeText(kEqRangeDb - product);
    }
    switch (fieldTag) {
    case kHumFrequency: {
        const float product = kHumFrequencySpan * value;
        return oneDecimal(kHumFrequencyBase + product) + " Hz";
    }
    case kHumAttenuationEntry: {
        const float product = 60.0f * value;
        return oneDecimal(60.0f - product);
    }
    case kPredictableAttenuationEntry:
    case kRandomAttenuationEntry: {
        const float product = 100.0f * value;
        return wholeText(100.0f - product) + "%";
    }
    case kMaxGainEntry: {
        const float product = kMaxGainRangeDb * value;
        return oneDecimal(product);
    }
    default:
        return {};
    }
}

// n limited to lo … hi, then scaled to 0 … 1.
float mapToUnit(double n, double lo, double hi) {
    if (n < lo) {
        n = lo;
    }
    if (n > hi) {
        n = hi;
    }
    return static_cast<float>((n - lo) / (hi - lo));
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// For a decimal number that a double cannot hold: true when its magnitude is at least 1 (it
// overflows), false when it is below (it underflows).
bool aboveOne(const char* first, const char* last) {
    long long magnitude = 0; // the number lies in [10^(magnitude − 1), 10^magnitude)
    bool significant = false;
    bool afterPoint = false;
    const char* p = first;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            afterPoint = true;
        } else if (!significant && *p == '0') {
            magnitude -= afterPoint ? 1 : 0;
        } else if (!significant) {
            significant = true;
            magnitude += afterPoint ? 0 : 1;
        } else if (!afterPoint) {
            ++magnitude;
        }
    }
    long long exponent = 0;
    if (p != last) {
        ++p; // the 'e'
        const bool negative = p != last && *p == '-';
        if (p != last && (*p == '-' || *p == '+')) {
            ++p;
        }
        for (; p != last && isDigit(*p); ++p) {
            exponent = std::min(exponent * 10 + (*p - '0'), 1000000000LL);
        }
        exponent = negative ? -exponent : exponent;
    }
    return magnitude + exponent > 0;
}

struct OnOffButton {
    int tag;
    gui::Rect rect;
};

// The host's own file selector, reached through the plug-in.
class PluginFileSelect : public gui::HostFileSelect {
public:
    explicit PluginFileSelect(VeltranoVST& plugin) : plugin(plugin) {}

    bool canSelect() override {
        char open[] = "openFileSelector";
        char close[] = "closeFileSelector";
        return plugin.canHostDo(open) && plugin.canHostDo(close);
    }

    std::optional<std::string> select(const gui::SaveFileRequest& request) override {
        VstFileType type{};
        copyText(type.name, request.typeName);
        copyText(type.dosType, request.extension);
        std::vector<char> folder(request.folder.begin(), request.folder.end());
        folder.push_back('\0');
        VstFileSelect select{};
        select.command = kVstFileSave;
        select.type = kVstFileType;
        select.nbFileTypes = 1;
        select.fileTypes = &type;
        copyText(select.title, request.title);
        select.initialPath = folder.data();
        // No return path: the host allocates one and frees it in closeFileSelector.
        std::optional<std::string> chosen;
        if (plugin.openFileSelector(&select)) {
            if (select.returnPath != nullptr && select.returnPath[0] != '\0') {
                chosen =
                    std::string(select.returnPath, strnlen(select.returnPath, MyEditor::kMaxPath));
            }
            plugin.closeFileSelector(&select);
        }
        return chosen;
    }

private:
    template <std::size_t N>
    static void copyText(char (&to)[N], const std::string& text) {
        const std::size_t n = std::min(text.size(), N - 1);
        std::memcpy(to, text.data(), n);
        to[n] = '\0';
    }

    VeltranoVST& plugin;
};

gui::Key keyOf(unsigned char virt) {
    switch (virt) {
    case VKEY_UP:
        return gui::Key::kUp;
    case VKEY_DOWN:
        return gui::Key::kDown;
    case VKEY_PAGEUP:
        return gui::Key::kPageUp;
    case VKEY_PAGEDOWN:
        return gui::Key::kPageDown;
    case VKEY_HOME:
        return gui::Key::kHome;
    case VKEY_END:
        return gui::Key::kEnd;
    default:
        return gui::Key::kOther;
    }
}

gui::KeyEvent keyEventOf(const VstKeyCode& key) {
    gui::KeyEvent event;
    event.key = keyOf(key.virt);
    event.modifiers |= (key.modifier & MODIFIER_SHIFT) != 0 ? gui::kShift : 0;
    event.modifiers |= (key.modifier & MODIFIER_CONTROL) != 0 ? gui::kControl : 0;
    event.modifiers |= (key.modifier & MODIFIER_ALTERNATE) != 0 ? gui::kAlt : 0;
    return event;
}

} // namespace

MyEditor::Desktop MyEditor::Desktop::system() {
    Desktop desktop;
    desktop.installFolderPath = platform::installFolderPath;
#if defined(_WIN32)
    // The install folder is under Program Files, where a plug-in copied by hand has no manual.
    desktop.manualFolder = platform::moduleFolder;
#endif
    desktop.openFile = platform::shellOpen;
    desktop.saveDialog = platform::desktopSaveDialog;
    desktop.tickCount = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        // Wraps like a 32-bit millisecond tick count.
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
    desktop.sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    return desktop;
}

MyEditor::MyEditor(VeltranoVST* plugin, gui::Dialogs& dialogs, WindowFactory makeWindow)
    : EditorLink(plugin), plugin(plugin), dialogs(dialogs), makeWindow(std::move(makeWindow)),
      background(skin::bitmap(skin::kBackground)), sliderHandle(skin::bitmap(skin::kSliderHandle)),
      eqSliderTrack(skin::bitmap(skin::kEqSliderTrack)),
      panelSliderTrack(skin::bitmap(skin::kPanelSliderTrack)),
      greenLamp(skin::bitmap(skin::kGreenLampButton)),
      blueLamp(skin::bitmap(skin::kBlueLampButton)),
      yellowLamp(skin::bitmap(skin::kYellowLampButton)), rocker(skin::bitmap(skin::kRocker)),
      reportButton(skin::bitmap(skin::kReportButton)), helpButton(skin::bitmap(skin::kHelpButton)),
      eqFlatButton(skin::bitmap(skin::kEqFlatButton)),
      eqLowCutButton(skin::bitmap(skin::kEqLowCutButton)),
      eqHighCutButton(skin::bitmap(skin::kEqHighCutButton)),
      normalFont(gui::FontWeight::Normal, 12), smallerFont(gui::FontWeight::Normal, 10) {
    editorRect.top = 0;
    editorRect.left = 0;
    editorRect.bottom = static_cast<VstInt16>(background.height());
    editorRect.right = static_cast<VstInt16>(background.width());
}

MyEditor::~MyEditor() {
    close();
}

bool MyEditor::getRect(ERect** rect) {
    if (rect == nullptr) {
        return false;
    }
    *rect = &editorRect;
    return true;
}

bool MyEditor::open(void* parent) {
    if (parent == nullptr) {
        return false; // isOpen could never become true: nothing would be shown or updated
    }
    if (frame != nullptr) {
        close();
    }
    std::unique_ptr<gui::Window> made =
        makeWindow ? makeWindow(parent) : std::make_unique<gui::HeadlessWindow>();
    if (made == nullptr) {
        return false; // no window to show the frame in
    }
    window = std::move(made);
    guiThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    for (std::atomic<std::uint64_t>& slot : posted) {
        slot.store(0, std::memory_order_relaxed);
    }
    showInput.store(0.0f, std::memory_order_relaxed); // both buttons start off
    showOutput.store(0.0f, std::memory_order_relaxed);
    systemWindow = parent;
    // Open before the controls read the stored parameters: a change that comes in meanwhile is
    // posted and applied at the first idle, so none is lost.
    opened.store(true, std::memory_order_seq_cst);

    frame = std::make_unique<gui::CFrame>(kWidth, kHeight, &background, window.get());
    window->attach(frame.get());
    buildControls();

    auto view = std::make_unique<SpectrumAnalyzer>(kSpectrumRect);
    view->showCursor = true;
    view->displayMode = 0;
    view->setBarCount(1024);
    view->averaging = kInitialAveraging;
    view->lineGraph = true;
    view->sampleRate = static_cast<unsigned>(std::max(0.0f, plugin->getSampleRate()));
    spectrum = frame->addView(std::move(view));
    // The whole surface, background included, is ready before the window first shows it.
    frame->redrawAll();
    // Configured completely before the chain may feed it.
    liveView.store(spectrum, std::memory_order_seq_cst);
    return true;
}

void MyEditor::buildControls() {
    using gui::Rect;
    const auto add = [this](auto control) {
        controls[static_cast<std::size_t>(control->tag())] = control.get();
        frame->addView(std::move(control));
    };

    for (int band = 0; band < kNumEqBands; ++band) {
        auto slider = std::make_unique<gui::CVerticalSlider>(
            Rect{45 + 20 * band, 357, 60 + 20 * band, 413}, this, kEqBand0 + band, 357, 388,
            &sliderHandle, &eqSliderTrack);
        slider->setValue(plugin->getParameter(kEqBand0 + band));
        add(std::move(slider));
    }

    static constexpr OnOffButton kButtons[] = {
        {kAutoNormalize, {8, 107, 30, 128}},       {kHighPass, {8, 145, 30, 166}},
        {kShowInput, {93, 94, 115, 115}},          {kShowOutput, {93, 115, 115, 136}},
        {kMaxPeak, {93, 141, 115, 162}},           {kFreeze, {93, 162, 115, 183}},
        {kHumFilter, {8, 191, 30, 212}},           {kHumAutoTrack, {16, 227, 38, 248}},
        {kPredictableNoise, {215, 223, 237, 244}}, {kReverb, {215, 251, 237, 272}},
        {kRandomNoise, {395, 223, 417, 244}},      {kAggressive, {395, 251, 417, 272}},
        {kEqualizer, {8, 312, 30, 333}},           {kAutoGain, {480, 312, 502, 333}},
    };
    for (const OnOffButton& b : kButtons) {
        const gui::Bitmap* bitmap =
            b.tag == kShowInput ? &yellowLamp : (b.tag == kShowOutput ? &blueLamp : &greenLamp);
        auto button = std::make_unique<gui::COnOffButton>(b.rect, this, b.tag, bitmap);
        if (b.tag >= kAutoNormalize && b.tag <= kAutoGain) {
            button->setValue(plugin->getParameter(b.tag));
        } else if (b.tag == kFreeze) {
            button->setValue(freeze ? 1.0f : 0.0f); // the view stays frozen across a reopen
        }
        add(std::move(button));
    }

    add(std::make_unique<gui::CKickButton>(Rect{465, 40, 523, 61}, this, kReport, &reportButton));
    add(std::make_unique<gui::CKickButton>(Rect{528, 40, 569, 61}, this, kHelp, &helpButton));
    add(std::make_unique<gui::CKickButton>(Rect{9, 362, 37, 383}, this, kEqFlat, &eqFlatButton));
    add(std::make_unique<gui::CKickButton>(Rect{9, 386, 37, 407}, this, kEqPresetLowCut,
                                           &eqLowCutButton));
    add(std::make_unique<gui::CKickButton>(Rect{9, 410, 37, 431}, this, kEqPresetHighCut,
                                           &eqHighCutButton));

    const auto panelSlider = [&](int tag, Rect rect) {
        auto slider = std::make_unique<gui::CVerticalSlider>(
            rect, this, tag, rect.top, rect.top + 31, &sliderHandle, &panelSliderTrack);
        slider->setValue(plugin->getParameter(tag));
        add(std::move(slider));
    };
    panelSlider(kHumAttenuation, {174, 224, 189, 280});
    panelSlider(kPredictableAttenuation, {362, 224, 377, 280});
    panelSlider(kRandomAttenuation, {536, 224, 551, 280});
    panelSlider(kMaxGain, {544, 351, 559, 407});

    // The averaging rocker starts at 4, which shows its first sub-image until it is first used.
    auto averagingStep = std::make_unique<gui::CRockerSwitch>(Rect{167, 126, 179, 144}, this,
                                                              kAveragingStep, &rocker);
    averagingStep->setValue(static_cast<float>(kInitialAveraging));
    add(std::move(averagingStep));
    add(std::make_unique<gui::CRockerSwitch>(Rect{25, 270, 37, 288}, this, kHumFrequencyStep,
                                             &rocker));
    add(std::make_unique<gui::CRockerSwitch>(Rect{16, 340, 28, 358}, this, kEqShift, &rocker));

    const auto textField = [&](int tag, Rect rect, std::string_view text, const gui::Font& font) {
        add(std::make_unique<gui::CTextEdit>(rect, this, tag, text, font, gui::TextAlign::Right));
    };
    const auto parameterField = [&](int tag, int parameter, Rect rect) {
        const std::string text = parameterText(tag, plugin->getParameter(parameter));
        textField(tag, rect, std::string_view(text).substr(0, kParameterTextLength), smallerFont);
    };
    textField(kAveragingField, {179, 126, 219, 144}, "4", normalFont);
    parameterField(kHumFrequency, kHumFrequency, {37, 270, 72, 288});
    parameterField(kHumAttenuationEntry, kHumAttenuation, {166, 283, 191, 295});
    parameterField(kPredictableAttenuationEntry, kPredictableAttenuation, {354, 283, 379, 295});
    parameterField(kRandomAttenuationEntry, kRandomAttenuation, {528, 283, 553, 295});
    for (int band = 0; band < kNumEqBands; ++band) {
        parameterField(kEqBandEntry0 + band, kEqBand0 + band,
                       {44 + 20 * band, 417, 62 + 20 * band, 429});
    }
    parameterField(kMaxGainEntry, kMaxGain, {538, 411, 563, 423});
}

void MyEditor::close() {
    opened.store(false, std::memory_order_seq_cst);
    // A feed that found the view before it was withdrawn has announced itself in `feeding`
    // first, so once the count is 0 no feed can reach the view any more.
    liveView.store(nullptr, std::memory_order_seq_cst);
    while (feeding.load(std::memory_order_seq_cst) != 0) {
        std::this_thread::yield();
    }
    systemWindow = nullptr;
    controls.fill(nullptr);
    spectrum = nullptr;
    if (window != nullptr) {
        window->attach(nullptr); // no event reaches the frame any more; an edit is dropped
    }
    frame.reset(); // deletes every control and the view
    window.reset();
}

void MyEditor::idle() {
    if (frame == nullptr) {
        return;
    }
    for (int tag = 0; tag < kNumTags; ++tag) {
        apply(tag);
    }
    const auto rate = static_cast<unsigned>(std::max(0.0f, plugin->getSampleRate()));
    if (spectrum->sampleRate != rate) {
        spectrum->sampleRate = rate;
        spectrum->setDirty();
    }
    window->idle(*frame); // the window's waiting events, then the frame's redraw
}

bool MyEditor::onGuiThread() const {
    return guiThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void MyEditor::post(int tag, Shown kind, float value) {
    const std::uint64_t word = static_cast<std::uint64_t>(kind) << 32 |
                               static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(value));
    posted[static_cast<std::size_t>(tag)].store(word, std::memory_order_release);
    if (onGuiThread()) {
        apply(tag);
    }
}

void MyEditor::apply(int tag) {
    gui::CControl* target = control(tag);
    if (target == nullptr) {
        return; // kept for when the controls exist
    }
    const std::uint64_t word =
        posted[static_cast<std::size_t>(tag)].exchange(0, std::memory_order_acquire);
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(word));
    switch (static_cast<Shown>(word >> 32)) {
    case Shown::Nothing:
        break;
    case Shown::Value:
        target->setValue(value);
        break;
    case Shown::ParameterText:
        setFieldText(tag, parameterText(tag, value));
        break;
    case Shown::WholeText:
        setFieldText(tag, wholeText(value));
        break;
    case Shown::HertzText:
        setFieldText(tag, oneDecimal(value) + " Hz");
        break;
    }
}

gui::CControl* MyEditor::control(int tag) const {
    if (frame == nullptr || tag < 0 || tag >= kNumTags) {
        return nullptr;
    }
    return controls[static_cast<std::size_t>(tag)];
}

gui::CVerticalSlider* MyEditor::slider(int tag) const {
    return static_cast<gui::CVerticalSlider*>(control(tag));
}

gui::CTextEdit* MyEditor::field(int tag) const {
    return static_cast<gui::CTextEdit*>(control(tag));
}

void MyEditor::setFieldText(int tag, std::string_view text) {
    field(tag)->setText(text.substr(0, kParameterTextLength));
}

void MyEditor::setParameter(VstInt32 index, float value) {
    if (!isOpen()) {
        return;
    }
    // The slider (or button) and the field that show the index.
    int valueTag = -1;
    int fieldTag = -1;
    if (index >= kEqBand0 && index <= kEqBand19) {
        valueTag = index;
        fieldTag = kEqBandEntry0 + (index - kEqBand0);
    } else if (index >= kEqBandEntry0 && index <= kEqBandEntry19) {
        valueTag = kEqBand0 + (index - kEqBandEntry0);
        fieldTag = index;
    } else if (index >= kAutoNormalize && index <= kAutoGain) {
        valueTag = index;
    } else {
        switch (index) {
        case kHumAttenuation:
        case kHumAttenuationEntry:
            valueTag = kHumAttenuation;
            fieldTag = kHumAttenuationEntry;
            break;
        case kPredictableAttenuation:
        case kPredictableAttenuationEntry:
            valueTag = kPredictableAttenuation;
            fieldTag = kPredictableAttenuationEntry;
            break;
        case kRandomAttenuation:
        case kRandomAttenuationEntry:
            valueTag = kRandomAttenuation;
            fieldTag = kRandomAttenuationEntry;
            break;
        case kMaxGain:
        case kMaxGainEntry:
            valueTag = kMaxGain;
            fieldTag = kMaxGainEntry;
            break;
        case kHumFrequency:
        case kHumFrequencyStep: // the value is the new normalized frequency
            fieldTag = kHumFrequency;
            break;
        default:
            return;
        }
    }
    if (valueTag >= 0) {
        post(valueTag, Shown::Value, value);
    }
    if (fieldTag >= 0) {
        post(fieldTag, Shown::ParameterText, value);
    }
}

void MyEditor::setEqBandText(int band, float cutDb) {
    if (!isOpen() || band < 0 || band >= kNumEqBands) {
        return;
    }
    post(kEqBandEntry0 + band, Shown::WholeText, cutDb);
}

void MyEditor::setEqBandSlider(int band, float position) {
    if (!isOpen() || band < 0 || band >= kNumEqBands) {
        return;
    }
    post(kEqBand0 + band, Shown::Value, position);
}

void MyEditor::setHumFrequencyText(float hz) {
    if (!isOpen()) {
        return;
    }
    // Always left to the idle: the audio thread may be the one that opened the window.
    posted[kHumFrequency].store(static_cast<std::uint64_t>(Shown::HertzText) << 32 |
                                    static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(hz)),
                                std::memory_order_release);
}

bool MyEditor::spectrumWanted() {
    return isOpen() && !freeze.load(std::memory_order_relaxed) &&
           (showInput.load(std::memory_order_relaxed) == 1.0f ||
            showOutput.load(std::memory_order_relaxed) == 1.0f);
}

void MyEditor::feedSpectrum(int count, const float* input, const float* output) {
    feeding.fetch_add(1, std::memory_order_seq_cst);
    if (SpectrumAnalyzer* view = liveView.load(std::memory_order_seq_cst)) {
        view->feed(count, input, output);
    }
    feeding.fetch_sub(1, std::memory_order_release);
}

double MyEditor::parseNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only a digit or a point may follow: from_chars would take a second '-', "inf", "nan".
    if (i == text.size() || !(isDigit(text[i]) || text[i] == '.')) {
        return 0.0;
    }
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    double value = 0.0;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) {
        return 0.0; // a lone point
    }
    if (result.ec == std::errc::result_out_of_range) {
        value = aboveOne(first, result.ptr) ? HUGE_VAL : 0.0;
    }
    return negative ? -value : value;
}

void MyEditor::automate(int index, float value) {
    plugin->setParameterAutomated(index, value);
}

void MyEditor::beginEdit(int tag) {
    plugin->beginEdit(tag);
}

void MyEditor::endEdit(int tag) {
    plugin->endEdit(tag);
}

void MyEditor::showDisplayMode(int changedTag) {
    const bool in = control(kShowInput)->value() == 1.0f;
    const bool out = control(kShowOutput)->value() == 1.0f;
    // With both off the mode stays, so the last picture stays on screen.
    if (changedTag == kShowInput) {
        if (in) {
            spectrum->displayMode = out ? 2 : 0;
        } else if (out) {
            spectrum->displayMode = 1;
        }
    } else {
        if (out) {
            spectrum->displayMode = in ? 2 : 1;
        } else if (in) {
            spectrum->displayMode = 0;
        }
    }
}

void MyEditor::stepAveraging(float value) {
    // Unbounded by design (the view treats values below 1 as 1), but never past int's range.
    int averaging = spectrum->averaging;
    if (value == 1.0f && averaging > INT_MIN) {
        --averaging;
    } else if (value == -1.0f && averaging < INT_MAX) {
        ++averaging;
    }
    spectrum->averaging = averaging;
    const std::string text = wholeText(static_cast<float>(averaging));
    field(kAveragingField)->setText(std::string_view(text).substr(0, kAveragingTextLength));
}

void MyEditor::valueChanged(gui::CControl* changed) {
    if (changed == nullptr || !isOpen()) {
        return;
    }
    const int t = changed->tag();
    const float v = changed->value();
    // Marked first: the report and help actions are modal and the host may close the window
    // meanwhile.
    changed->setDirty();

    const auto typed = [changed] {
        return parseNumber(static_cast<gui::CTextEdit*>(changed)->text());
    };
    if ((t >= kEqBand0 && t <= kMaxGain) || t == kAveragingField ||
        (t >= kEqFlat && t <= kEqPresetHighCut)) {
        automate(t, v);
    } else if (t >= kEqBandEntry0 && t <= kEqBandEntry19) {
        const float m = mapToUnit(typed(), 0.0, kEqRangeDb);
        slider(kEqBand0 + (t - kEqBandEntry0))->setValue(1.0f - m);
        automate(t, 1.0f - m);
    } else {
        switch (t) {
        case kHumFrequency:
            automate(t, mapToUnit(typed(), 44.45, 68.18));
            break;
        case kShowInput:
        case kShowOutput:
            (t == kShowInput ? showInput : showOutput).store(v, std::memory_order_relaxed);
            showDisplayMode(t);
            break;
        case kMaxPeak:
            spectrum->maxPeak = v == 1.0f;
            break;
        case kFreeze:
            freeze = v == 1.0f;
            break;
        case kReport:
            if (v == 1.0f) {
                saveSetupReport();
            }
            break;
        case kHelp:
            if (v == 1.0f) {
                showHelp();
            }
            break;
        case kAveragingStep:
            stepAveraging(v);
            break;
        case kHumFrequencyStep:
        case kEqShift:
            if (v != 0.0f) {
                automate(t, v);
            }
            break;
        case kHumAttenuationEntry: {
            const float m = mapToUnit(typed(), 0.0, 60.0);
            slider(kHumAttenuation)->setValue(1.0f - m);
            automate(t, 1.0f - m);
            break;
        }
        case kPredictableAttenuationEntry:
        case kRandomAttenuationEntry: {
            const float m = mapToUnit(typed(), 0.0, 100.0);
            slider(t == kPredictableAttenuationEntry ? kPredictableAttenuation : kRandomAttenuation)
                ->setValue(1.0f - m);
            automate(t, 1.0f - m);
            break;
        }
        case kMaxGainEntry: {
            const float m = mapToUnit(typed(), 0.0, kMaxGainRangeDb);
            slider(kMaxGain)->setValue(m);
            automate(t, m);
            break;
        }
        default:
            break;
        }
    }
}

bool MyEditor::onKeyDown(VstKeyCode& key) {
    return frame != nullptr && frame->keyDown(keyEventOf(key));
}

bool MyEditor::onWheel(float distance) {
    if (frame == nullptr) {
        return false;
    }
    const std::optional<gui::Point> where = window->pointer();
    return where.has_value() && frame->wheel(*where, distance, 0);
}

void MyEditor::doIdleStuff() {
    if (!desktop.tickCount) {
        return;
    }
    // Tick counts wrap; compare them by their difference.
    const auto earlier = [](std::uint32_t a, std::uint32_t b) {
        return static_cast<std::int32_t>(a - b) < 0;
    };
    std::uint32_t now = desktop.tickCount();
    if (earlier(now, nextIdleTime)) {
        if (desktop.sleep) {
            desktop.sleep(4);
        }
        now += 4;
        if (earlier(now, nextIdleTime - 50)) {
            return;
        }
    }
    idle(); // applies what waits and lets the window paint
    nextIdleTime = now + 100;
    plugin->masterIdle();
}

bool MyEditor::installFolderPath(std::string_view fileName, std::string& path) {
    const platform::InstallPath built =
        desktop.installFolderPath
            ? desktop.installFolderPath(fileName)
            : platform::InstallPath{{}, platform::InstallPathFailure::kFolder};
    switch (built.failed) {
    case platform::InstallPathFailure::kNone:
        path = built.path;
        return true;
    case platform::InstallPathFailure::kFolder:
        dialogs.message("Error", "Failed on SHGetFolderPath().");
        return false;
    case platform::InstallPathFailure::kAppendFolder:
        dialogs.message("Error", "Failed on PathAppend() A.");
        return false;
    case platform::InstallPathFailure::kAppendFile:
        dialogs.message("Error", "Failed on PathAppend() B.");
        return false;
    }
    return false;
}

void MyEditor::saveSetupReport() {
    std::string folder;
    if (!installFolderPath("", folder)) {
        return;
    }
    gui::SaveFileRequest request;
    request.title = "Save Veltrano Settings File";
    request.folder = folder;
    request.typeName = "VT-VST Settings Files";
    request.extension = "txt";
    request.owner = window != nullptr ? window->nativeHandle() : nullptr; // owns the dialog
    PluginFileSelect host(*plugin);
    gui::CFileSelector selector(&host, dialogs, desktop.saveDialog);
    const std::optional<std::string> path = selector.runSave(request);
    if (!path.has_value()) {
        return; // cancelled
    }
    // Binary mode: the report writes its own CR LF line ends.
    std::ofstream file(*path, std::ios::out | std::ios::binary | std::ios::trunc);
    if (file.is_open()) {
        writeSetupReport(file, *plugin);
        file.close();
    }
    if (!file) {
        // Opening the file now would show an old report, or nothing, as if it were this one.
        std::string text = "The setup report could not be written to ";
        text.append(*path).append(".");
        dialogs.message("Error", text);
        return;
    }
    if (desktop.openFile) {
        desktop.openFile(*path);
    }
}

void MyEditor::showHelp() {
    std::string path;
    if (!installFolderPath(kHelpFile, path)) {
        dialogs.message("Error", "Failed to generate path to help files.");
        return;
    }
    std::error_code error;
    bool present = std::filesystem::is_regular_file(path, error);
    if (!present && desktop.manualFolder) {
        if (const std::optional<std::string> folder = desktop.manualFolder()) {
            const std::string beside = *folder + kHelpFile;
            if (std::filesystem::is_regular_file(beside, error)) {
                path = beside;
                present = true;
            }
        }
    }
    if (!present || !desktop.openFile || !desktop.openFile(path)) {
        dialogs.message("File Not Found", "Could not find Veltrano Help file.");
    }
}
