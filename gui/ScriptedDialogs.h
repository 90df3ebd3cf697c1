// Dialogs for tests: every request is recorded, and save dialogs answer from a queue filled
// beforehand (nullopt, as if cancelled, once the queue is empty). Nothing is shown.
#pragma once

#include "gui/Dialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace gui {

class ScriptedDialogs : public Dialogs {
public:
    struct Message {
        std::string caption;
        std::string text;
    };

    // The answer of the next saveFile call not yet answered.
    void queueSaveAnswer(std::optional<std::string> answer) {
        saveAnswers_.push_back(std::move(answer));
    }

    void message(const std::string& caption, const std::string& text) override {
        messages_.push_back({caption, text});
    }

    std::optional<std::string> saveFile(const SaveFileRequest& request) override {
        saveRequests_.push_back(request);
        if (saveAnswers_.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = std::move(saveAnswers_.front());
        saveAnswers_.pop_front();
        return answer;
    }

    const std::vector<Message>& messages() const { return messages_; }
    const std::vector<SaveFileRequest>& saveRequests() const { return saveRequests_; }

private:
    std::vector<Message> messages_;                      // every message shown, in order
    std::vector<SaveFileRequest> saveRequests_;          // every save dialog asked for, in order
    std::deque<std::optional<std::string>> saveAnswers_; // answers still to give
};

} // namespace gui
