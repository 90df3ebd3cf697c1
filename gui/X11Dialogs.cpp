// Linux only; the library takes every .cpp of the folder, so the file is empty elsewhere.
#ifndef _WIN32

#include "gui/X11Dialogs.h"

#include "gui/Bitmap.h"
#include "gui/Controls.h"
#include "gui/DrawContext.h"
#include "gui/Font.h"
#include "gui/Frame.h"
#include "gui/TextButton.h"
#include "gui/X11Window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace gui {

namespace {

constexpr Color kBackground{48, 48, 48};
constexpr Color kTextColor{255, 255, 255};
constexpr int kTextHeight = 12;  // font, pixels
constexpr int kLineHeight = 16;  // pixels from one text line to the next
constexpr int kMaxLines = 24;    // a longer message is cut, so the box fits on a screen
constexpr int kFieldHeight = 18; // the edit box's font is the field's height − 4
constexpr int kFieldTextHeight = 14;
constexpr int kSpacing = 10; // between the text, the field and the buttons

enum Tag { kOkTag, kCancelTag, kFieldTag };

// Splits `text` into lines no wider than `width` pixels: at every '\n', then between words;
// a word wider than a line is broken between characters.
std::vector<std::string> wrapText(std::string_view text, const Font& font, int width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view paragraph = text.substr(start, end - start);
        std::string line;
        std::size_t pos = 0;
        while (pos < paragraph.size()) {
            const std::size_t wordEnd = std::min(paragraph.find(' ', pos), paragraph.size());
            std::string_view word = paragraph.substr(pos, wordEnd - pos);
            pos = wordEnd + 1;
            if (word.empty()) {
                continue; // runs of spaces collapse
            }
            const std::string joined =
                line.empty() ? std::string(word) : line + ' ' + std::string(word);
            if (font.textWidth(joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.empty()) {
                lines.push_back(std::move(line));
                line.clear();
            }
            // The word starts a line; whatever does not fit is broken off.
            while (font.textWidth(word) > width) {
                std::size_t cut = 0;
                std::size_t next = 0;
                while (next < word.size()) {
                    std::size_t after = next;
                    nextCodePoint(word, after);
                    if (font.textWidth(word.substr(0, after)) > width && cut > 0) {
                        break;
                    }
                    cut = next = after;
                }
                lines.emplace_back(word.substr(0, cut));
                word.remove_prefix(cut);
            }
            line = word;
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Lines of text, left-aligned, one every kLineHeight pixels from the top of the rectangle.
class TextBlock : public CView {
public:
    TextBlock(const Rect& size, std::vector<std::string> lines, const Font& font)
        : CView(size), lines_(std::move(lines)), font_(font) {}

    void draw(DrawContext& context) override {
        const Rect& r = rect();
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const int top = r.top + static_cast<int>(i) * kLineHeight;
            context.drawText(lines_[i], {r.left, top, r.right, top + kLineHeight}, font_,
                             kTextColor, TextAlign::Left);
        }
    }

private:
    std::vector<std::string> lines_;
    const Font& font_;
};

// Counts the X errors of one connection for as long as it lives, so none ends the process.
// Xlib's handler takes no user data: the traps in force form a stack reached from a static,
// and errors of other connections go to the handler that was installed before.
class ConnectionErrorTrap {
public:
    explicit ConnectionErrorTrap(Display* display)
        : display_(display), outer_(innermost_), previous_(XSetErrorHandler(&onError)) {
        innermost_ = this;
    }
    ~ConnectionErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
        innermost_ = outer_;
    }
    ConnectionErrorTrap(const ConnectionErrorTrap&) = delete;
    ConnectionErrorTrap& operator=(const ConnectionErrorTrap&) = delete;

private:
    static int onError(Display* display, XErrorEvent* error) {
        for (ConnectionErrorTrap* trap = innermost_; trap != nullptr; trap = trap->outer_) {
            if (trap->display_ == display) {
                ++trap->errors_;
                return 0;
            }
        }
        // The handler from before the outermost trap (the inner ones saved our own).
        ConnectionErrorTrap* outermost = innermost_;
        while (outermost != nullptr && outermost->outer_ != nullptr) {
            outermost = outermost->outer_;
        }
        const XErrorHandler previous = outermost != nullptr ? outermost->previous_ : nullptr;
        return previous != nullptr ? previous(display, error) : 0;
    }

    Display* display_;
    ConnectionErrorTrap* outer_; // the trap in force before this one
    XErrorHandler previous_;     // the handler before this trap
    int errors_ = 0;

    static inline ConnectionErrorTrap* innermost_ = nullptr;
};

// One dialog on screen: its connection, its top-level window and the frame shown in an
// X11Window filling it. Derived dialogs add the views and decide what the keys, the buttons
// and the window manager's close button mean; run() returns once finish() has been called.
class ModalDialog : public CControlListener {
public:
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    ~ModalDialog() override {
        frame_.reset();
        window_.reset(); // the child window, on our connection
        if (topLevel_ != 0) {
            XDestroyWindow(display_, topLevel_);
        }
        trap_.reset(); // its XSync: everything is gone on the server
        XCloseDisplay(display_);
    }

    // False when the window could not be made; the dialog must not be run then.
    bool isOpen() const { return frame_ != nullptr; }

    void run() {
        XMapRaised(display_, topLevel_);
        while (running_) {
            XEvent event;
            XNextEvent(display_, &event);
            handle(event);
        }
    }

protected:
    ModalDialog(Display* display, unsigned long owner, const std::string& name, int height)
        : display_(display), trap_(std::make_unique<ConnectionErrorTrap>(display)),
          background_(X11Dialogs::kWidth, height, kBackground),
          textFont_(FontWeight::Normal, kTextHeight) {
        createTopLevel(owner, name, height);
        if (topLevel_ == 0) {
            return;
        }
        window_ = X11Window::open(reinterpret_cast<void*>(topLevel_), X11Dialogs::kWidth, height,
                                  display_);
        if (window_ != nullptr) {
            frame_ =
                std::make_unique<CFrame>(X11Dialogs::kWidth, height, &background_, window_.get());
        }
    }

    // The top-level window is on screen; the first time only.
    virtual void onShown() {}
    // Return (keypad Enter too) or Escape pressed; the edit box, if one was open, has already
    // seen the key.
    virtual void onKey(KeySym key) = 0;
    // The window manager's close button.
    virtual void onClose() = 0;
    // The dialog has the keyboard focus (the window manager gave it).
    virtual void onFocus() {}

    void finish() { running_ = false; }

    CFrame& frame() { return *frame_; }
    X11Window& window() { return *window_; }
    Display* display() const { return display_; }
    unsigned long topLevel() const { return topLevel_; }
    const Font& textFont() const { return textFont_; }

    // Adds the OK button, and Cancel left of it when `withCancel`.
    void addButtons(int height, bool withCancel) {
        const Rect ok = X11Dialogs::okButton(height);
        frame_->addView(std::make_unique<TextButton>(ok, this, kOkTag, "OK", textFont_));
        if (withCancel) {
            const int shift = X11Dialogs::kButtonWidth + X11Dialogs::kButtonGap;
            const Rect cancel{ok.left - shift, ok.top, ok.right - shift, ok.bottom};
            frame_->addView(
                std::make_unique<TextButton>(cancel, this, kCancelTag, "Cancel", textFont_));
        }
    }

private:
    void createTopLevel(unsigned long owner, const std::string& name, int height) {
        const int screen = DefaultScreen(display_);
        // Centred on the screen; a window manager may place it over the owner instead.
        const int x = std::max(0, (DisplayWidth(display_, screen) - X11Dialogs::kWidth) / 2);
        const int y = std::max(0, (DisplayHeight(display_, screen) - height) / 2);
        XSetWindowAttributes attributes{};
        attributes.background_pixel = kBackground.pixel();
        attributes.event_mask = StructureNotifyMask | KeyPressMask | FocusChangeMask;
        topLevel_ = XCreateWindow(display_, RootWindow(display_, screen), x, y, X11Dialogs::kWidth,
                                  static_cast<unsigned int>(height), 0, CopyFromParent, InputOutput,
                                  CopyFromParent, CWBackPixel | CWEventMask, &attributes);
        if (topLevel_ == 0) {
            return;
        }
        XStoreName(display_, topLevel_, name.c_str());
        // The same name in UTF-8, for window managers that read it.
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        XChangeProperty(display_, topLevel_, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(name.data()),
                        static_cast<int>(name.size()));
        if (owner != 0) {
            XSetTransientForHint(display_, topLevel_, owner);
        }
        XSizeHints* size = XAllocSizeHints();
        if (size != nullptr) {
            size->flags = PPosition | PMinSize | PMaxSize;
            size->x = x;
            size->y = y;
            size->min_width = size->max_width = X11Dialogs::kWidth;
            size->min_height = size->max_height = height;
            XSetWMNormalHints(display_, topLevel_, size);
            XFree(size);
        }
        XWMHints* hints = XAllocWMHints();
        if (hints != nullptr) {
            hints->flags = InputHint;
            hints->input = True;
            XSetWMHints(display_, topLevel_, hints);
            XFree(hints);
        }
        wmDelete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, topLevel_, &wmDelete_, 1);
    }

    void handle(XEvent& event) {
        if (event.xany.window == topLevel_) {
            switch (event.type) {
            case MapNotify:
                if (!shown_) {
                    shown_ = true;
                    onShown();
                }
                return;
            case ClientMessage:
                if (static_cast<Atom>(event.xclient.data.l[0]) == wmDelete_) {
                    onClose();
                }
                return;
            case DestroyNotify: // someone else's doing; nothing left to show
                topLevel_ = 0;
                onClose();
                finish();
                return;
            case FocusIn:
                // Given to us from outside; not back from our own child, nor the focus merely
                // following the pointer.
                if (event.xfocus.detail == NotifyAncestor || event.xfocus.detail == NotifyVirtual ||
                    event.xfocus.detail == NotifyNonlinear ||
                    event.xfocus.detail == NotifyNonlinearVirtual) {
                    onFocus();
                }
                return;
            case KeyPress: // the focus is on the dialog, not on the frame's window
                event.xkey.window = window_->handle();
                break;
            default:
                return;
            }
        }
        if (event.xany.window != window_->handle()) {
            return;
        }
        const KeySym key = event.type == KeyPress ? XLookupKeysym(&event.xkey, 0) : NoSymbol;
        window_->dispatchEvent(*frame_, event);
        if (running_ && (key == XK_Return || key == XK_KP_Enter || key == XK_Escape)) {
            onKey(key == XK_KP_Enter ? XK_Return : key);
        }
    }

    Display* display_; // ours; closed with the dialog
    std::unique_ptr<ConnectionErrorTrap> trap_;
    ::Window topLevel_ = 0; // 0 when it could not be made or is gone
    Atom wmDelete_ = 0;
    Bitmap background_;                 // the frame's plain background
    Font textFont_;                     // the text and the buttons' captions
    std::unique_ptr<X11Window> window_; // the frame's window, child of topLevel_
    std::unique_ptr<CFrame> frame_;     // null when the dialog could not be made
    bool shown_ = false;                // the top-level window has been mapped
    bool running_ = true;               // run() goes on
};

class MessageBox : public ModalDialog {
public:
    MessageBox(Display* display, unsigned long owner, const std::string& caption,
               std::vector<std::string> lines, int height)
        : ModalDialog(display, owner, caption, height) {
        if (!isOpen()) {
            return;
        }
        const int textHeight = static_cast<int>(lines.size()) * kLineHeight;
        frame().addView(std::make_unique<TextBlock>(Rect{X11Dialogs::kMargin, X11Dialogs::kMargin,
                                                         X11Dialogs::kWidth - X11Dialogs::kMargin,
                                                         X11Dialogs::kMargin + textHeight},
                                                    std::move(lines), textFont()));
        addButtons(height, false);
        frame().redrawAll();
    }

