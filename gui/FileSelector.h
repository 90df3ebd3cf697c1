// Where a save dialog comes from: the host's own file selector when the host offers one,
// otherwise the desktop's (a separate program, see platform/DesktopDialog.h), otherwise the
// toolkit's own. The editor fills one request; the first of the three that can show a dialog
// answers, and a cancel there is final (no second dialog follows).
//
// Threads: GUI thread only; runSave blocks until the user has answered.
#pragma once

#include "gui/Dialogs.h"
#include "platform/DesktopDialog.h"

#include <functional>
#include <optional>
#include <string>

namespace gui {

// What the plug-in offers of its host's file selector.
class HostFileSelect {
public:
    virtual ~HostFileSelect() = default;
    // True when the host answers yes to both "openFileSelector" and "closeFileSelector".
    virtual bool canSelect() = 0;
    // Runs the host's save dialog: the chosen path, or nullopt when the user cancelled.
    virtual std::optional<std::string> select(const SaveFileRequest& request) = 0;
};

// The desktop's save dialog: platform::desktopSaveDialog, or a stand-in.
using DesktopSave = std::function<platform::SaveAnswer(const SaveFileRequest&)>;

class CFileSelector {
public:
    // `host` may be null (no host file selector), `desktop` empty (no desktop dialog).
    CFileSelector(HostFileSelect* host, Dialogs& own,
                  DesktopSave desktop = platform::desktopSaveDialog);

    // The chosen path, or nullopt when the user cancelled.
    std::optional<std::string> runSave(const SaveFileRequest& request);

private:
    HostFileSelect* host;
    DesktopSave desktop;
    Dialogs& own;
};

} // namespace gui
