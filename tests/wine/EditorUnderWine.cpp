// The plug-in's Windows editor driven as a host and a user would drive it, for running under
// Wine (scripts/wine-editor.sh): the DLL is loaded and opened at 44.1 kHz, its editor opened
// in a top-level window of ours, and then the hum filter, random-noise and equalizer switches
// are clicked, text is typed into the hum frequency field (cancelled with Escape, committed by
// the loss of the focus, committed with Enter), the wheel and the Up key move the maximum
// gain, the report's save dialog is opened and cancelled, Input and Output are switched on and
// two seconds of audio (a stereo tone over 60 Hz hum and noise) run through processReplacing
// with the host's idle in between. What the plug-in stores and tells the host is checked, and
// what the window shows; a screenshot of it is written as a PNG. Then the editor is closed,
// and opened again in a window the host destroys while a field is being edited, before it
// closes the editor.
//
// Usage: wine_editor_check VeltranoVST.dll screenshot.png
// Exit status 0 only when every check passed; each failed check is printed.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "gui/Png.h"
#include "plugin/Parameters.h"
#include "plugin/VstInterface.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr float kRate = 44100.0f;
constexpr int kBlock = 512;
constexpr int kSeconds = 2;

struct Area {
    int left, top, right, bottom;
    int x() const { return (left + right) / 2; }
    int y() const { return (top + bottom) / 2; }
};

// Where the editor draws them (see MyEditor::buildControls).
constexpr Area kHumFilterButton{8, 191, 30, 212};
constexpr Area kRandomNoiseButton{395, 223, 417, 244};
constexpr Area kEqualizerButton{8, 312, 30, 333};
constexpr Area kInputButton{93, 94, 115, 115};
constexpr Area kOutputButton{93, 115, 115, 136};
constexpr Area kHumFrequencyField{37, 270, 72, 288};
constexpr Area kMaxGainSlider{544, 351, 559, 407};
constexpr Area kSpectrumView{231, 66, 568, 181};
constexpr Area kReportButton{465, 40, 523, 61};
constexpr int kReportTag = 40;

constexpr gui::Pixel kYellowTrace = 0xFFFF00; // the input spectrum
constexpr gui::Pixel kBlueTrace = 0x0000FF;   // the output spectrum

struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    float opt;
};
std::vector<HostCall> hostCalls;

VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                                   float opt) {
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterAutomate:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        hostCalls.push_back({opcode, index, opt});
        return 1;
    default:
        return 0;
    }
}

// Calls of the opcode for the index; every index for -1.
int callsFor(VstInt32 opcode, VstInt32 index) {
    int count = 0;
    for (const HostCall& call : hostCalls) {
        count += call.opcode == opcode && (index < 0 || call.index == index) ? 1 : 0;
    }
    return count;
}

int failures = 0;

void check(bool passed, const std::string& what) {
    std::printf("%s: %s\n", passed ? "ok" : "FAILED", what.c_str());
    if (!passed) {
        ++failures;
    }
    std::fflush(stdout);
}

LRESULT CALLBACK hostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

class Harness {
public:
    explicit Harness(AEffect* effect) : effect(effect) {}

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    float parameter(int index) { return effect->getParameter(effect, index); }

    // Delivers the window messages waiting and gives the editor its idle about 30 times a
    // second, for `ms` milliseconds.
    void pump(int ms) {
        const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
        do {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            if (GetTickCount() - lastIdle >= 33) {
                dispatch(effEditIdle);
                lastIdle = GetTickCount();
            }
            Sleep(5);
        } while (static_cast<LONG>(GetTickCount() - end) < 0);
    }

    void click(HWND window, int x, int y) {
        const LPARAM where = MAKELPARAM(x, y);
        SendMessageA(window, WM_MOUSEMOVE, 0, where);
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
        SendMessageA(window, WM_LBUTTONUP, 0, where);
        pump(60);
    }

