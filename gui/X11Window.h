// The X11 back end: the frame shown in a child of the host's window.
//
// The window has no event loop and no thread: the editor calls processEvents from the host's
// idle (effEditIdle), which takes the pending events of this window without blocking, hands
// the mouse to the frame and then lets the frame redraw what is dirty. Pixels go to the server
// with XPutImage from a copy of the frame's surface in the server's pixel format (any
// TrueColor visual; 32-bit 0x00RRGGBB little-endian is copied as it is).
//
// Every call into Xlib runs with our own X error handler installed, which counts the errors of
// our connection instead of ending the process, and the previous handler is put back (after an
// XSync, so no error of ours reaches the host's handler later). Closing frees everything: the
// image, the GC, the child window and the connection if we opened it.
//
// Text editing happens in the window itself: a box over the field showing the typed text, all
// of it selected at first. Printable keys replace the selection or append, BackSpace deletes,
// Return commits, Escape cancels, and a click outside the box or the loss of the keyboard
// focus commits. Closing the window while editing drops the edit without calling the field
// (the frame, and so the field, may already be gone).
//
// Threads: GUI thread only.
#pragma once

#include "gui/Font.h"
#include "gui/Platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Xlib's own types, declared here so that its macros (None, Bool, Status…) stay out of every
// file that includes this one.
typedef struct _XDisplay Display;
struct _XGC;
struct _XImage;
union _XEvent;

namespace gui {

class CFrame;

class X11Window : public Window {
public:
    // A child window of `parent` (the X11 window id the host passes to effEditOpen) of
    // width × height pixels, mapped. With `display` null the window opens its own connection
    // (XOpenDisplay(nullptr)) and closes it again; otherwise the caller's connection is used and
    // must outlive the window. Null when the display cannot be opened, the parent is not a
    // window, its visual is not TrueColor or the size is not positive.
    static std::unique_ptr<X11Window> open(void* parent, int width, int height,
                                           Display* display = nullptr);
    ~X11Window() override;
    X11Window(const X11Window&) = delete;
    X11Window& operator=(const X11Window&) = delete;

    void present(const Surface& surface, const Rect& area) override;
    void beginTextEditing(CTextEdit& field) override;
    std::optional<Point> pointer() override;

    // Takes every pending event of this window (never blocks), passes them on to the frame and
    // the edit box, then calls frame.idle(). The frame must be the one shown in this window.
    void processEvents(CFrame& frame);
    void idle(CFrame& frame) override { processEvents(frame); }
    // The same for one event the caller took from the queue itself (a modal loop that owns
    // the connection and blocks in XNextEvent): handled if it is this window's, then
    // frame.idle().
    void dispatchEvent(CFrame& frame, _XEvent& event);

    Display* display() const { return display_; }
    unsigned long handle() const { return window_; }
    // X errors of our connection seen during our calls since the window opened.
    int errorCount() const { return errorCount_; }
    bool isEditing() const { return editedField_ != nullptr; }

private:
    class ErrorTrap;

    X11Window(Display* display, bool ownsDisplay);
    bool create(unsigned long parent, int width, int height);

    void handleEvent(CFrame& frame, _XEvent& event);
    void handleKey(_XEvent& event);
    // Ends the edit; the field gets the typed text (commit) or is told to cancel, then is
    // redrawn without the box.
    void endTextEditing(bool commit);
    // Draws the edit box over the field into the image, inside `area`.
    void drawEditBox(const Rect& area);
    // Converts `area` (frame coordinates) of `pixels` into the image; `pixels` holds
    // 0x00RRGGBB, `stride` pixels a row, its first pixel at frame position `origin`.
    void convert(const Pixel* pixels, int stride, Point origin, const Rect& area);

    Display* display_;
    bool ownsDisplay_;
    unsigned long window_ = 0; // 0 once destroyed (by us or with the host's window)
    _XGC* gc_ = nullptr;
    _XImage* image_ = nullptr;             // window-sized, data in imageData_
    std::vector<std::uint32_t> imageData_; // the image's rows, server format
    bool directCopy_ = false;              // the server's format is 0x00RRGGBB in host byte order
    std::uint32_t alphaBits_ = 0;          // set in every pixel (opaque alpha of a 32-bit visual)
    int errorCount_ = 0;                   // errors counted by the trap

    CTextEdit* editedField_ = nullptr; // the field of the open edit box; null when none
    std::string typed_;                // UTF-8, at most CTextEdit::kMaxLength bytes
    bool allSelected_ = false;         // the next printable key replaces typed_
    std::optional<Font> editFont_;     // the box's font, sized to the field
    unsigned long focusBefore_ = 0;    // had the keyboard before the box took it; 0: none
};

} // namespace gui
