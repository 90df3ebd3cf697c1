// The desktop's save dialog through stand-in programs on PATH: what they are asked, and how
// their answers (a path, a cancel, a failure) come back.
#include "platform/DesktopDialog.h"
#include "platform/Desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#if !defined(_WIN32)

namespace {

namespace fs = std::filesystem;

class DesktopDialog : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("veltrano-dialog-" +
                  std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        const char* path = std::getenv("PATH");
        savedPath = path != nullptr ? path : "";
        setenv("PATH", folder.c_str(), 1); // only the stand-ins
    }
    void TearDown() override {
        setenv("PATH", savedPath.c_str(), 1);
        fs::remove_all(folder);
    }

    // A stand-in for `name` that records its arguments, prints `output` and exits with `status`.
    void standIn(const std::string& name, const std::string& output, int status) {
        const fs::path script = folder / name;
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                              << (folder / (name + ".args")).string() << "'\nprintf '%s' '"
                              << output << "'\nexit " << status << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    std::string arguments(const std::string& name) {
        std::ifstream in(folder / (name + ".args"));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    const platform::SaveRequest request{"Save Veltrano Settings File", "/cases/C-17",
                                        "VT-VST Settings Files", "txt"};
    fs::path folder;
    std::string savedPath;
};

TEST_F(DesktopDialog, ZenityIsAskedWithTheTitleFilterAndFolder) {
    standIn("zenity", "/cases/C-17/report; rm -rf x\n", 0);
    const platform::SaveAnswer answer = platform::desktopSaveDialog(request);
    EXPECT_EQ(answer.result, platform::DialogResult::kChosen);
    EXPECT_EQ(answer.path, "/cases/C-17/report; rm -rf x.txt"); // a name, never a command
    EXPECT_EQ(arguments("zenity"), "--file-selection\n--save\n--title=Save Veltrano Settings "
                                   "File\n--file-filter=VT-VST Settings Files (.txt) | "
                                   "*.txt\n--filename=/cases/C-17/\n");
}

TEST_F(DesktopDialog, AnExtensionTypedIsKeptAndCancelChoosesNothing) {
    standIn("zenity", "/tmp/out.log\n", 0);
    EXPECT_EQ(platform::desktopSaveDialog(request).path, "/tmp/out.log");
    standIn("zenity", "", 1);
    EXPECT_EQ(platform::desktopSaveDialog(request).result, platform::DialogResult::kCancelled);
}

TEST_F(DesktopDialog, KdialogStandsInWhenZenityIsMissingOrFails) {
    standIn("kdialog", "/home/ex/r\n", 0);
    platform::SaveAnswer answer = platform::desktopSaveDialog(request);
    EXPECT_EQ(answer.path, "/home/ex/r.txt");
    EXPECT_EQ(arguments("kdialog"), "--title\nSave Veltrano Settings File\n--getsavefilename\n"
                                    "/cases/C-17/\n*.txt|VT-VST Settings Files (.txt)\n");
    standIn("zenity", "", 5); // no display, say
    answer = platform::desktopSaveDialog(request);
    EXPECT_EQ(answer.path, "/home/ex/r.txt");
    fs::remove(folder / "kdialog");
    EXPECT_EQ(platform::desktopSaveDialog(request).result, platform::DialogResult::kUnavailable);
}

TEST_F(DesktopDialog, ShellOpenPassesThePathAsOneArgumentAndDoesNotWait) {
    const std::string path = "/cases/C 17/report \"a\"; $(touch x).txt";
    EXPECT_FALSE(platform::shellOpen(path)); // no opener on PATH
    standIn("xdg-open", "", 0);
    ASSERT_TRUE(platform::shellOpen(path));
    // The opener runs on its own; its record appears when it is done.
    for (int i = 0; i < 1000 && arguments("xdg-open") != path + "\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(arguments("xdg-open"), path + "\n");
    EXPECT_FALSE(fs::exists("x"));
}

TEST(ModuleFolder, IsTheFolderOfTheBinaryHoldingTheCode) {
    const std::optional<std::string> folder = platform::moduleFolder();
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(folder->back(), '/');
    EXPECT_EQ(fs::canonical(*folder), fs::canonical("/proc/self/exe").parent_path());
}

} // namespace

#endif
