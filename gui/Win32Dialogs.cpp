// Windows only; the library takes every .cpp of the folder, so the file is empty elsewhere.
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "gui/Win32Dialogs.h"

namespace gui {

void Win32Dialogs::message(const std::string& caption, const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

std::optional<std::string> Win32Dialogs::saveFile(const SaveFileRequest& request) {
    const platform::SaveAnswer answer = platform::desktopSaveDialog(request);
    if (answer.result != platform::DialogResult::kChosen) {
        return std::nullopt;
    }
    return answer.path;
}

} // namespace gui

#endif // _WIN32
