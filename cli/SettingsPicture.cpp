#include "cli/SettingsPicture.h"

#include "editor/MyEditor.h"
#include "gui/Png.h"
#include "gui/ScriptedDialogs.h"
#include "plugin/VeltranoVST.h"

namespace cli {

namespace {

VstIntPtr VSTCALLBACK quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? kVstVersion : 0;
}

} // namespace

std::vector<std::uint8_t> settingsPicture(const Settings& settings, float sampleRate) {
    VeltranoVST plugin(quietHost);
    plugin.setSampleRate(sampleRate);
    settings.applyTo(plugin);
    gui::ScriptedDialogs dialogs;      // nothing is clicked
    MyEditor editor(&plugin, dialogs); // an off-screen window
    int parent = 0;
    if (!editor.open(&parent)) {
        return {};
    }
    editor.idle();
    std::vector<std::uint8_t> png = gui::encodePng(editor.frameView()->surface());
    editor.close();
    return png;
}

} // namespace cli
