#include "gui/Frame.h"

#include "gui/DrawContext.h"

#include <algorithm>

namespace gui {

void Window::idle(CFrame& frame) {
    frame.idle();
}

CFrame::CFrame(int width, int height, const Bitmap* background, Window* window)
    : surface_(width, height), background_(background), window_(window) {}

void CFrame::adopt(std::unique_ptr<CView> view) {
    if (view == nullptr) {
        return;
    }
    view->frame_ = this;
    view->setDirty();
    views_.push_back(std::move(view));
}

void CFrame::idle() {
    // Collect first: drawing one area repaints neighbours, which must not lose their own flag
    // half-way through the loop.
    for (const auto& view : views_) {
        if (view->isVisible()) {
            view->onIdle();
        }
    }
    std::vector<Rect> areas;
    for (const auto& view : views_) {
        if (view->isDirty()) {
            view->setDirty(false);
            areas.push_back(view->rect());
        }
    }
    for (const Rect& area : areas) {
        redraw(area);
    }
}

void CFrame::redrawNow(CView* view) {
    if (view == nullptr || view->frame_ != this) {
        return;
    }
    view->setDirty(false);
    redraw(view->rect());
}

void CFrame::redrawAll() {
    for (const auto& view : views_) {
        view->setDirty(false);
    }
    redraw(bounds());
}

void CFrame::redraw(const Rect& wanted) {
    const Rect area = wanted.intersect(bounds());
    if (area.isEmpty()) {
        return;
    }
    DrawContext context(surface_);
    context.setClip(area);
    context.fillRect(area, kBlack);
    if (background_ != nullptr) {
        context.drawBitmap(*background_, area, {area.left, area.top});
    }
    for (const auto& view : views_) {
        const Rect clip = area.intersect(view->rect());
        if (view->isVisible() && !clip.isEmpty()) {
            context.setClip(clip);
            view->draw(context);
        }
    }
    if (window_ != nullptr) {
        window_->present(surface_, area);
    }
}

void CFrame::mouseDown(Point where, int buttons) {
    if (captured_ != nullptr) {
        // A release the platform never delivered (e.g. lost to another window) must not leave
        // every later press stuck on the old view: end that gesture first.
        mouseUp(where, buttons);
    }
    if (CView* hit = viewAt(where); hit != nullptr) {
        captured_ = hit;
        focus_ = hit;
        captured_->onMouseDown({where, buttons});
    }
}

CView* CFrame::viewAt(Point where) const {
    auto hit = std::find_if(views_.rbegin(), views_.rend(), [&](const auto& view) {
        return view->isVisible() && view->rect().contains(where);
    });
    return hit != views_.rend() ? hit->get() : nullptr;
}

bool CFrame::wheel(Point where, float distance, int buttons) {
    CView* hit = viewAt(where);
    return hit != nullptr && hit->onWheel({where, buttons}, distance);
}

bool CFrame::keyDown(const KeyEvent& event) {
    return focus_ != nullptr && focus_->isVisible() && focus_->onKeyDown(event);
}

void CFrame::mouseMoved(Point where, int buttons) {
    if (captured_ != nullptr) {
        captured_->onMouseMoved({where, buttons});
    }
}

void CFrame::mouseUp(Point where, int buttons) {
    if (captured_ != nullptr) {
        CView* view = captured_;
        captured_ = nullptr;
        view->onMouseUp({where, buttons});
    }
}

} // namespace gui
