#include "gui/HeadlessWindow.h"

namespace gui {

void HeadlessWindow::present(const Surface& surface, const Rect& area) {
    (void)surface;
    presented_.push_back(area);
}

void HeadlessWindow::beginTextEditing(CTextEdit& field) {
    editedField_ = &field;
}

} // namespace gui
