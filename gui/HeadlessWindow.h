// A window without a screen: it records what the frame presents and which text fields asked
// for an edit box, so tests can check them and drive the fields themselves.
#pragma once

#include "gui/Platform.h"

#include <vector>

namespace gui {

class HeadlessWindow : public Window {
public:
    void present(const Surface& surface, const Rect& area) override;
    void beginTextEditing(CTextEdit& field) override;
    std::optional<Point> pointer() override { return pointer_; }
    void setPointer(std::optional<Point> where) { pointer_ = where; }

    const std::vector<Rect>& presented() const { return presented_; }
    void clearPresented() { presented_.clear(); }
    // The field of the last edit request; null when none came.
    CTextEdit* editedField() const { return editedField_; }

private:
    std::vector<Rect> presented_;      // every area presented, in order
    CTextEdit* editedField_ = nullptr; // last field that asked for an edit box
    std::optional<Point> pointer_;     // as the test places it
};

} // namespace gui
