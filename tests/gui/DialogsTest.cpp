// The dialogs: where a typed name is saved, the scripted stand-in, and the X11 dialogs against
// a real X server (CTest runs those under xvfb-run; without a display they skip). An X11 dialog
// blocks the thread that shows it, so a helper thread with its own connection finds the
// dialog's window and presses its keys or buttons, as a user would.
#include "gui/Dialogs.h"
#include "gui/ScriptedDialogs.h"

#include <gtest/gtest.h>

TEST(SaveDialogPath, NamesGoIntoTheFolderAndGetTheExtension) {
    const gui::SaveFileRequest request{"Save", "/home/u/takes", "WAV file", "wav"};
    EXPECT_EQ(gui::chosenSavePath(request, "take1"), "/home/u/takes/take1.wav");
    EXPECT_EQ(gui::chosenSavePath(request, "take1.flac"), "/home/u/takes/take1.flac");
    EXPECT_EQ(gui::chosenSavePath(request, "/tmp/a"), "/tmp/a.wav");
    EXPECT_EQ(gui::chosenSavePath(request, "/home/u/takes/old.v2/new"),
              "/home/u/takes/old.v2/new.wav"); // a '.' in a folder name does not count
    EXPECT_EQ(gui::chosenSavePath({"Save", "/data/", "Text", ".txt"}, "x"), "/data/x.txt");
    EXPECT_EQ(gui::chosenSavePath({"Save", "", "Text", "txt"}, "x"), "x.txt");
}

TEST(SaveDialogPath, WhatIsNoFileNameIsRefused) {
    const gui::SaveFileRequest request{"Save", "/home/u", "Text", "txt"};
    EXPECT_EQ(gui::chosenSavePath(request, ""), std::nullopt);
    EXPECT_EQ(gui::chosenSavePath(request, "/home/u/"), std::nullopt);
    EXPECT_EQ(gui::chosenSavePath(request, "sub/"), std::nullopt);
    EXPECT_EQ(gui::chosenSavePath(request, ".."), std::nullopt);
}

TEST(ScriptedDialogs, RecordsRequestsAndAnswersInTurn) {
    gui::ScriptedDialogs dialogs;
    dialogs.queueSaveAnswer("/tmp/a.txt");
    dialogs.message("Error", "Disk full");
    EXPECT_EQ(dialogs.saveFile({"Export", "/tmp", "Text", "txt"}), "/tmp/a.txt");
    EXPECT_EQ(dialogs.saveFile({"Export again", "/tmp", "Text", "txt"}), std::nullopt);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].text, "Disk full");
    ASSERT_EQ(dialogs.saveRequests().size(), 2u);
    EXPECT_EQ(dialogs.saveRequests()[1].title, "Export again");
}

#ifndef _WIN32

#include "gui/X11Dialogs.h"

// GoogleTest before Xlib, whose macros (None, Bool) clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A dialog that never closes would block the test program for ever: this ends it instead,
// with a message, when the guarded scope has not finished in time.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "A dialog was still open after %llds; aborting.\n",
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// The top-level window named `name` (a direct child of the root: Xvfb runs no window manager),
// or 0.
Window findTopLevel(Display* display, const std::string& name) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
        for (unsigned int i = 0; i < count && found == 0; ++i) {
            char* windowName = nullptr;
            if (XFetchName(display, children[i], &windowName) != 0 && windowName != nullptr) {
                found = name == windowName ? children[i] : 0;
                XFree(windowName);
            }
        }
        XFree(children);
    }
    return found;
}

int ignoreErrors(Display*, XErrorEvent*) {
    return 0; // the dialog may close while the helper looks at it
}

// The user at the keyboard: on its own thread and connection, waits (at most 5 s) until the
// dialog named `name` is on screen, then calls `act` with the dialog's frame window, its
// top-level window and the helper's connection.
class User {
public:
    using Action = std::function<void(Display*, Window frameWindow, Window topLevel)>;

