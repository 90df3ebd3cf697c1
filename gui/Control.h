// A view with a value that the user changes: a tag saying which one it is, a 32-bit float
// value and a listener told of every change the user makes. setValue (the owner's path, e.g.
// the host moving a parameter) never calls the listener.
//
// Around each mouse gesture (press … release) a control calls listener->beginEdit(tag) at
// the press and listener->endEdit(tag) at the release, so the owner can group automation.
// A press with a modifier key is first offered to listener->controlModifierClicked; a
// non-zero answer means the listener dealt with it and the control ignores the gesture.
//
// Threads: GUI thread only. The listener must outlive the control.
#pragma once

#include "gui/View.h"

namespace gui {

class CControl;

class CControlListener {
public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(CControl* control) = 0;
    // Non-zero: the listener handled the click and the control must not.
    virtual int controlModifierClicked(CControl* control, int buttons) {
        (void)control;
        (void)buttons;
        return 0;
    }
    virtual void beginEdit(int tag) { (void)tag; }
    virtual void endEdit(int tag) { (void)tag; }
};

class CControl : public CView {
public:
    CControl(const Rect& size, CControlListener* listener, int tag)
        : CView(size), listener_(listener), tag_(tag) {}

    int tag() const { return tag_; }
    float value() const { return value_; }
    // Sets the value (as the control limits it) and marks the view dirty if it changed; no
    // listener call.
    void setValue(float value);
    CControlListener* listener() const { return listener_; }

protected:
    // The value as this kind of control holds it; all values by default.
    virtual float constrain(float value) const { return value; }

    // Sets the value and, if it changed, marks the view dirty and calls valueChanged.
    void changeValue(float value);
    void notifyValueChanged();

    // True when the press carries a modifier and the listener took it.
    bool modifierClickTaken(const MouseEvent& event);
    // Starts a gesture at a left-button press: false (and no gesture) for other buttons or
    // when the listener takes a modifier click; otherwise beginEdit is called.
    bool beginGesture(const MouseEvent& event);
    // Ends the gesture begun by beginGesture (endEdit); nothing if none is running.
    void endGesture();
    bool inGesture() const { return inGesture_; }
    // A change made in one step (a key, the wheel): beginEdit, the change, endEdit; inside a
    // mouse gesture just the change.
    void stepTo(float value);

private:
    CControlListener* listener_; // may be null
    int tag_;                    // the owner's identifier
    float value_ = 0.0f;
    bool inGesture_ = false; // between a press and its release
};

} // namespace gui
