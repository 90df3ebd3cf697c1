// The Windows back end: the frame shown in a child window of the host's window.
//
// Windows delivers this window's messages through the host's own message loop, so the frame
// gets the mouse and the keys as they come, and each message that changed something ends with
// frame.idle(), which presents what was redrawn; the host's idle (effEditIdle) only has to let
// the frame redraw what other paths marked dirty. Pixels go to the screen from the frame's
// surface as a top-down 32-bit DIB (0x00RRGGBB is exactly its BI_RGB layout): at once when the
// frame presents an area, and on WM_PAINT.
//
// Mouse: presses of the three buttons, moves and releases go to the frame with the modifiers
// held (Shift, Ctrl, Alt); the window holds the mouse capture from a press to the last release,
// and a capture lost meanwhile (another window took it, or a dialog opened from the press)
// ends the gesture with a release where the pointer was last seen. A press takes the keyboard
// focus, so the arrow keys, Page Up/Down, Home and End reach the control last clicked; the
// wheel (WHEEL_DELTA a notch) goes to the control under the pointer.
//
// Text editing uses the system's single-line edit box over the field, in an Arial font of the
// field's height, holding the field's text with all of it selected. Enter commits, Escape
// cancels, and the box losing the focus (a click elsewhere, another window) commits. Detaching
// the frame or closing the window while editing drops the edit without calling the field (the
// frame, and so the field, may be gone); the host destroying its window first commits it.
//
// The window class is registered once per module instance with the plug-in's own HINSTANCE and
// unregistered when its last window is gone, so the module can be unloaded safely. No exception
// leaves the window procedures.
//
// Threads: GUI thread only (the thread that opened the window).
#pragma once

#include "gui/Platform.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace gui {

class CFrame;

class Win32Window : public Window {
public:
    // A visible child window of `parent` (the HWND the host passes to effEditOpen) of
    // width × height pixels. Null when the parent is not a window, the size is not positive or
    // the window cannot be made.
    static std::unique_ptr<Win32Window> open(void* parent, int width, int height);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // The frame shown in this window, which gets its events; null detaches it (an edit in
    // progress is dropped without calling its field). The frame must stay alive while attached.
    void attach(CFrame* frame) override;

    void present(const Surface& surface, const Rect& area) override;
    void beginTextEditing(CTextEdit& field) override;
    std::optional<Point> pointer() override;

    // The window's HWND; null once destroyed (by us or with the host's window).
    void* nativeHandle() const override { return window_; }
    // The open edit box's HWND; null when none.
    void* editBox() const { return edit_; }
    bool isEditing() const { return editedField_ != nullptr; }

private:
    // The window procedures (Win32Window.cpp), which pass the messages on to these members.
    friend struct Win32Procedures;

    Win32Window(int width, int height);

    std::intptr_t handleMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t handleEditMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    void press(int button, std::uintptr_t wParam, std::intptr_t lParam);
    void release(int button, std::uintptr_t wParam, std::intptr_t lParam);
    // The gesture ends without the release (the capture went elsewhere).
    void lostCapture();
    // Ends the edit: the field gets the typed text (commit) or is told to cancel, then is
    // redrawn without the box. With `callField` false the field is not touched at all.
    void endTextEditing(bool commit, bool callField = true);
    // Copies `area` of the surface to the device context.
    void blit(void* dc, const Surface& surface, const Rect& area) const;

    int width_;
    int height_;
    void* window_ = nullptr;  // HWND
    CFrame* frame_ = nullptr; // gets the events; null while detached

    int pressed_ = 0;         // buttons pressed in this window (kLButton …); capture held
    bool inPress_ = false;    // inside the frame's mouseDown
    bool pressLost_ = false;  // the capture went away during that mouseDown
    Point lastPointer_{0, 0}; // where the last mouse message saw the pointer

    CTextEdit* editedField_ = nullptr; // the field of the open edit box; null when none
    void* edit_ = nullptr;             // HWND of the edit box
    void* editFont_ = nullptr;         // HFONT of the edit box
    std::intptr_t editProcedure_ = 0;  // the edit box's own window procedure (WNDPROC)
};

} // namespace gui