    static int heightFor(std::size_t lines) {
        return 2 * X11Dialogs::kMargin + static_cast<int>(lines) * kLineHeight + kSpacing +
               X11Dialogs::kButtonHeight;
    }

private:
    void onShown() override { XSetInputFocus(display(), topLevel(), RevertToParent, CurrentTime); }
    void onKey(KeySym) override { finish(); }
    void onClose() override { finish(); }
    void valueChanged(CControl*) override { finish(); }
};

class SaveDialog : public ModalDialog {
public:
    SaveDialog(Display* display, unsigned long owner, const SaveFileRequest& request,
               std::vector<std::string> lines, int height)
        : ModalDialog(display, owner, request.title, height), request_(request),
          fieldFont_(FontWeight::Normal, kFieldTextHeight) {
        if (!isOpen()) {
            return;
        }
        const int textBottom = X11Dialogs::kMargin + static_cast<int>(lines.size()) * kLineHeight;
        frame().addView(
            std::make_unique<TextBlock>(Rect{X11Dialogs::kMargin, X11Dialogs::kMargin,
                                             X11Dialogs::kWidth - X11Dialogs::kMargin, textBottom},
                                        std::move(lines), textFont()));
        if (!request.folder.empty()) {
            start_ = request.folder.back() == '/' ? request.folder : request.folder + '/';
        }
        const Rect fieldRect{X11Dialogs::kMargin, textBottom + kSpacing,
                             X11Dialogs::kWidth - X11Dialogs::kMargin,
                             textBottom + kSpacing + kFieldHeight};
        field_ = frame().addView(std::make_unique<CTextEdit>(fieldRect, this, kFieldTag, start_,
                                                             fieldFont_, TextAlign::Left));
        addButtons(height, true);
        frame().redrawAll();
    }

