#include "gui/Control.h"

namespace gui {

void CControl::setValue(float value) {
    value = constrain(value);
    if (value != value_) {
        value_ = value;
        setDirty();
    }
}

void CControl::changeValue(float value) {
    value = constrain(value);
    if (value != value_) {
        value_ = value;
        setDirty();
        notifyValueChanged();
    }
}

void CControl::notifyValueChanged() {
    if (listener_ != nullptr) {
        listener_->valueChanged(this);
    }
}

bool CControl::modifierClickTaken(const MouseEvent& event) {
    return (event.buttons & kModifiers) != 0 && listener_ != nullptr &&
           listener_->controlModifierClicked(this, event.buttons) != 0;
}

bool CControl::beginGesture(const MouseEvent& event) {
    if (!event.left() || inGesture_ || modifierClickTaken(event)) {
        return false;
    }
    inGesture_ = true;
    if (listener_ != nullptr) {
        listener_->beginEdit(tag_);
    }
    return true;
}

void CControl::endGesture() {
    if (!inGesture_) {
        return;
    }
    inGesture_ = false;
    if (listener_ != nullptr) {
        listener_->endEdit(tag_);
    }
}

void CControl::stepTo(float value) {
    if (inGesture_ || listener_ == nullptr) {
        changeValue(value);
        return;
    }
    listener_->beginEdit(tag_);
    changeValue(value);
    listener_->endEdit(tag_);
}

} // namespace gui
