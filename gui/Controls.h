// The bitmap controls and the text field of the editor. Bitmaps with several sub-images stack
// them vertically, each the bitmap's full width and an equal share of its height (so a
// 20 × 40 two-state bitmap has 20 × 20 sub-images whatever the view's size); a sub-image is
// drawn at the view's top-left corner and the frame's background shows in any part of the
// view it leaves uncovered. A null bitmap draws nothing.
//
// Bitmaps and fonts are the owner's and must outlive the controls. Threads: GUI thread only.
#pragma once

#include "gui/Bitmap.h"
#include "gui/Control.h"
#include "gui/DrawContext.h"
#include "gui/Font.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace gui {

// A vertical slider, value 0 … 1 with 1 at the top. Draws the track bitmap, then the handle
// bitmap (magenta pixels, kHandleTransparent, left out) with its top at
//   rect().top + round((1 − value) · travel),  travel = iMaxPos − iMinPos pixels,
// centred horizontally on the track. A press jumps the handle so that its centre row is under
// the pointer, and the handle follows the drag. While Shift is held the value moves by a tenth
// of the pointer's movement instead (a Shift press does not jump). Ctrl+click sets 0.5.
// The wheel moves the value by 0.02 a notch, the Up and Down keys by 0.01, Page Up and Page Down
// by 0.1 (a tenth of each with Shift); Home sets 1 and End 0.
class CVerticalSlider : public CControl {
public:
    static constexpr Color kHandleTransparent{255, 0, 255};

    CVerticalSlider(const Rect& size, CControlListener* listener, int tag, int iMinPos, int iMaxPos,
                    const Bitmap* handle, const Bitmap* track);

    void draw(DrawContext& context) override;
    void onMouseDown(const MouseEvent& event) override;
    void onMouseMoved(const MouseEvent& event) override;
    void onMouseUp(const MouseEvent& event) override;
    bool onWheel(const MouseEvent& event, float distance) override;
    bool onKeyDown(const KeyEvent& event) override;

    // The frame row of the handle's top for the current value.
    int handleTop() const;

protected:
    float constrain(float value) const override;

private:
    // The value that puts the handle's centre on row y.
    float valueAt(int y) const;

    int travel_;            // pixels the handle moves from value 1 to value 0; >= 0
    const Bitmap* handle_;  // may be null
    const Bitmap* track_;   // may be null
    int lastY_ = 0;         // pointer row at the last press or move
    bool dragging_ = false; // the handle follows the pointer (not after Ctrl+click)
};

// A two-state button, value 0 or 1: sub-image 0 for value 0, sub-image 1 for any other value.
// A press toggles the value and then calls valueChanged once.
class COnOffButton : public CControl {
public:
    COnOffButton(const Rect& size, CControlListener* listener, int tag, const Bitmap* bitmap)
        : CControl(size, listener, tag), bitmap_(bitmap) {}

    void draw(DrawContext& context) override;
    void onMouseDown(const MouseEvent& event) override;
    void onMouseUp(const MouseEvent& event) override;

private:
    const Bitmap* bitmap_; // 2 sub-images: off, on
};

// A push button, value 1 while pressed with the pointer over it, else 0; sub-image 1 while the
// value is not 0. valueChanged at every change, so a click delivers 1 and then 0.
class CKickButton : public CControl {
public:
    CKickButton(const Rect& size, CControlListener* listener, int tag, const Bitmap* bitmap)
        : CControl(size, listener, tag), bitmap_(bitmap) {}

    void draw(DrawContext& context) override;
    void onMouseDown(const MouseEvent& event) override;
    void onMouseMoved(const MouseEvent& event) override;
    void onMouseUp(const MouseEvent& event) override;

private:
    const Bitmap* bitmap_; // 2 sub-images: up, pressed
};

// A vertical rocker, value −1 (upper half held), +1 (lower half held) or 0 (released). The
// pointer is followed during the drag: upper half −1, lower half +1 (the middle row of an odd
// height counts as lower), outside the view 0. Sub-image 2 when the value is exactly 1,
// sub-image 1 when exactly 0, sub-image 0 for any other value (so a value set from outside,
// such as 4, shows sub-image 0). valueChanged at every change.
class CRockerSwitch : public CControl {
public:
    CRockerSwitch(const Rect& size, CControlListener* listener, int tag, const Bitmap* bitmap)
        : CControl(size, listener, tag), bitmap_(bitmap) {}

    void draw(DrawContext& context) override;
    void onMouseDown(const MouseEvent& event) override;
    void onMouseMoved(const MouseEvent& event) override;
    void onMouseUp(const MouseEvent& event) override;

private:
    float valueAt(Point where) const;

    const Bitmap* bitmap_; // 3 sub-images: up pressed, at rest, down pressed
};

// A text field: the rectangle filled black with a black frame and the text in white inside
// the frame, in the given font and alignment. The text holds at most kMaxLength bytes of
// UTF-8; longer texts are cut at a character boundary.
//
// Editing happens in the platform's edit box: a click calls beginEditing, which asks the
// frame's window for a box over the field; the window later calls commit with the typed text
// (Enter, focus lost) or cancel. commit calls valueChanged once, and only if the text differs.
// The value stays 0: the owner reads text(). No beginEdit/endEdit: the owner decides what a
// typed entry means.
class CTextEdit : public CControl {
public:
    static constexpr std::size_t kMaxLength = 255;

    CTextEdit(const Rect& size, CControlListener* listener, int tag, std::string_view text,
              const Font& font, TextAlign align = TextAlign::Center);

    const std::string& text() const { return text_; }
    // The font the text is drawn in (a platform's edit box matches it).
    const Font& font() const { return *font_; }
    // Replaces the text without telling the listener.
    void setText(std::string_view text);

    void draw(DrawContext& context) override;
    void onMouseDown(const MouseEvent& event) override;

    void beginEditing();
    void commit(std::string_view typed);
    void cancel() { editing_ = false; }
    bool isEditing() const { return editing_; }

private:
    std::string text_; // at most kMaxLength bytes, UTF-8
    const Font* font_; // never null
    TextAlign align_;
    bool editing_ = false; // an edit box is open for this field
};

} // namespace gui
