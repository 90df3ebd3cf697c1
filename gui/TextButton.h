// A push button drawn without a bitmap: a bevelled rectangle with its caption centred, sunk
// while the left button is held over it. Value 1 while pressed with the pointer over it, else
// 0 (setValue only: the listener is not told of the pressed look). valueChanged is called once
// per click, when the button is released over the control; a release elsewhere does nothing.
//
// The font is the owner's and must outlive the button. Threads: GUI thread only.
#pragma once

#include "gui/Control.h"
#include "gui/Font.h"

#include <string>
#include <string_view>

namespace gui {

class TextButton : public CControl {
public:
    static constexpr Color kFace{88, 88, 88};        // the button at rest
    static constexpr Color kPressedFace{64, 64, 64}; // while held
    static constexpr Color kLight{130, 130, 130};    // upper and left bevel edge at rest
    static constexpr Color kShadow{30, 30, 30};      // lower and right bevel edge at rest
    static constexpr Color kCaption{255, 255, 255};

    TextButton(const Rect& size, CControlListener* listener, int tag, std::string_view caption,
               const Font& font)
        : CControl(size, listener, tag), caption_(caption), font_(&font) {}

    const std::string& caption() const { return caption_; }
    bool isPressed() const { return value() != 0.0f; }

    void draw(DrawContext& context) override;
    void onMouseDown(const MouseEvent& event) override;
    void onMouseMoved(const MouseEvent& event) override;
    void onMouseUp(const MouseEvent& event) override;

private:
    std::string caption_; // UTF-8
    const Font* font_;    // never null
};

} // namespace gui
