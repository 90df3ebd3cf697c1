#include "editor/PluginEditor.h"

#include "editor/MyEditor.h"
#include "gui/Dialogs.h"

#if !defined(_WIN32)
#include "gui/X11Dialogs.h"
#include "gui/X11Window.h"
#endif

#include <memory>

namespace {

#if defined(_WIN32)
// No dialogs on Windows yet: a message goes nowhere and a save is cancelled.
class PlatformDialogs : public gui::Dialogs {
public:
    void message(const std::string&, const std::string&) override {}
    std::optional<std::string> saveFile(const gui::SaveFileRequest&) override {
        return std::nullopt;
    }
};

std::unique_ptr<gui::Window> makePlatformWindow(void*) {
    return nullptr; // no Windows window yet
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
};

} // namespace

EditorLink* createPluginEditor(VeltranoVST* plugin) {
    return new PluginEditor(plugin);
}
