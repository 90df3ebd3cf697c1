// The X11 window against a real X server (CTest runs these under xvfb-run). Without a display
// the tests skip.
#ifndef _WIN32

#include "gui/X11Window.h"
#include "gui/Controls.h"
#include "gui/Frame.h"

// GoogleTest before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

using gui::Color;
using gui::Rect;

namespace {

constexpr int kWidth = 576;
constexpr int kHeight = 470;
constexpr Color kGrey{90, 90, 90};
constexpr Color kRed{255, 0, 0};
constexpr Color kGreen{0, 200, 0};
constexpr Color kSelection{51, 102, 204};
constexpr Rect kButton{100, 100, 120, 120};
constexpr Rect kField{10, 10, 110, 30};

int hostErrors = 0; // X errors that reached the test's own handler
int countHostError(Display*, XErrorEvent*) {
    ++hostErrors;
    return 0;
}

XErrorHandler currentHandler() {
    XErrorHandler handler = XSetErrorHandler(nullptr);
    XSetErrorHandler(handler);
    return handler;
}

struct Changes : gui::CControlListener {
    void valueChanged(gui::CControl*) override { ++count; }
    int count = 0;
};

} // namespace

// A mapped top-level window standing in for the host's, and a frame with an on/off button
// (red off, green on) and a text field on a grey background.
class X11Window : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') {
            GTEST_SKIP() << "No X server: DISPLAY is not set (CTest runs these under xvfb-run)";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "cannot open display " << name;
        hostErrors = 0;
        XSetErrorHandler(&countHostError);
        host = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, kWidth, kHeight, 0, 0,
                                   0);
        XMapWindow(display, host);
        XSync(display, False);
    }

    void TearDown() override {
        if (display == nullptr) {
            return;
        }
        close(); // before the connection it may share goes
        if (host != 0) {
            XDestroyWindow(display, host);
        }
        XSync(display, False);
        XSetErrorHandler(nullptr);
        XCloseDisplay(display);
    }

    void* parent() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(host)); }

    // The window on `connection` (null: its own) with a frame in it, drawn.
    void open(Display* connection) {
        window = gui::X11Window::open(parent(), kWidth, kHeight, connection);
        ASSERT_NE(window, nullptr);
        frame = std::make_unique<gui::CFrame>(kWidth, kHeight, &background, window.get());
        button =
            frame->addView(std::make_unique<gui::COnOffButton>(kButton, &changes, 1, &buttonImage));
        field = frame->addView(std::make_unique<gui::CTextEdit>(kField, &changes, 2, "old", font,
                                                                gui::TextAlign::Left));
        frame->redrawAll();
    }

    void close() {
        frame.reset();
        window.reset();
    }

    // The window's pixel as the server holds it, as 0x00RRGGBB.
    gui::Pixel shown(int x, int y) const {
        XImage* image = XGetImage(display, window->handle(), x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return 0xFFFFFFFF;
        }
        const auto pixel = static_cast<gui::Pixel>(XGetPixel(image, 0, 0) & 0xFFFFFF);
        XDestroyImage(image);
        return pixel;
    }

    ::Window focus() const {
        ::Window window = 0;
        int revert = 0;
        XGetInputFocus(display, &window, &revert);
        return window;
    }

    // Sends `event` to the window through the server, then lets the window take it at idle.
    void deliver(XEvent event, long mask) {
        event.xany.display = display;
        event.xany.window = window->handle();
        XSendEvent(display, window->handle(), False, mask, &event);
        XSync(display, False);
        XSync(window->display(), False); // the event is in the window's queue now
        window->processEvents(*frame);
    }

    void click(int x, int y) {
        XEvent event{};
        XButtonEvent& b = event.xbutton;
        b.type = ButtonPress;
        b.root = DefaultRootWindow(display);
        b.x = x;
        b.y = y;
        b.button = Button1;
        b.same_screen = True;
        deliver(event, ButtonPressMask);
        b.type = ButtonRelease;
        b.state = Button1Mask;
        deliver(event, ButtonReleaseMask);
    }

    void type(KeySym key) {
        XEvent event{};
        XKeyEvent& k = event.xkey;
        k.type = KeyPress;
        k.root = DefaultRootWindow(display);
        k.keycode = XKeysymToKeycode(display, key);
        k.same_screen = True;
        deliver(event, KeyPressMask);
    }

    Display* display = nullptr;
    ::Window host = 0;
    gui::Bitmap background{kWidth, kHeight, kGrey};
    gui::Bitmap buttonImage = [] {
        gui::Bitmap b(20, 40, kRed);
        for (int y = 20; y < 40; ++y) {
            for (int x = 0; x < 20; ++x) {
                b.setPixel(x, y, kGreen);
            }
        }
        return b;
    }();
    gui::Font font{gui::FontWeight::Normal, 12};
    Changes changes;
    std::unique_ptr<gui::X11Window> window;
    std::unique_ptr<gui::CFrame> frame;
    gui::COnOffButton* button = nullptr;
    gui::CTextEdit* field = nullptr;
};

