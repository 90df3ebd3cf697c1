// Which save dialog answers: the host's when it offers one, else the desktop's, else ours; a
// cancel is final.
#include "gui/FileSelector.h"
#include "gui/ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace {

struct FakeHost : gui::HostFileSelect {
    bool offers = true;
    int asked = 0;
    std::optional<std::string> answer = "/host/choice.txt";
    bool canSelect() override { return offers; }
    std::optional<std::string> select(const gui::SaveFileRequest&) override {
        ++asked;
        return answer;
    }
};

using Result = platform::DialogResult;

TEST(FileSelector, TheHostsThenTheDesktopsThenOurs) {
    const gui::SaveFileRequest request{"Save Veltrano Settings File", "/cases",
                                       "VT-VST Settings Files", "txt"};
    gui::ScriptedDialogs own;
    own.queueSaveAnswer("/ours/r.txt");
    int desktopAsked = 0;
    Result desktopResult = Result::kChosen;
    const gui::DesktopSave desktop = [&](const gui::SaveFileRequest& r) {
        ++desktopAsked;
        EXPECT_EQ(r.title, "Save Veltrano Settings File");
        return platform::SaveAnswer{desktopResult, "/desktop/r.txt"};
    };
    FakeHost host;
    gui::CFileSelector selector(&host, own, desktop);

    EXPECT_EQ(selector.runSave(request), "/host/choice.txt");
    host.answer.reset(); // cancelled in the host's dialog: no other dialog follows
    EXPECT_EQ(selector.runSave(request), std::nullopt);
    EXPECT_EQ(desktopAsked, 0);

    host.offers = false;
    EXPECT_EQ(selector.runSave(request), "/desktop/r.txt");
    desktopResult = Result::kCancelled;
    EXPECT_EQ(selector.runSave(request), std::nullopt);
    desktopResult = Result::kUnavailable;
    EXPECT_EQ(selector.runSave(request), "/ours/r.txt");
    EXPECT_EQ(host.asked, 2);
    EXPECT_EQ(desktopAsked, 3);

    gui::CFileSelector alone(nullptr, own, {});      // no host, no desktop program
    EXPECT_EQ(alone.runSave(request), std::nullopt); // ours, with nothing queued: cancelled
}

} // namespace