    // The editor's window as shown, read back from the screen.
    gui::Surface screenshot(HWND window) {
        RECT client{};
        GetClientRect(window, &client);
        const int width = client.right;
        const int height = client.bottom;
        gui::Surface shot(width, height);
        HDC screen = GetDC(window);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap != nullptr && bits != nullptr) {
            HGDIOBJ before = SelectObject(memory, bitmap);
            BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
            GdiFlush();
            const auto* pixels = static_cast<const std::uint32_t*>(bits);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    shot.pixel(x, y) = pixels[y * width + x] & 0xFFFFFF;
                }
            }
            SelectObject(memory, before);
            DeleteObject(bitmap);
        }
        DeleteDC(memory);
        ReleaseDC(window, screen);
        return shot;
    }

private:
    AEffect* effect;
    DWORD lastIdle = 0;
};

int differing(const gui::Surface& a, const gui::Surface& b, const Area& area) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            count += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return count;
}

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VeltranoVST.dll screenshot.png\n", argv[0]);
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        std::printf("FAILED: LoadLibrary %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    const auto entry = reinterpret_cast<VstPluginMainProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "VSTPluginMain")));
    AEffect* effect = entry != nullptr ? entry(hostCallback) : nullptr;
    if (effect == nullptr || effect->magic != kEffectMagic) {
        std::printf("FAILED: VSTPluginMain gave no plug-in\n");
        return 1;
    }
    Harness host(effect);
    host.dispatch(effOpen);
    host.dispatch(effSetSampleRate, 0, 0, nullptr, kRate);
    host.dispatch(effSetBlockSize, 0, kBlock);
    host.dispatch(effMainsChanged, 0, 1);

    ERect* rect = nullptr;
    host.dispatch(effEditGetRect, 0, 0, &rect);
    check(rect != nullptr && rect->right - rect->left == 576 && rect->bottom - rect->top == 470,
          "effEditGetRect gives 576 x 470");
    const int width = rect != nullptr ? rect->right - rect->left : 576;
    const int height = rect != nullptr ? rect->bottom - rect->top : 470;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &hostWindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "EditorUnderWineHost";
    RegisterClassA(&windowClass);
    RECT frame{0, 0, width, height};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    AdjustWindowRect(&frame, style, FALSE);
    HWND top =
        CreateWindowA("EditorUnderWineHost", "Veltrano VST", style, 0, 0, frame.right - frame.left,
                      frame.bottom - frame.top, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(top, SW_SHOWNORMAL);
    UpdateWindow(top);

    const bool opened = host.dispatch(effEditOpen, 0, 0, top) != 0;
    check(opened, "effEditOpen answers true");
    HWND editor = GetWindow(top, GW_CHILD);
    check(editor != nullptr, "the editor made a child window");
    if (!opened || editor == nullptr) {
        return 1;
    }
    RECT client{};
    GetClientRect(editor, &client);
    check(client.right == width && client.bottom == height,
          "the child window has the frame's size");
    host.pump(300);
    const gui::Surface before = host.screenshot(editor);

    // Three switches on.
    host.click(editor, kHumFilterButton.x(), kHumFilterButton.y());
    host.click(editor, kRandomNoiseButton.x(), kRandomNoiseButton.y());
    host.click(editor, kEqualizerButton.x(), kEqualizerButton.y());
    for (const int index : {kHumFilter, kRandomNoise, kEqualizer}) {
        const std::string name = "switch " + std::to_string(index);
        check(host.parameter(index) == 1.0f, name + " is on");
        check(callsFor(audioMasterAutomate, index) == 1, name + " reached the host once");
        check(callsFor(audioMasterBeginEdit, index) == 1 &&
                  callsFor(audioMasterEndEdit, index) == 1,
              name + ": one begin and one end of an edit");
    }

    // Escape leaves the field as it was; the box losing the focus commits what was typed.
    const auto hzValue = [](double hz) { return static_cast<float>((hz - 44.45) / 23.73); };
    const auto typeIntoHumFrequency = [&](const char* typed) -> HWND {
        host.click(editor, kHumFrequencyField.x(), kHumFrequencyField.y());
        HWND box = FindWindowExA(editor, nullptr, "Edit", nullptr);
        for (const char* c = typed; box != nullptr && *c != '\0'; ++c) {
            SendMessageA(box, WM_CHAR, static_cast<WPARAM>(*c), 1);
        }
        return box;
    };
    const float hzBefore = host.parameter(kHumFrequency);
    if (HWND box = typeIntoHumFrequency("65"); box != nullptr) {
        SendMessageA(box, WM_KEYDOWN, VK_ESCAPE, 1);
        host.pump(60);
        check(!IsWindow(box) && host.parameter(kHumFrequency) == hzBefore,
              "Escape closes the edit box and changes nothing");
    }
    if (HWND box = typeIntoHumFrequency("55"); box != nullptr) {
        SetFocus(top);
        host.pump(60);
        check(!IsWindow(box) && std::fabs(host.parameter(kHumFrequency) - hzValue(55)) < 1e-6f,
              "the edit box losing the focus commits the typed text");
    }

    // 50 typed into the hum frequency field, committed with Enter.
    host.click(editor, kHumFrequencyField.x(), kHumFrequencyField.y());
    HWND box = FindWindowExA(editor, nullptr, "Edit", nullptr);
    check(box != nullptr, "a click on the hum frequency field opens an edit box");
    if (box != nullptr) {
        char text[64] = {};
        GetWindowTextA(box, text, sizeof text);
        check(std::string(text) == "55.0 Hz",
              "the edit box holds the field's text (" + std::string(text) + ")");
        const DWORD selection = static_cast<DWORD>(SendMessageA(box, EM_GETSEL, 0, 0));
        check(LOWORD(selection) == 0 && HIWORD(selection) == 7, "all of it selected");
        SendMessageA(box, WM_CHAR, '5', 1);
        SendMessageA(box, WM_CHAR, '0', 1);
        SendMessageA(box, WM_KEYDOWN, VK_RETURN, 1);
        host.pump(60);
        check(!IsWindow(box), "Enter closes the edit box");
    }
    const double expectedHz = (50.0 - 44.45) / 23.73;
    check(std::fabs(host.parameter(kHumFrequency) - expectedHz) < 1e-6,
          "hum frequency is (50 - 44.45) / 23.73 (" +
              std::to_string(host.parameter(kHumFrequency)) + ")");
    check(callsFor(audioMasterAutomate, kHumFrequency) == 2,
          "the typed frequency reached the host");

    // The wheel over the maximum gain slider: one notch up is 0.02.
    const float gainBefore = host.parameter(kMaxGain);
    POINT onSlider{kMaxGainSlider.x(), kMaxGainSlider.y()};
    ClientToScreen(editor, &onSlider);
    SendMessageA(editor, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                 MAKELPARAM(onSlider.x, onSlider.y));
    host.pump(60);
    check(std::fabs(host.parameter(kMaxGain) - (gainBefore + 0.02f)) < 1e-5,
          "a wheel notch moves the maximum gain by 0.02");
    // The slider clicked takes the keys: Up is 0.01.
    host.click(editor, kMaxGainSlider.x(), kMaxGainSlider.y());
    const float gainClicked = host.parameter(kMaxGain);
    SendMessageA(editor, WM_KEYDOWN, VK_UP, 1);
    host.pump(60);
    check(std::fabs(host.parameter(kMaxGain) - (gainClicked + 0.01f)) < 1e-5,
          "the Up key moves the clicked slider by 0.01");

    // Report: the system's save dialog, captioned with its title and folder; cancelled (from
    // another thread, while the press waits in the dialog) it writes and opens nothing.
    {
        std::string caption;
        std::atomic<bool> done{false};
        std::thread canceller([&] {
            for (int tries = 0; tries < 400 && !done; ++tries) {
                HWND dialog = FindWindowA("#32770", nullptr);
                char text[512] = {};
                if (dialog != nullptr && GetWindowTextA(dialog, text, sizeof text) > 0 &&
                    std::strchr(text, '[') != nullptr) {
                    caption = text;
                    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                    return;
                }
                Sleep(25);
            }
        });
        const int automatedBefore = callsFor(audioMasterAutomate, -1);
        // Only the press: the release goes to the dialog.
        SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON,
                     MAKELPARAM(kReportButton.x(), kReportButton.y()));
        done = true;
        canceller.join();
        host.pump(60);
        const std::string title = "Save Veltrano Settings File - [";
        check(caption.rfind(title, 0) == 0 && caption.size() > title.size() + 1 &&
                  caption.back() == ']',
              "the save dialog's caption shows its folder (" + caption + ")");
        check(callsFor(audioMasterEndEdit, kReportTag) == 1,
              "the Report button's gesture ends though the dialog took the release");
        check(callsFor(audioMasterAutomate, -1) == automatedBefore,
              "a cancelled report changes no parameter");
    }

    // Both spectra shown while audio runs.
    host.click(editor, kInputButton.x(), kInputButton.y());
    host.click(editor, kOutputButton.x(), kOutputButton.y());
    std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {outLeft.data(), outRight.data()};
    std::mt19937 random(17);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const int blocks = static_cast<int>(kRate) * kSeconds / kBlock;
    float loudestLate = 0.0f;
    bool finite = true;
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < kBlock; ++i) {
            const double t = (b * kBlock + i) / static_cast<double>(kRate);
            const double hum =
                0.15 * std::sin(kTwoPi * 60.0 * t) + 0.05 * std::sin(kTwoPi * 180.0 * t);
            const double tone =
                0.2 * std::sin(kTwoPi * 440.0 * t) + 0.08 * std::sin(kTwoPi * 1250.0 * t);
            left[i] = static_cast<float>(hum + tone) + noise(random);
            right[i] = static_cast<float>(hum + 0.8 * tone) + noise(random);
        }
        effect->processReplacing(effect, inputs, outputs, kBlock);
        for (int i = 0; i < kBlock; ++i) {
            finite = finite && std::isfinite(outLeft[i]) && std::isfinite(outRight[i]);
            if (b * kBlock > static_cast<int>(kRate)) {
                loudestLate = std::max(loudestLate, std::fabs(outLeft[i]));
            }
        }
        host.pump(10);
    }
    host.pump(300);
    check(finite, "the output is finite");
    check(loudestLate > 0.01f, "the chain's output arrives after the latency");

    const gui::Surface shot = host.screenshot(editor);
    check(differing(before, shot, kHumFilterButton) > 0, "the hum filter switch shows on");
    check(rowsWith(shot, kSpectrumView, kYellowTrace) > 5, "the input spectrum is drawn");
    check(rowsWith(shot, kSpectrumView, kBlueTrace) > 5, "the output spectrum is drawn");
    check(gui::writePng(shot, argv[2]), std::string("screenshot written to ") + argv[2]);

    host.dispatch(effEditClose);
    check(!IsWindow(editor), "effEditClose destroys the child window");

    // Opened again, in a window the host destroys while a field is being edited and before it
    // closes the editor: what was typed is kept, and the close after it is harmless.
    HWND second =
        CreateWindowA("EditorUnderWineHost", "Veltrano VST", style, 0, 0, frame.right - frame.left,
                      frame.bottom - frame.top, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(second, SW_SHOWNORMAL);
    check(host.dispatch(effEditOpen, 0, 0, second) != 0, "effEditOpen again answers true");
    editor = GetWindow(second, GW_CHILD);
    if (editor != nullptr) {
        host.pump(60);
        check(typeIntoHumFrequency("52") != nullptr, "the reopened editor edits a field");
        DestroyWindow(second);
        host.pump(60);
        check(std::fabs(host.parameter(kHumFrequency) - hzValue(52)) < 1e-6f,
              "the host's window destroyed during an edit keeps the typed text");
    }
    host.dispatch(effEditClose);
    host.dispatch(effEditIdle);
    host.dispatch(effMainsChanged, 0, 0);
    host.dispatch(effClose);
    DestroyWindow(top);
    FreeLibrary(module);

    std::printf("%s: %d check(s) failed\n", failures == 0 ? "PASSED" : "FAILED", failures);
    return failures == 0 ? 0 : 1;
}
