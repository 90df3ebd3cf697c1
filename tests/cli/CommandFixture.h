// What the tests of the built veltrano program share: a scratch folder of each test's own
// (removed when the test passed) and a run of the program with its standard output and error
// caught.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace clitest {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class CommandFixture : public ::testing::Test {
protected:
    // `prefix` names the test's scratch folder in the test temporary folder.
    explicit CommandFixture(std::string prefix) : prefix(std::move(prefix)) {}

    void SetUp() override {
        folder = std::filesystem::path(::testing::TempDir()) /
                 (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        if (!HasFailure()) {
            std::filesystem::remove_all(folder);
        }
    }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // Runs the program with `arguments` (shell words), after `environment` assignments when
    // set.
    Outcome veltrano(const std::string& arguments) {
        const std::string command = environment + (environment.empty() ? "" : " ") +
                                    VELTRANO_CLI_PATH + " " + arguments + " >'" +
                                    path("stdout.txt") + "' 2>'" + path("stderr.txt") + "'";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read(path("stdout.txt")),
                read(path("stderr.txt"))};
    }

    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path folder;
    std::string environment; // e.g. "TMPDIR=/x", put before the program

private:
    std::string prefix;
};

} // namespace clitest