    User(std::string name, Action act)
        : thread_([this, name = std::move(name), act = std::move(act)] {
              Display* display = XOpenDisplay(nullptr);
              if (display == nullptr) {
                  return;
              }
              const auto deadline = std::chrono::steady_clock::now() + 5s;
              while (std::chrono::steady_clock::now() < deadline) {
                  const Window top = findTopLevel(display, name);
                  const Window child = top != 0 ? viewableChild(display, top) : 0;
                  if (child != 0) {
                      found_ = true;
                      act(display, child, top);
                      XSync(display, False);
                      break;
                  }
                  std::this_thread::sleep_for(10ms);
              }
              XCloseDisplay(display);
          }) {}
    ~User() { thread_.join(); }

    bool foundDialog() const { return found_; }

private:
    // The frame's window inside the top-level once it is on screen; 0 before.
    static Window viewableChild(Display* display, Window top) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        Window child = 0;
        if (XQueryTree(display, top, &root, &parent, &children, &count) != 0) {
            XWindowAttributes attributes;
            if (count == 1 && XGetWindowAttributes(display, children[0], &attributes) != 0 &&
                attributes.map_state == IsViewable) {
                child = children[0];
            }
            XFree(children);
        }
        return child;
    }

    std::atomic<bool> found_ = false;
    std::thread thread_;
};

void pressKey(Display* display, Window window, KeySym key) {
    XKeyEvent event{};
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.time = CurrentTime;
    event.same_screen = True;
    event.keycode = XKeysymToKeycode(display, key);
    event.type = KeyPress;
    XSendEvent(display, window, False, KeyPressMask, reinterpret_cast<XEvent*>(&event));
    event.type = KeyRelease;
    XSendEvent(display, window, False, KeyReleaseMask, reinterpret_cast<XEvent*>(&event));
}

void typeText(Display* display, Window window, const std::string& text) {
    for (char c : text) {
        pressKey(display, window, static_cast<KeySym>(c)); // Latin-1 keysyms are the characters
    }
}

void click(Display* display, Window window, gui::Point where) {
    XButtonEvent event{};
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.time = CurrentTime;
    event.same_screen = True;
    event.x = where.x;
    event.y = where.y;
    event.button = Button1;
    event.type = ButtonPress;
    XSendEvent(display, window, False, ButtonPressMask, reinterpret_cast<XEvent*>(&event));
    event.type = ButtonRelease;
    event.state = Button1Mask;
    XSendEvent(display, window, False, ButtonReleaseMask, reinterpret_cast<XEvent*>(&event));
}

gui::Point centre(const gui::Rect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

int heightOf(Display* display, Window window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 ? attributes.height : 0;
}

} // namespace

class X11Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') {
            GTEST_SKIP() << "No X server: DISPLAY is not set (CTest runs these under xvfb-run)";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "cannot open display " << name;
        previousHandler = XSetErrorHandler(&ignoreErrors);
    }

    void TearDown() override {
        if (display != nullptr) {
            XCloseDisplay(display);
            XSetErrorHandler(previousHandler);
        }
    }

    // The dialog has closed and taken its window with it.
    void expectGone(const std::string& name) {
        EXPECT_EQ(findTopLevel(display, name), 0u) << name << " is still on screen";
    }

    Display* display = nullptr;
    XErrorHandler previousHandler = nullptr;
};

TEST_F(X11Dialogs, MessageBoxClosesOnReturn) {
    const Watchdog watchdog(20s);
    gui::X11Dialogs dialogs;
    {
        User user("Error", [](Display* d, Window frame, Window) { pressKey(d, frame, XK_Return); });
        dialogs.message("Error", "The file could not be written.");
        EXPECT_TRUE(user.foundDialog());
    }
    expectGone("Error");
    const XErrorHandler handler = XSetErrorHandler(nullptr);
    XSetErrorHandler(handler);
    EXPECT_EQ(handler, &ignoreErrors) << "the dialog did not put the error handler back";
}

