#include "editor/PluginEditor.h"

#include "editor/MyEditor.h"
#include "gui/Dialogs.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they need.
#include <ole2.h>

#include "gui/Win32Dialogs.h"
#include "gui/Win32Window.h"
#else
#include "gui/X11Dialogs.h"
#include "gui/X11Window.h"
#endif

#include <memory>

namespace {

#if defined(_WIN32)
using PlatformDialogs = gui::Win32Dialogs;

std::unique_ptr<gui::Window> makePlatformWindow(void* parent) {
    return gui::Win32Window::open(parent, MyEditor::kWidth, MyEditor::kHeight);
}
#else
using PlatformDialogs = gui::X11Dialogs;

std::unique_ptr<gui::Window> makePlatformWindow(void* parent) {
    return gui::X11Window::open(parent, MyEditor::kWidth, MyEditor::kHeight);
}
#endif

// Holds the dialogs so that they are made before, and outlive, the editor that refers to them.
struct DialogsHolder {
    PlatformDialogs platformDialogs;
};

class PluginEditor : private DialogsHolder, public MyEditor {
public:
    explicit PluginEditor(VeltranoVST* plugin)
        : MyEditor(plugin, platformDialogs, makePlatformWindow) {}

#if defined(_WIN32)
    // The shell's calls behind Report and Help (the save dialog, opening a file) want COM on
    // the thread: OLE is initialised on the GUI thread while the editor is open.
    // The window goes before OLE does, also when the host deletes the editor without closing it.
    ~PluginEditor() override {
        close();
    }

    bool open(void* parent) override {
        if (isOpen()) {
            close();
        }
        const HRESULT result = OleInitialize(nullptr);
        // S_FALSE: already initialised on this thread, still to be balanced. A thread in the
        // multithreaded apartment (RPC_E_CHANGED_MODE) is left as it is.
        if (SUCCEEDED(result)) {
            oleThread = GetCurrentThreadId();
        }
        const bool opened = MyEditor::open(parent);
        if (!opened) {
            leaveOle();
        }
        return opened;
    }

    void close() override {
        MyEditor::close();
        leaveOle();
    }

private:
    void leaveOle() {
        // Only the thread that initialised it may give it back.
        if (oleThread != 0 && oleThread == GetCurrentThreadId()) {
            OleUninitialize();
            oleThread = 0;
        }
    }

    DWORD oleThread = 0; // the thread OLE was initialised on by open; 0: none
#endif
};

} // namespace

EditorLink* createPluginEditor(VeltranoVST* plugin) {
    return new PluginEditor(plugin);
}
