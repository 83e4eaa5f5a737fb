#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "TestSupport.h"

using namespace testing_support;

namespace {

// Runs the installer as a user would and returns what it appended to its log.
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveTree(logFolder_);
        DeleteFileW(configPath_.c_str());
    }
    void TearDown() override { DeleteFileW(configPath_.c_str()); }

    // The installer waits for its user: once its window is up, the window
    // is closed as its close button would.
    std::string RunInstaller() {
        std::thread closer([] {
            for (int i = 0; i < 600; ++i) {
                HWND wnd = FindWindowW(nullptr, L"Orvane Installer");
                if (wnd && IsWindowVisible(wnd)) {
                    Sleep(500);
                    PostMessageW(wnd, WM_CLOSE, 0, 0);
                    return;
                }
                Sleep(100);
            }
        });
        const auto result = RunProcess(L"\"" + BuildPath(L"setup/OrvaneSetup.exe") + L"\"", 120000);
        closer.join();
        EXPECT_TRUE(result.finished) << "the installer did not exit within 120 s; start error " << result.startError;
        EXPECT_EQ(result.exitCode, 0u);
        return ReadFileBytes(logFolder_ + L"\\install.log");
    }

    void WriteConfig(const std::string& body) { WriteFileBytes(configPath_, "[root]\r\n" + body); }

    const std::wstring logFolder_ = DocumentsFolder() + L"\\Tarvex\\Orvane\\Log";
    const std::wstring configPath_ = DocumentsFolder() + L"\\ZovDebugConfig.ini";
};

std::string MessagesOf(const std::string& log) {
    // Drop the time prefixes: "hh:mm:ss :" is ten bytes.
    std::string out;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find("\r\n", pos);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(pos, end - pos);
        out += (line.size() >= 10 && line[2] == ':' && line[5] == ':' ? line.substr(10) : line) + "\n";
        pos = end + 2;
    }
    return out;
}

}  // namespace

TEST_F(StartupTest, FirstRunCreatesLogFolderAndWritesStartAndExitLines) {
    const std::string log = RunInstaller();
    const std::string header = "\r\n\r\n" + std::string(40, '-') + "\r\n00:00:00 : Init Log OK.\r\n";
    ASSERT_EQ(log.substr(0, header.size()), header);
    const std::string messages = MessagesOf(log.substr(header.size()));
    const std::string start =
        "Setup Init. Version 1.0.6.0\n"
        "System Mode : x64\n";  // the harness's prefix is a 64-bit Windows
    EXPECT_EQ(messages.substr(0, start.size()), start);
    EXPECT_EQ(messages.find("Test Mode"), std::string::npos);
    ASSERT_GE(messages.size(), 10u);
    EXPECT_EQ(messages.substr(messages.size() - 10), "Exit app.\n");
}

TEST_F(StartupTest, TestModeLineOnlyForValueOne) {
    struct Case {
        const char* config;
        bool testModeLine;
    } cases[] = {
        {"setup_test_mode=1\r\n", true},
        {"setup_test_mode=2\r\n", false},
        {"setup_test_mode=abc\r\n", false},
        {"show_info_view=0\r\n", false},
    };
    for (const auto& c : cases) {
        RemoveTree(logFolder_);
        WriteConfig(c.config);
        const std::string messages = MessagesOf(RunInstaller());
        EXPECT_EQ(messages.find("Test Mode : true\n\n") != std::string::npos, c.testModeLine) << c.config;
        EXPECT_NE(messages.find("Setup Init. Version 1.0.6.0\n"), std::string::npos);
        EXPECT_EQ(messages.substr(messages.size() - 10), "Exit app.\n");
    }
}

TEST_F(StartupTest, SecondRunAppendsAnotherHeader) {
    RunInstaller();
    const std::string log = RunInstaller();
    size_t headers = 0;
    for (size_t pos = log.find("Init Log OK."); pos != std::string::npos; pos = log.find("Init Log OK.", pos + 1))
        ++headers;
    EXPECT_EQ(headers, 2u);
}
