#include "gui/Controls.h"

#include "gui/Frame.h"

#include <algorithm>
#include <cmath>

namespace gui {

namespace {

// Draws sub-image `index` of `count` stacked in `bitmap` at the view's top-left corner.
void drawSubImage(DrawContext& context, const Bitmap* bitmap, int count, int index,
                  const Rect& view) {
    if (bitmap == nullptr) {
        return;
    }
    const int height = bitmap->height() / count;
    const Rect source{0, index * height, bitmap->width(), (index + 1) * height};
    context.drawBitmap(*bitmap, source, {view.left, view.top});
}

// The longest prefix of at most `limit` bytes that does not split a UTF-8 sequence.
std::string_view cutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end; // text[end] continues a sequence: cut before the sequence's lead byte
    }
    return text.substr(0, end);
}

} // namespace

// ---- CVerticalSlider

CVerticalSlider::CVerticalSlider(const Rect& size, CControlListener* listener, int tag, int iMinPos,
                                 int iMaxPos, const Bitmap* handle, const Bitmap* track)
    : CControl(size, listener, tag), travel_(std::max(0, iMaxPos - iMinPos)), handle_(handle),
      track_(track) {}

float CVerticalSlider::constrain(float value) const {
    // NaN becomes 0 as well: the comparison is false for it.
    return value >= 0.0f ? std::min(value, 1.0f) : 0.0f;
}

int CVerticalSlider::handleTop() const {
    return rect().top + static_cast<int>(std::lround((1.0f - value()) * travel_));
}

float CVerticalSlider::valueAt(int y) const {
    if (travel_ == 0) {
        return value();
    }
    const int handleHeight = handle_ != nullptr ? handle_->height() : 0;
    const long long offset = static_cast<long long>(y) - handleHeight / 2 - rect().top;
    return 1.0f - static_cast<float>(offset) / static_cast<float>(travel_);
}

void CVerticalSlider::draw(DrawContext& context) {
    const Rect& r = rect();
    if (track_ != nullptr) {
        context.drawBitmap(*track_, {0, 0, track_->width(), track_->height()}, {r.left, r.top});
    }
    if (handle_ != nullptr) {
        const int left = r.left + static_cast<int>((r.width() - handle_->width()) / 2);
        context.drawBitmap(*handle_, {0, 0, handle_->width(), handle_->height()},
                           {left, handleTop()}, kHandleTransparent);
    }
}

void CVerticalSlider::onMouseDown(const MouseEvent& event) {
    if (!beginGesture(event)) {
        return;
    }
    if (event.control()) {
        dragging_ = false;
        setValue(0.5f);
        notifyValueChanged(); // even when it was 0.5 already
        return;
    }
    dragging_ = true;
    lastY_ = event.where.y;
    if (!event.shift()) {
        changeValue(valueAt(event.where.y));
    }
}

void CVerticalSlider::onMouseMoved(const MouseEvent& event) {
    if (!dragging_) {
        return;
    }
    const int y = event.where.y;
    if (event.shift()) {
        if (travel_ > 0) {
            const float delta = static_cast<float>(lastY_ - y) / static_cast<float>(travel_);
            changeValue(value() + delta / 10.0f);
        }
    } else {
        changeValue(valueAt(y));
    }
    lastY_ = y;
}

void CVerticalSlider::onMouseUp(const MouseEvent& event) {
    (void)event;
    dragging_ = false;
    endGesture();
}

bool CVerticalSlider::onWheel(const MouseEvent& event, float distance) {
    if (!std::isfinite(distance)) {
        return false;
    }
    const float notch = event.shift() ? 0.002f : 0.02f;
    stepTo(constrain(value() + distance * notch));
    return true;
}