TEST_F(X11Window, OpensShowsTakesAClickAndClosesAHundredTimes) {
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        open(i % 2 == 0 ? display : nullptr); // the host's connection, then one of its own
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(shown(5, 5), kGrey.pixel());
        EXPECT_EQ(shown(kButton.left, kButton.top), kRed.pixel());
        EXPECT_EQ(shown(kWidth - 1, kHeight - 1), frame->surface().pixel(kWidth - 1, kHeight - 1));

        click(110, 110);
        EXPECT_EQ(button->value(), 1.0f);
        EXPECT_EQ(shown(kButton.right - 1, kButton.bottom - 1), kGreen.pixel());
        EXPECT_EQ(window->errorCount(), 0);
        close();
    }
    Window root = 0;
    Window parentOfHost = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    ASSERT_NE(XQueryTree(display, host, &root, &parentOfHost, &children, &count), 0);
    XFree(children);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(hostErrors, 0);
    EXPECT_EQ(currentHandler(), &countHostError) << "the previous error handler is put back";
}

TEST_F(X11Window, ExposeRepaintsFromTheSurface) {
    open(display);
    GC gc = XCreateGC(display, window->handle(), 0, nullptr);
    XSetForeground(display, gc, WhitePixel(display, DefaultScreen(display)));
    XFillRectangle(display, window->handle(), gc, 0, 0, 50, 50);
    XFreeGC(display, gc);
    XSync(display, False);
    ASSERT_NE(shown(5, 5), kGrey.pixel());

    XClearArea(display, window->handle(), 0, 0, 50, 50, True); // no background: only Expose
    XSync(display, False);
    window->processEvents(*frame);
    EXPECT_EQ(shown(5, 5), kGrey.pixel());
    EXPECT_EQ(window->errorCount(), 0);
}

TEST_F(X11Window, TypingReplacesTheSelectionAndReturnCommits) {
    open(display);
    click(50, 20);
    ASSERT_TRUE(window->isEditing());
    EXPECT_EQ(shown(kField.left + 3, kField.top + 1), kSelection.pixel()) << "text selected";
    EXPECT_EQ(focus(), window->handle()) << "the box takes the keyboard";

    for (KeySym key : {XK_a, XK_b, XK_BackSpace, XK_c, XK_Return}) {
        type(key);
    }
    EXPECT_FALSE(window->isEditing());
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(field->text(), "ac");
    EXPECT_EQ(changes.count, 1);
    EXPECT_NE(focus(), window->handle()) << "and gives it back";
    EXPECT_EQ(shown(kField.left + 3, kField.top + 1),
              frame->surface().pixel(kField.left + 3, kField.top + 1))
        << "the box is gone";
    EXPECT_EQ(window->errorCount(), 0);
}

TEST_F(X11Window, EscapeCancels) {
    open(display);
    click(50, 20);
    type(XK_x);
    type(XK_Escape);
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(field->text(), "old");
    EXPECT_EQ(changes.count, 0);
}

TEST_F(X11Window, AClickOutsideTheBoxCommitsAndReachesTheControl) {
    open(display);
    click(50, 20);
    type(XK_x);
    click(110, 110);
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(field->text(), "x");
    EXPECT_EQ(button->value(), 1.0f);
}

TEST_F(X11Window, HostDestroyingItsWindowFirstCausesNoError) {
    open(display);
    XDestroyWindow(display, host);
    host = 0;
    XSync(display, False);
    window->processEvents(*frame);
    frame->redrawAll();
    EXPECT_EQ(window->errorCount(), 0);
    close();
    EXPECT_EQ(hostErrors, 0);
}

TEST_F(X11Window, ABadParentGivesNoWindowAndKeepsTheErrorHandler) {
    const ::Window gone = XCreateSimpleWindow(display, host, 0, 0, 1, 1, 0, 0, 0);
    XDestroyWindow(display, gone);
    XSync(display, False);
    EXPECT_EQ(gui::X11Window::open(reinterpret_cast<void*>(static_cast<std::uintptr_t>(gone)),
                                   kWidth, kHeight, display),
              nullptr);
    EXPECT_EQ(hostErrors, 0);
    EXPECT_EQ(currentHandler(), &countHostError);
}

#endif // _WIN32
