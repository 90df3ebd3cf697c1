// The plug-in binary loaded by the test host with its editor open in a real top-level X window,
// driven as a person would: synthetic pointer and key events through the XTest extension, and
// the host's idle (effEditIdle) pumped so the plug-in's window takes them. Used by the editor
// window tests and the editor's idle benchmark.
//
// The harness keeps its own connection to the server (the host's); the plug-in opens its own.
// Coordinates are editor pixels, from the top-left corner of the host's window.
//
// Threads: everything here runs on one thread, the host's user-interface thread; only
// processReplacing may run on another.
#pragma once

#include "host/VstHost.h"

#include "gui/Surface.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

// A rectangle of editor pixels: from left and top up to, not including, right and bottom.
struct Area {
    int left, top, right, bottom;
    int x() const { return (left + right) / 2; }
    int y() const { return (top + bottom) / 2; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// Where the editor draws them (see MyEditor::buildControls).
constexpr Area kHumFilterButton{8, 191, 30, 212};
constexpr Area kRandomNoiseButton{395, 223, 417, 244};
constexpr Area kEqualizerButton{8, 312, 30, 333};
constexpr Area kInputButton{93, 94, 115, 115};
constexpr Area kOutputButton{93, 115, 115, 136};
constexpr Area kHumFrequencyField{37, 270, 72, 288};
constexpr Area kMaxGainSlider{544, 351, 559, 407};
constexpr Area kSpectrumView{231, 66, 568, 181};
constexpr Area kTitle{0, 0, 230, 60}; // only the skin's background there

class EditorWindowHarness {
public:
    // Loads the plug-in from `pluginPath`; nothing is shown yet.
    explicit EditorWindowHarness(const std::string& pluginPath) : host(pluginPath) {}
    ~EditorWindowHarness() {
        if (host.effect() != nullptr) {
            closeEditor();
            host.dispatch(effMainsChanged, 0, 0);
            host.close();
        }
        if (display != nullptr) {
            if (top != 0) {
                XDestroyWindow(display, top);
            }
            XCloseDisplay(display);
        }
    }
    EditorWindowHarness(const EditorWindowHarness&) = delete;
    EditorWindowHarness& operator=(const EditorWindowHarness&) = delete;

    // Connects to $DISPLAY; an empty string when done, else why not (no server, no XTest).
    std::string connect() {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            return "cannot open the display";
        }
        int eventBase = 0;
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        if (XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == False) {
            return "the X server has no XTEST extension";
        }
        return {};
    }

    // Opens the plug-in and starts it at `rate` with blocks of `blockSize` frames.
    bool startPlugin(float rate, int blockSize) {
        if (host.open() == nullptr) {
            return false;
        }
        host.dispatch(effOpen);
        host.setSampleRate(rate);
        host.dispatch(effSetBlockSize, 0, blockSize);
        host.dispatch(effMainsChanged, 0, 1);
        return true;
    }

    // Makes and maps the host's top-level window at the size effEditGetRect gives, and waits
    // until it is mapped. False when the plug-in gives no rectangle.
    bool createHostWindow() {
        ERect* rect = nullptr;
        if (host.dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr) {
            return false;
        }
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
        top = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                  static_cast<unsigned int>(width),
                                  static_cast<unsigned int>(height), 0, 0, 0);
        XSelectInput(display, top, StructureNotifyMask);
        XMapWindow(display, top);
        XEvent event;
        do {
            XWindowEvent(display, top, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
        ::Window child = 0;
        XTranslateCoordinates(display, top, DefaultRootWindow(display), 0, 0, &rootX, &rootY,
                              &child);
        return true;
    }

    // effEditOpen with the host window's id; true when the plug-in opened its editor.
    bool openEditor() {
        const bool opened =
            host.dispatch(effEditOpen, 0, 0,
                          reinterpret_cast<void*>(static_cast<std::uintptr_t>(top))) != 0;
        editorOpen = opened;
        idle(3); // the first drawing
        return opened;
    }

    void closeEditor() {
        if (editorOpen) {
            host.dispatch(effEditClose);
            editorOpen = false;
        }
        XSync(display, False);
    }

    // `rounds` times effEditIdle, each followed by a short pause for the server.
    void idle(int rounds) {
        for (int i = 0; i < rounds; ++i) {
            host.dispatch(effEditIdle);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // Pumps the idle until `done()` holds, at most `maxRounds` rounds; whether it came to hold.
    template <typename Done>
    bool idleUntil(Done done, int maxRounds = 500) {
        for (int i = 0; i < maxRounds; ++i) {
            if (done()) {
                return true;
            }
            idle(1);
        }
        return done();
    }

    // Synthetic input: the server routes it as it would a real device's.
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(display, DefaultScreen(display), rootX + x, rootY + y, CurrentTime);
        sent();
    }
    void press() {
        XTestFakeButtonEvent(display, Button1, True, CurrentTime);
        sent();
    }
    void release() {
        XTestFakeButtonEvent(display, Button1, False, CurrentTime);
        sent();
    }
    void click(int x, int y) {
        moveTo(x, y);
        press();
        release();
    }
    void key(KeySym symbol) {
        const KeyCode code = XKeysymToKeycode(display, symbol);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        sent();
    }
    // Digits, '.' and '-' typed one key each.
    void type(std::string_view text) {
        for (const char c : text) {
            key(c == '.' ? XK_period : (c == '-' ? XK_minus : XK_0 + (c - '0')));
        }
    }

    // Clicks the middle of `area` and pumps the idle until the server shows the area changed;
    // whether it did.
    bool clickUntilChanged(const Area& area) {
        const gui::Surface before = grab(area.left, area.top, area.width(), area.height());
        click(area.x(), area.y());
        return idleUntil([&] {
            const gui::Surface now = grab(area.left, area.top, area.width(), area.height());
            return !std::equal(now.data(), now.data() + area.width() * area.height(),
                               before.data());
        });
    }

    // What the server shows of the host's window (the editor's child in it), as 0x00RRGGBB.
    gui::Surface grab() const { return grab(0, 0, width, height); }
    gui::Surface grab(int x, int y, int w, int h) const {
        gui::Surface surface(w, h);
        XImage* image = XGetImage(display, top, x, y, static_cast<unsigned int>(w),
                                  static_cast<unsigned int>(h), AllPlanes, ZPixmap);
        if (image == nullptr) {
            return surface;
        }
        for (int row = 0; row < h; ++row) {
            for (int column = 0; column < w; ++column) {
                const unsigned long p = XGetPixel(image, column, row);
                surface.pixel(column, row) = (scaled(p, image->red_mask) << 16) |
                                             (scaled(p, image->green_mask) << 8) |
                                             scaled(p, image->blue_mask);
            }
        }
        XDestroyImage(image);
        return surface;
    }

    // The windows inside the host's window now.
    unsigned int childCount() const {
        ::Window root = 0;
        ::Window parent = 0;
        ::Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, top, &root, &parent, &children, &count) == 0) {
            return ~0u;
        }
        if (children != nullptr) {
            XFree(children);
        }
        return count;
    }

    VstHost host;
    Display* display = nullptr; // the host's connection
    ::Window top = 0;           // the host's top-level window
    int width = 0;              // pixels, from effEditGetRect
    int height = 0;
    bool editorOpen = false;

private:
    void sent() {
        XSync(display, False); // the server has routed the event before the idle looks
        idle(2);
    }

    // A channel of `pixel` under `mask`, scaled to 8 bits.
    static std::uint32_t scaled(unsigned long pixel, unsigned long mask) {
        if (mask == 0) {
            return 0;
        }
        int shift = 0;
        while (((mask >> shift) & 1) == 0) {
            ++shift;
        }
        const unsigned long max = mask >> shift;
        return static_cast<std::uint32_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
    }

    int rootX = 0; // the host window's origin on the screen
    int rootY = 0;
};
