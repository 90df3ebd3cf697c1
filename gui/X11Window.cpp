// Linux only; the library takes every .cpp of the folder, so the file is empty elsewhere.
#ifndef _WIN32

#include "gui/X11Window.h"

#include "gui/Controls.h"
#include "gui/DrawContext.h"
#include "gui/Frame.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <bit>
#include <utility>

namespace gui {

namespace {

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask;

constexpr Color kSelection{51, 102, 204}; // behind selected text in the edit box
constexpr int kMaxEditFontHeight = 16;    // pixels

// The toolkit's button and modifier bits held in an X event's state.
int buttonsOf(unsigned int state) {
    int buttons = 0;
    buttons |= (state & Button1Mask) != 0 ? kLButton : 0;
    buttons |= (state & Button2Mask) != 0 ? kMButton : 0;
    buttons |= (state & Button3Mask) != 0 ? kRButton : 0;
    buttons |= (state & ShiftMask) != 0 ? kShift : 0;
    buttons |= (state & ControlMask) != 0 ? kControl : 0;
    buttons |= (state & Mod1Mask) != 0 ? kAlt : 0;
    return buttons;
}

// The keys the views understand, with the modifiers held.
KeyEvent keyEventOf(XEvent& event) {
    KeyEvent key;
    switch (XLookupKeysym(&event.xkey, 0)) {
    case XK_Up:
    case XK_KP_Up:
        key.key = Key::kUp;
        break;
    case XK_Down:
    case XK_KP_Down:
        key.key = Key::kDown;
        break;
    case XK_Page_Up:
    case XK_KP_Page_Up:
        key.key = Key::kPageUp;
        break;
    case XK_Page_Down:
    case XK_KP_Page_Down:
        key.key = Key::kPageDown;
        break;
    case XK_Home:
    case XK_KP_Home:
        key.key = Key::kHome;
        break;
    case XK_End:
    case XK_KP_End:
        key.key = Key::kEnd;
        break;
    default:
        break;
    }
    key.modifiers = buttonsOf(event.xkey.state) & kModifiers;
    return key;
}

// The toolkit bit of X button 1 … 3; 0 for the others (the wheel is 4 … 7).
int buttonBit(unsigned int button) {
    switch (button) {
    case Button1:
        return kLButton;
    case Button2:
        return kMButton;
    case Button3:
        return kRButton;
    default:
        return 0;
    }
}

// An 8-bit channel scaled to the width of `mask` and shifted into place.
unsigned long channel(unsigned int value, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const unsigned long max = mask >> shift;
    return ((value * max + 127) / 255) << shift;
}

Bool isForWindow(Display*, XEvent* event, XPointer window) {
    return event->xany.window == *reinterpret_cast<const ::Window*>(window) ? True : False;
}

// Appends a Latin-1 character (what XLookupString returns) as UTF-8.
void appendLatin1(std::string& text, unsigned char c) {
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else {
        text += static_cast<char>(0xC0 | (c >> 6));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Removes the last UTF-8 character.
void popCharacter(std::string& text) {
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
        text.pop_back();
    }
    if (!text.empty()) {
        text.pop_back();
    }
}

} // namespace

// Our X error handler for the lifetime of the trap. Xlib's handler takes no user data, so the
// traps in force form a stack reached from a static; only the outermost one installs the
// handler and puts the previous one back. Each connection is synchronised (XSync) before the
// trap that covers it ends, so errors of ours never reach the host's handler.
class X11Window::ErrorTrap {
public:
    explicit ErrorTrap(X11Window& window) : window_(window), outer_(innermost_) {
        innermost_ = this;
        if (outer_ == nullptr) {
            previous_ = XSetErrorHandler(&ErrorTrap::onError);
        }
    }
    ~ErrorTrap() {
        // An outer trap on the same connection waits for these replies with its own.
        if (outer_ == nullptr || outer_->window_.display_ != window_.display_) {
            XSync(window_.display_, False);
        }
        if (outer_ == nullptr) {
            XSetErrorHandler(previous_);
            previous_ = nullptr;
        }
        innermost_ = outer_;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
    static int onError(Display* display, XErrorEvent* error) {
        for (ErrorTrap* trap = innermost_; trap != nullptr; trap = trap->outer_) {
            if (trap->window_.display_ == display) {
                ++trap->window_.errorCount_;
                return 0;
            }
        }
        // Someone else's connection: its owner's handler decides.
        return previous_ != nullptr ? previous_(display, error) : 0;
    }

    X11Window& window_;
    ErrorTrap* outer_; // the trap in force before this one; null for the outermost

    static inline ErrorTrap* innermost_ = nullptr;
    static inline XErrorHandler previous_ = nullptr; // the handler before the outermost trap
};

std::unique_ptr<X11Window> X11Window::open(void* parent, int width, int height, Display* display) {
    if (parent == nullptr || width <= 0 || height <= 0) {
        return nullptr;
    }
    const bool ownsDisplay = display == nullptr;
    if (ownsDisplay) {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            return nullptr;
        }
    }
    std::unique_ptr<X11Window> window(new X11Window(display, ownsDisplay));
    if (!window->create(reinterpret_cast<std::uintptr_t>(parent), width, height)) {
        return nullptr; // the destructor frees what was made
    }
    return window;
}

X11Window::X11Window(Display* display, bool ownsDisplay)
    : display_(display), ownsDisplay_(ownsDisplay) {}

bool X11Window::create(unsigned long parent, int width, int height) {
    ErrorTrap trap(*this);
    XWindowAttributes parentAttributes;
    if (XGetWindowAttributes(display_, parent, &parentAttributes) == 0 ||
        parentAttributes.visual->c_class != TrueColor) {
        return false;
    }

    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // we paint every pixel; no flash of a background
    attributes.event_mask = kEventMask;
    window_ = XCreateWindow(display_, parent, 0, 0, static_cast<unsigned int>(width),
                            static_cast<unsigned int>(height), 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
    gc_ = XCreateGC(display_, window_, 0, nullptr);

    Visual* visual = parentAttributes.visual;
    const int depth = parentAttributes.depth;
    image_ =
        XCreateImage(display_, visual, static_cast<unsigned int>(depth), ZPixmap, 0, nullptr,
                     static_cast<unsigned int>(width), static_cast<unsigned int>(height), 32, 0);
    if (image_ == nullptr) {
        return false;
    }
    // bitmap_pad 32: every row is a whole number of 32-bit words.
    imageData_.assign(
        static_cast<std::size_t>(image_->bytes_per_line / 4) * static_cast<std::size_t>(height), 0);
    image_->data = reinterpret_cast<char*>(imageData_.data());

    const int hostOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    directCopy_ = image_->bits_per_pixel == 32 && image_->byte_order == hostOrder &&
                  visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 &&
                  visual->blue_mask == 0xFF;
    // A 32-bit visual has alpha in the remaining bits; 0 there would be see-through.
    alphaBits_ =
        depth == 32
            ? ~static_cast<std::uint32_t>(visual->red_mask | visual->green_mask | visual->blue_mask)
            : 0;

    XMapWindow(display_, window_);
    XSync(display_, False);
    return errorCount_ == 0;
}

X11Window::~X11Window() {
    {
        ErrorTrap trap(*this);
        if (image_ != nullptr) {
            image_->data = nullptr; // imageData_ is ours, not Xlib's to free
            XDestroyImage(image_);
        }
        if (gc_ != nullptr) {
            XFreeGC(display_, gc_);
        }
        if (window_ != 0) {
            XDestroyWindow(display_, window_);
        }
    } // the trap's XSync: the window is gone on the server before we return
    if (ownsDisplay_) {
        XCloseDisplay(display_);
    }
}

void X11Window::present(const Surface& surface, const Rect& area) {
    if (window_ == 0) {
        return;
    }
    const Rect shown{0, 0, std::min(surface.width(), image_->width),
                     std::min(surface.height(), image_->height)};
    const Rect r = area.intersect(shown);
    if (r.isEmpty()) {
        return;
    }
    ErrorTrap trap(*this);
    convert(surface.data(), surface.width(), {0, 0}, r);
    if (editedField_ != nullptr) {
        drawEditBox(r);
    }
    XPutImage(display_, window_, gc_, image_, r.left, r.top, r.left, r.top,
              static_cast<unsigned int>(r.width()), static_cast<unsigned int>(r.height()));
}

void X11Window::convert(const Pixel* pixels, int stride, Point origin, const Rect& area) {
    const std::size_t words = static_cast<std::size_t>(image_->bytes_per_line / 4);
    for (int y = area.top; y < area.bottom; ++y) {
        const Pixel* source =
            pixels + static_cast<std::size_t>(y - origin.y) * static_cast<std::size_t>(stride);
        if (directCopy_) {
            std::uint32_t* row = imageData_.data() + static_cast<std::size_t>(y) * words;
            for (int x = area.left; x < area.right; ++x) {
                row[x] = source[x - origin.x] | alphaBits_;
            }
            continue;
        }
        for (int x = area.left; x < area.right; ++x) {
            const Color c = Color::fromPixel(source[x - origin.x]);
            XPutPixel(image_, x, y,
                      channel(c.red, image_->red_mask) | channel(c.green, image_->green_mask) |
                          channel(c.blue, image_->blue_mask) | alphaBits_);
        }
    }
}

void X11Window::processEvents(CFrame& frame) {
    {
        ErrorTrap trap(*this);
        XEvent event;
        if (window_ != 0 && XCheckTypedWindowEvent(display_, window_, DestroyNotify, &event) != 0) {
            // Gone with the host's window: whatever else is queued for it can only fail.
            while (XCheckIfEvent(display_, &event, &isForWindow,
                                 reinterpret_cast<XPointer>(&window_)) != 0) {
            }
            window_ = 0;
            endTextEditing(true);
        }
        // Only this window's events: on a connection shared with the host the rest are its own.
        while (window_ != 0 && XCheckIfEvent(display_, &event, &isForWindow,
                                             reinterpret_cast<XPointer>(&window_)) != 0) {
            handleEvent(frame, event);
        }
        frame.idle(); // inside the trap: one XSync for everything presented
    }
}

void X11Window::dispatchEvent(CFrame& frame, XEvent& event) {
    ErrorTrap trap(*this);
    if (window_ != 0 && event.xany.window == window_) {
        if (event.type == DestroyNotify) {
            window_ = 0;
            endTextEditing(true);
        } else {
            handleEvent(frame, event);
        }
    }
    frame.idle();
}

void X11Window::handleEvent(CFrame& frame, XEvent& event) {
    switch (event.type) {
    case Expose: {
        const XExposeEvent& e = event.xexpose;
        present(frame.surface(), {e.x, e.y, e.x + e.width, e.y + e.height});
        break;
    }
    case ButtonPress: {
        const XButtonEvent& e = event.xbutton;
        const Point where{e.x, e.y};
        if (e.button == Button4 || e.button == Button5) {
            // The wheel: buttons 4 (away from the user) and 5, as presses only.
            frame.wheel(where, e.button == Button4 ? 1.0f : -1.0f, buttonsOf(e.state));
            break;
        }
        if (buttonBit(e.button) == 0) {
            break;
        }
        if (editedField_ != nullptr) {
            if (editedField_->rect().contains(where)) {
                allSelected_ = false; // a click in the box puts the caret at the end
                editedField_->invalid();
                break;
            }
            endTextEditing(true);
        }
        frame.mouseDown(where, buttonsOf(e.state) | buttonBit(e.button));
        break;
    }
    case ButtonRelease: {
        const XButtonEvent& e = event.xbutton;
        if (buttonBit(e.button) != 0) {
            frame.mouseUp({e.x, e.y}, buttonsOf(e.state) | buttonBit(e.button));
        }
        break;
    }
    case MotionNotify:
        frame.mouseMoved({event.xmotion.x, event.xmotion.y}, buttonsOf(event.xmotion.state));
        break;
    case KeyPress:
        if (editedField_ != nullptr) {
            handleKey(event);
        } else {
            frame.keyDown(keyEventOf(event));
        }
        break;
    case FocusOut:
        // Not the focus moving around during a keyboard grab (e.g. the window manager's), nor
        // the pointer's pseudo-focus leaving as the real focus arrives (NotifyPointer).
        if (editedField_ != nullptr && event.xfocus.detail != NotifyInferior &&
            event.xfocus.detail != NotifyPointer &&
            (event.xfocus.mode == NotifyNormal || event.xfocus.mode == NotifyWhileGrabbed)) {
            endTextEditing(true);
        }
        break;
    default:
        break;
    }
}

std::optional<Point> X11Window::pointer() {
    if (window_ == 0) {
        return std::nullopt;
    }
    ErrorTrap trap(*this);
    ::Window root = 0;
    ::Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    if (XQueryPointer(display_, window_, &root, &child, &rootX, &rootY, &x, &y, &mask) == 0) {
        return std::nullopt; // on another screen
    }
    return Point{x, y};
}

void X11Window::beginTextEditing(CTextEdit& field) {
    if (editedField_ == &field) {
        return;
    }
    if (editedField_ != nullptr) {
        endTextEditing(true);
    }
    if (window_ == 0) {
        field.cancel();
        return;
    }
    editedField_ = &field;
    typed_ = field.text();
    allSelected_ = true;
    {
        ErrorTrap trap(*this);
        // Taking the focus is only allowed while the window is on screen.
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, window_, &attributes) != 0 &&
            attributes.map_state == IsViewable) {
            int revert = 0;
            XGetInputFocus(display_, &focusBefore_, &revert);
            XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        }
    }
    field.invalid(); // the frame presents the field, and present draws the box over it
}

void X11Window::endTextEditing(bool commit) {
    CTextEdit* field = std::exchange(editedField_, nullptr);
    if (field == nullptr) {
        return;
    }
    // The keys go back to whoever had them, unless the focus has moved on already.
    const ::Window before = std::exchange(focusBefore_, 0);
    if (before != 0 && window_ != 0) {
        ErrorTrap trap(*this);
        ::Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        if (focus == window_) {
            XSetInputFocus(display_, before, RevertToParent, CurrentTime);
        }
    }
    if (commit) {
        field->commit(typed_);
    } else {
        field->cancel();
    }
    typed_.clear();
    field->invalid(); // the field without the box
}

void X11Window::handleKey(XEvent& event) {
    char buffer[8];
    KeySym key = NoSymbol;
    const int length = XLookupString(&event.xkey, buffer, sizeof buffer, &key, nullptr);
    switch (key) {
    case XK_Return:
    case XK_KP_Enter:
        endTextEditing(true);
        return;
    case XK_Escape:
        endTextEditing(false);
        return;
    case XK_BackSpace:
        if (allSelected_) {
            typed_.clear();
        } else {
            popCharacter(typed_);
        }
        break;
    case XK_Right:
    case XK_End:
        break; // ends the selection, caret at the end
    default: {
        // One Latin-1 character; control characters (Ctrl+key, Tab, Delete) are not typed.
        const unsigned char c = length == 1 ? static_cast<unsigned char>(buffer[0]) : 0;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            return;
        }
        if (allSelected_) {
            typed_.clear();
        }
        if (typed_.size() + (c < 0x80 ? 1 : 2) <= CTextEdit::kMaxLength) {
            appendLatin1(typed_, c);
        }
        break;
    }
    }
    allSelected_ = false;
    editedField_->invalid();
}

