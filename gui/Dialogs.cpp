#include "gui/Dialogs.h"

namespace gui {

std::optional<std::string> chosenSavePath(const SaveFileRequest& request, std::string_view typed) {
    if (typed.empty() || typed.back() == '/') {
        return std::nullopt;
    }
    std::string path;
    if (typed.front() != '/' && !request.folder.empty()) {
        path = request.folder;
        if (path.back() != '/') {
            path += '/';
        }
    }
    path += typed;
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    if (name == "." || name == "..") {
        return std::nullopt; // a folder, not a file
    }
    std::string_view extension = request.extension;
    while (!extension.empty() && extension.front() == '.') {
        extension.remove_prefix(1);
    }
    if (name.find('.') == std::string_view::npos && !extension.empty()) {
        path += '.';
        path += extension;
    }
    return path;
}

} // namespace gui
