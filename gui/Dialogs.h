// The modal dialogs the editor asks for: a message with an OK button and a save-file dialog.
// The editor holds a Dialogs and does not care how they are shown: X11Dialogs draws them with
// the toolkit on Linux, ScriptedDialogs answers from a script in tests.
//
// Threads: GUI thread only. Every call blocks until the user has answered.
#pragma once

#include "platform/DesktopDialog.h"

#include <optional>
#include <string>
#include <string_view>

namespace gui {

// Title, folder, file type name and extension of a save dialog (the desktop's dialog takes the
// same request).
using SaveFileRequest = platform::SaveRequest;

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal message with an OK button only; returns when the user dismisses it.
    virtual void message(const std::string& caption, const std::string& text) = 0;
    // A modal save dialog; the chosen path (the extension appended when the name has none),
    // or nullopt when cancelled or impossible.
    virtual std::optional<std::string> saveFile(const SaveFileRequest& request) = 0;
};

// What a save dialog returns for the text the user typed: a name without a leading '/' goes
// into the request's folder, and the extension is appended when the file name (after the last
// '/') has no '.'. Nullopt for what is not a file name: nothing typed, a name ending in '/',
// "." or "..".
std::optional<std::string> chosenSavePath(const SaveFileRequest& request, std::string_view typed);

} // namespace gui
