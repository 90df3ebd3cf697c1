#include "platform/DesktopDialog.h"

#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>

#include <vector>

namespace platform {

namespace {

constexpr DWORD kFileNameLength = 1024; // characters, terminating zero included

// The dialog's caption: the title, then the folder it shows.
void showFolderInCaption(HWND hook) {
    const auto* title = reinterpret_cast<const std::string*>(GetWindowLongPtrA(hook, DWLP_USER));
    const HWND dialog = GetParent(hook);
    if (title == nullptr || dialog == nullptr) {
        return;
    }
    char folder[MAX_PATH] = {};
    const LRESULT length =
        SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    if (length <= 0) {
        return; // a folder outside the file system (Computer, Network) has no path
    }
    const std::string caption = *title + " - [" + folder + "]";
    SetWindowTextA(dialog, caption.c_str());
}

// The hook of an Explorer-style dialog runs in a child dialog of the real one.
UINT_PTR CALLBACK hookProcedure(HWND hook, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* dialog = reinterpret_cast<const OPENFILENAMEA*>(lParam);
        SetWindowLongPtrA(hook, DWLP_USER, dialog->lCustData);
        return 0;
    }
    if (message == WM_NOTIFY) {
        const auto* notice = reinterpret_cast<const OFNOTIFYA*>(lParam);
        if (notice->hdr.code == CDN_INITDONE || notice->hdr.code == CDN_FOLDERCHANGE) {
            showFolderInCaption(hook);
        }
    }
    return 0; // the dialog's own handling goes on
}

} // namespace

SaveAnswer desktopSaveDialog(const SaveRequest& request) {
    // "name (.ext)\0*.ext\0\0"
    std::vector<char> filter;
    const auto add = [&filter](const std::string& text) {
        filter.insert(filter.end(), text.begin(), text.end());
        filter.push_back('\0');
    };
    add(request.typeName + " (." + request.extension + ")");
    add("*." + request.extension);
    filter.push_back('\0');

    std::vector<char> file(kFileNameLength, '\0');
    const std::string title = request.title;

    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = static_cast<HWND>(request.owner);
    dialog.lpstrFilter = filter.data();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = kFileNameLength;
    dialog.lpstrInitialDir = request.folder.empty() ? nullptr : request.folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = request.extension.empty() ? nullptr : request.extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_ENABLEHOOK;
    dialog.lpfnHook = &hookProcedure;
    dialog.lCustData = reinterpret_cast<LPARAM>(&title);

    SaveAnswer answer;
    if (GetSaveFileNameA(&dialog)) {
        answer.result = DialogResult::kChosen;
        answer.path = file.data();
    } else if (CommDlgExtendedError() == 0) {
        answer.result = DialogResult::kCancelled;
    }
    return answer;
}

} // namespace platform

#else

#include "platform/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace platform {

namespace {

struct Run {
    bool started = false;
    int exitStatus = -1; // -1: did not exit normally
    std::string output;  // what it wrote to standard output
};

// Runs the program with the arguments, collecting its standard output, and waits for it.
Run run(const std::string& program, const std::vector<std::string>& arguments) {
    Run result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return result;
    }
    // Only the child's standard output (a copy of the write end) stays open in the child.
    fcntl(pipeEnds[0], F_SETFD, FD_CLOEXEC);
    fcntl(pipeEnds[1], F_SETFD, FD_CLOEXEC);
    const std::optional<pid_t> child = spawn(program, arguments, pipeEnds[1]);
    close(pipeEnds[1]);
    if (child) {
        result.started = true;
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
            if (got > 0) {
                result.output.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
        int status = 0;
        while (waitpid(*child, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(pipeEnds[0]);
    return result;
}

SaveAnswer answerOf(const Run& done, const SaveRequest& request) {
    SaveAnswer answer;
    if (!done.started || done.exitStatus < 0 || done.exitStatus > 1) {
        return answer; // not there, or it could not show itself (no display, say)
    }
    std::string path = done.output;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) {
        path.pop_back();
    }
    if (done.exitStatus == 1 || path.empty()) {
        answer.result = DialogResult::kCancelled;
        return answer;
    }
    const auto slash = path.rfind('/');
    const std::string_view name =
        std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    if (!request.extension.empty() && name.find('.') == std::string_view::npos) {
        path.append(".").append(request.extension);
    }
    answer.result = DialogResult::kChosen;
    answer.path = path;
    return answer;
}

} // namespace

SaveAnswer desktopSaveDialog(const SaveRequest& request) {
    const std::string pattern = "*." + request.extension;
    const std::string shownType = request.typeName + " (." + request.extension + ")";
    std::string folder = request.folder;
    if (!folder.empty() && folder.back() != '/') {
        folder.push_back('/');
    }
    if (const std::string zenity = findProgram("zenity"); !zenity.empty()) {
        std::vector<std::string> arguments = {"--file-selection", "--save",
                                              "--title=" + request.title,
                                              "--file-filter=" + shownType + " | " + pattern};
        if (!folder.empty()) {
            arguments.push_back("--filename=" + folder);
        }
        const SaveAnswer answer = answerOf(run(zenity, arguments), request);
        if (answer.result != DialogResult::kUnavailable) {
            return answer;
        }
    }
    if (const std::string kdialog = findProgram("kdialog"); !kdialog.empty()) {
        const std::vector<std::string> arguments = {"--title", request.title, "--getsavefilename",
                                                    folder.empty() ? std::string(".") : folder,
                                                    pattern + "|" + shownType};
        return answerOf(run(kdialog, arguments), request);
    }
    return {};
}

} // namespace platform

#endif
