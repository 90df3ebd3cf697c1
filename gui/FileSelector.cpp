#include "gui/FileSelector.h"

#include <utility>

namespace gui {

CFileSelector::CFileSelector(HostFileSelect* hostSelect, Dialogs& ours, DesktopSave desktopSave)
    : host(hostSelect), desktop(std::move(desktopSave)), own(ours) {}

std::optional<std::string> CFileSelector::runSave(const SaveFileRequest& request) {
    if (host != nullptr && host->canSelect()) {
        return host->select(request);
    }
    if (desktop) {
        const platform::SaveAnswer answer = desktop(request);
        switch (answer.result) {
        case platform::DialogResult::kChosen:
            return answer.path;
        case platform::DialogResult::kCancelled:
            return std::nullopt;
        case platform::DialogResult::kUnavailable:
            break;
        }
    }
    return own.saveFile(request);
}

} // namespace gui
