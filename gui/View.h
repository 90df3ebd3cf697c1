// The base of everything placed in a frame: a rectangle in frame coordinates, a draw call and
// the mouse. A view draws only when its frame asks (at idle for views marked dirty, or at
// once through invalid()), and only inside its rectangle; mouse handlers change state and mark
// the view dirty, they do not draw.
//
// Mouse model: a press at a point with the buttons and modifiers held, moves while a button is
// held, and a release. The frame sends the press to the topmost visible view under the pointer
// and sends every following move and the release to that same view, wherever the pointer is.
//
// Threads: GUI thread only.
#pragma once

#include "gui/DrawContext.h"
#include "gui/Rect.h"

namespace gui {

class CFrame;

// Bits of MouseEvent::buttons: the buttons held and the modifier keys.
inline constexpr int kLButton = 1 << 0;
inline constexpr int kMButton = 1 << 1;
inline constexpr int kRButton = 1 << 2;
inline constexpr int kShift = 1 << 3;
inline constexpr int kControl = 1 << 4;
inline constexpr int kAlt = 1 << 5;
inline constexpr int kModifiers = kShift | kControl | kAlt;

// Keys the views understand; the platform and the host's key codes are mapped onto them.
enum class Key { kOther, kUp, kDown, kPageUp, kPageDown, kHome, kEnd };

struct KeyEvent {
    Key key = Key::kOther;
    int modifiers = 0; // kShift, kControl, kAlt
};

struct MouseEvent {
    Point where;     // frame coordinates
    int buttons = 0; // kLButton … kAlt

    bool left() const { return (buttons & kLButton) != 0; }
    bool shift() const { return (buttons & kShift) != 0; }
    bool control() const { return (buttons & kControl) != 0; }
};

class CView {
public:
    explicit CView(const Rect& size) : rect_(size) {}
    virtual ~CView() = default;
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    const Rect& rect() const { return rect_; }

    // Draws the view; the context's clip lies inside rect().
    virtual void draw(DrawContext& context) { (void)context; }

    virtual void onMouseDown(const MouseEvent& event) { (void)event; }
    virtual void onMouseMoved(const MouseEvent& event) { (void)event; }
    virtual void onMouseUp(const MouseEvent& event) { (void)event; }
    // The wheel turned `distance` notches (positive: away from the user) over the view; true
    // when the view used it.
    virtual bool onWheel(const MouseEvent& event, float distance) {
        (void)event;
        (void)distance;
        return false;
    }
    // A key while the view holds the keyboard focus; true when the view used it.
    virtual bool onKeyDown(const KeyEvent& event) {
        (void)event;
        return false;
    }

    // Called by the frame at every idle before it redraws the dirty views: a view that learns
    // of changes from elsewhere (another thread) marks itself dirty here.
    virtual void onIdle() {}

    // A dirty view is redrawn at the frame's next idle.
    void setDirty(bool dirty = true) { dirty_ = dirty; }
    bool isDirty() const { return dirty_; }

    // A hidden view is not drawn and gets no mouse events; changing it marks the view dirty so
    // its area is repainted.
    void setVisible(bool visible);
    bool isVisible() const { return visible_; }

    // The frame the view was added to; null before.
    CFrame* frame() const { return frame_; }

    // Redraws the view now if it is in a frame, else marks it dirty.
    void invalid();

private:
    friend class CFrame;

    Rect rect_;               // frame coordinates
    CFrame* frame_ = nullptr; // set by CFrame::addView
    bool dirty_ = true;       // redraw at the next idle; new views start dirty
    bool visible_ = true;
};

} // namespace gui
