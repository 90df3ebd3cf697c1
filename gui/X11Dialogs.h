// The dialogs on Linux, drawn with the toolkit: a message box (OK) and a save-file dialog (a
// name field, OK and Cancel) in a top-level window of their own, transient for the editor's
// window when one is given.
//
// Each call opens its own connection to the X server, so the host's connection and its event
// queue are never touched, creates the dialog's window with the frame shown in an X11Window
// inside it, and blocks in its own event loop until the user answers; then everything is freed
// and the connection closed. X errors of that connection are counted, never fatal.
//
// Keys: Return is OK and Escape cancels (the message box takes both as OK); the window
// manager's close button is OK for the message box and Cancel for the save dialog. The save
// dialog's field holds the folder and a '/' and is being edited as soon as the dialog shows;
// a typed name without a leading '/' goes into the folder (chosenSavePath). A name that is
// empty or ends in '/' is not accepted: the dialog stays open, editing again.
//
// Without a display, message() writes the caption and text to stderr and saveFile() answers
// nullopt.
//
// Threads: GUI thread only; the calls block it until the dialog closes.
#pragma once

#include "gui/Dialogs.h"
#include "gui/Rect.h"

namespace gui {

class X11Dialogs : public Dialogs {
public:
    // Layout in pixels, the same for both dialogs.
    static constexpr int kWidth = 400;
    static constexpr int kMargin = 12;
    static constexpr int kButtonWidth = 80;
    static constexpr int kButtonHeight = 24;
    static constexpr int kButtonGap = 8;

    // The OK button of a dialog `height` pixels high: the bottom-right one. Cancel is to its
    // left, kButtonGap apart.
    static constexpr Rect okButton(int height) {
        return {kWidth - kMargin - kButtonWidth, height - kMargin - kButtonHeight, kWidth - kMargin,
                height - kMargin};
    }

    // `owner`: the X window the dialogs belong to (the editor's), 0 for none.
    explicit X11Dialogs(unsigned long owner = 0) : owner_(owner) {}

    void message(const std::string& caption, const std::string& text) override;
    std::optional<std::string> saveFile(const SaveFileRequest& request) override;

private:
    unsigned long owner_; // WM_TRANSIENT_FOR of the dialogs; 0: none
};

} // namespace gui