    static int heightFor(std::size_t lines) {
        return 2 * X11Dialogs::kMargin + static_cast<int>(lines) * kLineHeight + 2 * kSpacing +
               kFieldHeight + X11Dialogs::kButtonHeight;
    }

    const std::optional<std::string>& answer() const { return answer_; }

private:
    void onShown() override { field_->beginEditing(); }
    void onFocus() override { field_->beginEditing(); }

    void onKey(KeySym key) override {
        if (key == XK_Escape) {
            finish(); // the edit box, if open, has dropped the typed text
        } else {
            accept(); // the edit box, if open, has committed the typed text
        }
    }

    void onClose() override { finish(); }

    void valueChanged(CControl* control) override {
        if (control->tag() == kOkTag) {
            accept();
        } else if (control->tag() == kCancelTag) {
            finish();
        }
        // kFieldTag: a commit; Return, OK or the focus decide what it means.
    }

    // Takes the field's text if it names a file; otherwise the dialog stays open, editing.
    void accept() {
        answer_ = chosenSavePath(request_, field_->text());
        if (answer_) {
            finish();
            return;
        }
        if (field_->text().empty()) {
            field_->setText(start_);
        }
        field_->beginEditing();
    }

    SaveFileRequest request_;
    Font fieldFont_;
    std::string start_;                 // the field's first text: the folder and a '/'
    CTextEdit* field_ = nullptr;        // owned by the frame
    std::optional<std::string> answer_; // set when a name was accepted
};

} // namespace