void X11Window::drawEditBox(const Rect& area) {
    const Rect box = editedField_->rect().intersect({0, 0, image_->width, image_->height});
    const Rect visible = box.intersect(area);
    if (visible.isEmpty()) {
        return;
    }
    const int fontHeight = static_cast<int>(
        std::clamp<long long>(box.height() - 4, Font::kMinHeight, kMaxEditFontHeight));
    if (!editFont_ || editFont_->height() != fontHeight) {
        editFont_.emplace(FontWeight::Normal, fontHeight);
    }

    // Drawn in frame coordinates onto a surface of the box's size.
    Surface pixels(static_cast<int>(box.width()), static_cast<int>(box.height()), kWhite);
    DrawContext context(pixels);
    context.setOrigin({-box.left, -box.top});
    context.frameRect(box, kBlack);
    const Rect inside{box.left + 2, box.top + 1, box.right - 2, box.bottom - 1};
    context.setClip(inside);
    // Left-aligned; a text too long for the box shows its end, where the caret is.
    const int width = editFont_->textWidth(typed_);
    const int left = static_cast<int>(
        std::min<long long>(inside.left, inside.right - 1 - static_cast<long long>(width)));
    const int right = left + width;
    const Rect text{left, inside.top, std::max(right, inside.right), inside.bottom};
    if (allSelected_ && !typed_.empty()) {
        context.fillRect({left, inside.top, right, inside.bottom}, kSelection);
        context.drawText(typed_, text, *editFont_, kWhite, TextAlign::Left);
    } else {
        context.drawText(typed_, text, *editFont_, kBlack, TextAlign::Left);
        context.line({right, inside.top + 1}, {right, inside.bottom - 2}, kBlack); // caret
    }
    convert(pixels.data(), pixels.width(), {box.left, box.top}, visible);
}

} // namespace gui

#endif // _WIN32
