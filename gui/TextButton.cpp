#include "gui/TextButton.h"

#include "gui/DrawContext.h"

namespace gui {

void TextButton::draw(DrawContext& context) {
    const Rect& r = rect();
    const bool pressed = isPressed();
    context.fillRect(r, pressed ? kPressedFace : kFace);
    // Light from the upper left; a held button is sunk, so its edges swap.
    const Color upper = pressed ? kShadow : kLight;
    const Color lower = pressed ? kLight : kShadow;
    context.line({r.left, r.top}, {r.right - 1, r.top}, upper);
    context.line({r.left, r.top}, {r.left, r.bottom - 1}, upper);
    context.line({r.left, r.bottom - 1}, {r.right - 1, r.bottom - 1}, lower);
    context.line({r.right - 1, r.top}, {r.right - 1, r.bottom - 1}, lower);
    // The caption moves with the face by a pixel when sunk.
    const int shift = pressed ? 1 : 0;
    context.drawText(caption_, {r.left + 1 + shift, r.top + 1 + shift, r.right - 1, r.bottom - 1},
                     *font_, kCaption, TextAlign::Center);
}

void TextButton::onMouseDown(const MouseEvent& event) {
    if (beginGesture(event)) {
        setValue(1.0f);
    }
}

void TextButton::onMouseMoved(const MouseEvent& event) {
    if (inGesture()) {
        setValue(rect().contains(event.where) ? 1.0f : 0.0f);
    }
}

void TextButton::onMouseUp(const MouseEvent& event) {
    if (!inGesture()) {
        return;
    }
    const bool clicked = rect().contains(event.where);
    setValue(0.0f);
    endGesture();
    if (clicked) {
        notifyValueChanged();
    }
}

} // namespace gui