void X11Dialogs::message(const std::string& caption, const std::string& text) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::cerr << caption << ": " << text << '\n';
        return;
    }
    const Font font(FontWeight::Normal, kTextHeight);
    std::vector<std::string> lines = wrapText(text, font, kWidth - 2 * kMargin);
    if (lines.size() > kMaxLines) {
        lines.resize(kMaxLines);
        lines.back() += " ...";
    }
    const int height = MessageBox::heightFor(lines.size());
    MessageBox box(display, owner_, caption, std::move(lines), height);
    if (!box.isOpen()) {
        std::cerr << caption << ": " << text << '\n';
        return;
    }
    box.run();
}

std::optional<std::string> X11Dialogs::saveFile(const SaveFileRequest& request) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    const Font font(FontWeight::Normal, kTextHeight);
    std::string extension = request.extension;
    extension.erase(0, extension.find_first_not_of('.'));
    std::vector<std::string> lines = wrapText(
        "Save as " + request.typeName + " (*." + extension + ")", font, kWidth - 2 * kMargin);
    lines.resize(std::min<std::size_t>(lines.size(), 3));
    const int height = SaveDialog::heightFor(lines.size());
    SaveDialog dialog(display, owner_, request, std::move(lines), height);
    if (!dialog.isOpen()) {
        return std::nullopt;
    }
    dialog.run();
    return dialog.answer();
}

} // namespace gui

#endif // _WIN32
