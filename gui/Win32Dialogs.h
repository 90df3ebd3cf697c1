// The dialogs on Windows: the system's message box (no owner window, an OK button only, the
// caption given) and the system's save dialog (platform::desktopSaveDialog: Explorer style,
// the folder shown in its caption). The editor reaches the save dialog first as the desktop's
// own; this one answers only when that could not be shown.
//
// Threads: GUI thread only; the calls block it until the dialog closes.
#pragma once

#include "gui/Dialogs.h"

namespace gui {

class Win32Dialogs : public Dialogs {
public:
    void message(const std::string& caption, const std::string& text) override;
    std::optional<std::string> saveFile(const SaveFileRequest& request) override;
};

} // namespace gui
