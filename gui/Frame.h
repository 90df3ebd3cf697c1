// The toolkit window: a background bitmap, the views on it in drawing order (owned), and a
// surface of the frame's size that holds what is on screen. The platform window shows the
// surface and forwards the mouse here.
//
// Redrawing an area draws the background there, then every visible view that overlaps it, in
// order, clipped to the area; so a view under or over a redrawn one is repainted correctly.
// Only the redrawn areas are presented.
//
// Threads: GUI thread only. The background bitmap and the window must outlive the frame.
#pragma once

#include "gui/Bitmap.h"
#include "gui/Platform.h"
#include "gui/Rect.h"
#include "gui/Surface.h"
#include "gui/View.h"

#include <memory>
#include <vector>

namespace gui {

class CFrame {
public:
    // `background` and `window` may be null (black background; nothing presented).
    CFrame(int width, int height, const Bitmap* background, Window* window);
    CFrame(const CFrame&) = delete;
    CFrame& operator=(const CFrame&) = delete;

    // Takes the view, puts it on top of the others and returns it.
    template <class T>
    T* addView(std::unique_ptr<T> view) {
        T* added = view.get();
        adopt(std::unique_ptr<CView>(std::move(view)));
        return added;
    }

    // Redraws the views marked dirty and presents their areas.
    void idle();
    // Redraws one view of this frame now and presents it.
    void redrawNow(CView* view);
    // Redraws and presents the whole frame (when the window first opens).
    void redrawAll();

    // Mouse input from the platform window, in frame coordinates. A press goes to the topmost
    // visible view under the pointer, which then gets every move and the release; a press
    // during a drag first ends the drag with a release.
    void mouseDown(Point where, int buttons);
    void mouseMoved(Point where, int buttons);
    void mouseUp(Point where, int buttons);
    // The wheel: offered to the topmost visible view under the pointer; true when it took it.
    bool wheel(Point where, float distance, int buttons);
    // A key (from the platform window or the host): offered to the view holding the keyboard
    // focus, which is the last view pressed; true when it took it. No view takes key releases.
    bool keyDown(const KeyEvent& event);

    Rect bounds() const { return {0, 0, surface_.width(), surface_.height()}; }
    const Surface& surface() const { return surface_; }
    Window* window() const { return window_; }

private:
    CView* viewAt(Point where) const;
    void adopt(std::unique_ptr<CView> view);
    // Redraws `area` (frame coordinates) and presents it.
    void redraw(const Rect& area);

    Surface surface_;                           // frame pixels, what is on screen
    const Bitmap* background_;                  // drawn under the views; may be null
    Window* window_;                            // where surfaces are presented; may be null
    std::vector<std::unique_ptr<CView>> views_; // bottom to top
    CView* captured_ = nullptr;                 // gets moves and the release after a press
    CView* focus_ = nullptr;                    // gets the keys; the last view pressed
};

} // namespace gui
