// What the frame needs of the platform window it is shown in: putting pixels on the screen and
// an in-place text editor. One implementation per platform; HeadlessWindow for tests and
// off-screen pictures. The window is driven by the host's idle and delivers its mouse events to
// the frame (CFrame::mouseDown and so on); it owns no thread.
//
// Threads: GUI thread only.
#pragma once

#include "gui/Rect.h"
#include "gui/Surface.h"

#include <optional>

namespace gui {

class CFrame;
class CTextEdit;

class Window {
public:
    virtual ~Window() = default;

    // Shows the part `area` (inside the surface) of the frame's surface.
    virtual void present(const Surface& surface, const Rect& area) = 0;

    // Opens a single-line edit box over field.rect() holding field.text(), all of it selected.
    // When the user presses Enter or the box loses focus, the window calls field.commit with
    // the typed text; Escape calls field.cancel(). The field outlives the edit box.
    virtual void beginTextEditing(CTextEdit& field) = 0;

    // The pointer's position in frame coordinates; nullopt when the window cannot say.
    virtual std::optional<Point> pointer() { return std::nullopt; }

    // The frame shown in the window from now on; null when it goes. A window whose platform
    // delivers events on its own passes them to the attached frame.
    virtual void attach(CFrame* frame) { (void)frame; }
    // At the host's idle: takes the events waiting for the window, if the platform leaves them
    // waiting, then lets the frame redraw what is dirty (frame.idle()).
    virtual void idle(CFrame& frame);
    // The platform's handle of the window (the owner of its dialogs); null when there is none.
    virtual void* nativeHandle() const { return nullptr; }
};

} // namespace gui
