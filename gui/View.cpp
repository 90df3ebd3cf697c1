#include "gui/View.h"

#include "gui/Frame.h"

namespace gui {

void CView::setVisible(bool visible) {
    if (visible != visible_) {
        visible_ = visible;
        dirty_ = true;
    }
}

void CView::invalid() {
    if (frame_ != nullptr) {
        frame_->redrawNow(this);
    } else {
        dirty_ = true;
    }
}

} // namespace gui
