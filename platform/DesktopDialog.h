// The desktop's own file dialogs (modal). On Linux a separate program, waited for: zenity
// (GNOME and most desktops), else kdialog (KDE). Where neither is installed, or there is no
// desktop to show it on, the answer says so and the caller shows a dialog of its own. The
// programs are started directly (no shell), with the request's texts as single arguments, so
// no character of a title or folder can be taken as a command.
//
// On Windows the system's save dialog (GetSaveFileNameA): Explorer style, resizable, the
// read-only box hidden, owned by the request's window, and captioned with the title and the
// folder it shows ("title - [folder]"), updated whenever the folder changes. It answers
// "unavailable" only when the dialog itself fails.
//
// Threads: the GUI thread, which it blocks until the dialog closes.
#pragma once

#include <string>

namespace platform {

struct SaveRequest {
    std::string title;     // the dialog's title
    std::string folder;    // where it starts; empty: wherever the program starts
    std::string typeName;  // the file type's name, shown with its pattern
    std::string extension; // without the dot; appended to a chosen name that has none
    void* owner = nullptr; // the window the dialog belongs to (Windows: an HWND); null: none
};

enum class DialogResult {
    kChosen,     // `path` holds the chosen file
    kCancelled,  // the user closed the dialog without choosing
    kUnavailable // no desktop dialog could be shown
};

struct SaveAnswer {
    DialogResult result = DialogResult::kUnavailable;
    std::string path;
};

// Asks for the name of a file to save, without an overwrite prompt (the caller decides).
SaveAnswer desktopSaveDialog(const SaveRequest& request);

} // namespace platform