bool CVerticalSlider::onKeyDown(const KeyEvent& event) {
    const float fine = (event.modifiers & kShift) != 0 ? 0.1f : 1.0f;
    float target = value();
    switch (event.key) {
    case Key::kUp:
        target += 0.01f * fine;
        break;
    case Key::kDown:
        target -= 0.01f * fine;
        break;
    case Key::kPageUp:
        target += 0.1f * fine;
        break;
    case Key::kPageDown:
        target -= 0.1f * fine;
        break;
    case Key::kHome:
        target = 1.0f;
        break;
    case Key::kEnd:
        target = 0.0f;
        break;
    case Key::kOther:
        return false;
    }
    stepTo(constrain(target));
    return true;
}

// ---- COnOffButton

void COnOffButton::draw(DrawContext& context) {
    drawSubImage(context, bitmap_, 2, value() == 0.0f ? 0 : 1, rect());
}

void COnOffButton::onMouseDown(const MouseEvent& event) {
    if (beginGesture(event)) {
        changeValue(value() == 0.0f ? 1.0f : 0.0f);
    }
}

void COnOffButton::onMouseUp(const MouseEvent& event) {
    (void)event;
    endGesture();
}

// ---- CKickButton

void CKickButton::draw(DrawContext& context) {
    drawSubImage(context, bitmap_, 2, value() != 0.0f ? 1 : 0, rect());
}

void CKickButton::onMouseDown(const MouseEvent& event) {
    if (beginGesture(event)) {
        changeValue(1.0f);
    }
}

void CKickButton::onMouseMoved(const MouseEvent& event) {
    if (inGesture()) {
        changeValue(rect().contains(event.where) ? 1.0f : 0.0f);
    }
}

void CKickButton::onMouseUp(const MouseEvent& event) {
    (void)event;
    if (inGesture()) {
        changeValue(0.0f);
        endGesture();
    }
}

// ---- CRockerSwitch

void CRockerSwitch::draw(DrawContext& context) {
    const float v = value();
    drawSubImage(context, bitmap_, 3, v == 1.0f ? 2 : (v == 0.0f ? 1 : 0), rect());
}

float CRockerSwitch::valueAt(Point where) const {
    const Rect& r = rect();
    if (!r.contains(where)) {
        return 0.0f;
    }
    return where.y < r.top + r.height() / 2 ? -1.0f : 1.0f;
}

void CRockerSwitch::onMouseDown(const MouseEvent& event) {
    if (beginGesture(event)) {
        changeValue(valueAt(event.where));
    }
}

void CRockerSwitch::onMouseMoved(const MouseEvent& event) {
    if (inGesture()) {
        changeValue(valueAt(event.where));
    }
}

void CRockerSwitch::onMouseUp(const MouseEvent& event) {
    (void)event;
    if (inGesture()) {
        changeValue(0.0f);
        endGesture();
    }
}

// ---- CTextEdit

CTextEdit::CTextEdit(const Rect& size, CControlListener* listener, int tag, std::string_view text,
                     const Font& font, TextAlign align)
    : CControl(size, listener, tag), text_(cutUtf8(text, kMaxLength)), font_(&font), align_(align) {
}

void CTextEdit::setText(std::string_view text) {
    const std::string_view cut = cutUtf8(text, kMaxLength);
    if (cut != text_) {
        text_ = cut;
        setDirty();
    }
}

void CTextEdit::draw(DrawContext& context) {
    const Rect& r = rect();
    context.fillRect(r, kBlack);
    context.frameRect(r, kBlack);
    const Rect inside{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    context.drawText(text_, inside, *font_, kWhite, align_);
}

void CTextEdit::onMouseDown(const MouseEvent& event) {
    if (event.left() && !modifierClickTaken(event)) {
        beginEditing();
    }
}

void CTextEdit::beginEditing() {
    if (editing_) {
        return;
    }
    if (frame() != nullptr && frame()->window() != nullptr) {
        editing_ = true;
        frame()->window()->beginTextEditing(*this);
    }
}

void CTextEdit::commit(std::string_view typed) {
    editing_ = false;
    const std::string_view cut = cutUtf8(typed, kMaxLength);
    if (cut != text_) {
        text_ = cut;
        setDirty();
        notifyValueChanged();
    }
}

} // namespace gui