TEST_F(X11Dialogs, MessageBoxClosesOnOkAndBelongsToTheOwner) {
    const Window owner =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 100, 100, 0, 0, 0);
    XSync(display, False);
    const Watchdog watchdog(20s);
    gui::X11Dialogs dialogs(owner);
    Window transientFor = 0;
    {
        User user("Notice", [&](Display* d, Window frame, Window top) {
            XGetTransientForHint(d, top, &transientFor);
            const int height = heightOf(d, frame);
            click(d, frame, centre(gui::X11Dialogs::okButton(height)));
        });
        dialogs.message("Notice", "First line\nsecond line, long enough to be wrapped onto "
                                  "another line of the box, which is four hundred pixels wide.");
        EXPECT_TRUE(user.foundDialog());
    }
    EXPECT_EQ(transientFor, owner);
    expectGone("Notice");
    XDestroyWindow(display, owner);
}

TEST_F(X11Dialogs, SaveDialogTakesATypedNameInTheFolder) {
    const Watchdog watchdog(20s);
    gui::X11Dialogs dialogs;
    std::optional<std::string> chosen;
    {
        User user("Export report", [](Display* d, Window frame, Window) {
            typeText(d, frame, "report");
            pressKey(d, frame, XK_Return);
        });
        chosen = dialogs.saveFile({"Export report", "/tmp/reports", "Text file", "txt"});
        EXPECT_TRUE(user.foundDialog());
    }
    EXPECT_EQ(chosen, "/tmp/reports/report.txt");
    expectGone("Export report");
}

TEST_F(X11Dialogs, SaveDialogRefusesAFolderAndStaysOpen) {
    const Watchdog watchdog(20s);
    gui::X11Dialogs dialogs;
    std::optional<std::string> chosen;
    {
        User user("Export", [](Display* d, Window frame, Window) {
            pressKey(d, frame, XK_Return); // the field still holds only "/tmp/"
            typeText(d, frame, "x.csv");
            click(d, frame, centre(gui::X11Dialogs::okButton(heightOf(d, frame))));
        });
        chosen = dialogs.saveFile({"Export", "/tmp", "Text file", "txt"});
        EXPECT_TRUE(user.foundDialog());
    }
    EXPECT_EQ(chosen, "/tmp/x.csv");
    expectGone("Export");
}

TEST_F(X11Dialogs, SaveDialogCancelledByEscape) {
    const Watchdog watchdog(20s);
    gui::X11Dialogs dialogs;
    std::optional<std::string> chosen = "not answered";
    {
        User user("Export", [](Display* d, Window frame, Window) {
            typeText(d, frame, "report");
            pressKey(d, frame, XK_Escape);
        });
        chosen = dialogs.saveFile({"Export", "/tmp", "Text file", "txt"});
        EXPECT_TRUE(user.foundDialog());
    }
    EXPECT_EQ(chosen, std::nullopt);
    expectGone("Export");
}

// Runs everywhere: it takes the display away itself.
TEST(X11DialogsWithoutDisplay, MessageGoesToStderrAndSavingIsImpossible) {
    const char* set = std::getenv("DISPLAY");
    const std::string saved = set != nullptr ? set : "";
    unsetenv("DISPLAY");
    gui::X11Dialogs dialogs;
    testing::internal::CaptureStderr();
    dialogs.message("Error", "No display here");
    const std::string printed = testing::internal::GetCapturedStderr();
    const std::optional<std::string> chosen = dialogs.saveFile({"Save", "/tmp", "Text", "txt"});
    if (set != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    }
    EXPECT_NE(printed.find("Error"), std::string::npos);
    EXPECT_NE(printed.find("No display here"), std::string::npos);
    EXPECT_EQ(chosen, std::nullopt);
}

#endif // _WIN32
