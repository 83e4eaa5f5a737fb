#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "Log.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

const std::string kRunHeader = "\r\n\r\n" + std::string(40, '-') + "\r\n00:00:00 : Init Log OK.\r\n";

std::vector<std::string> g_seen;
int Record(const char* message) {
    g_seen.push_back(message);
    return 0;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        GetLog()->SetCallback(nullptr);
    }
    void TearDown() override { GetLog()->SetCallback(nullptr); }
    ScratchFolder folder{L"log"};
    std::wstring logPath = folder / L"Log\\install.log";
};

}  // namespace

TEST_F(LogTest, EachRunAppendsHeaderAndLinesWithCrLf) {
    GetLog()->Init(logPath);
    WriteLog("Setup Init. Version %s", "1.0.6.0");
    WriteLog("Test Mode : true\n");
    GetLog()->Init(logPath);
    WriteLog("Exit app.");

    const std::string expected = kRunHeader + "00:00:00 :Setup Init. Version 1.0.6.0\r\n" +
                                 "00:00:00 :Test Mode : true\r\n\r\n" + kRunHeader + "00:00:00 :Exit app.\r\n";
    EXPECT_EQ(ReadFileBytes(logPath), expected);
}

TEST_F(LogTest, TimePrefixShowsElapsedHoursMinutesSeconds) {
    struct Case {
        uint32_t seconds;
        const char* prefix;
    } cases[] = {
        {0, "00:00:00 : "},
        {67, "00:01:07 : "},
        {3600 * 25 + 61, "25:01:01 : "},  // hours are not reduced modulo 24
        {3600 * 100 + 5, "100:00:05 : "},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatTimePrefix(c.seconds), c.prefix) << c.seconds;
    // A line takes the first 10 bytes: from 100 hours on that ends before the colon.
    EXPECT_EQ(FormatTimePrefix(3600 * 100 + 5).substr(0, 10), "100:00:05 ");
}

TEST_F(LogTest, ElapsedTimeSurvivesTickCounterWrap) {
    EXPECT_EQ(ElapsedSeconds(0x00000FA0u, 0xFFFFF830u), 6u);  // 2 s before and 4 s after the wrap
    EXPECT_EQ(ElapsedSeconds(67000, 0), 67u);
}

TEST_F(LogTest, CallbackGetsMessageWithoutPrefixEvenWhenFileCannotOpen) {
    GetLog()->Init(logPath);
    GetLog()->SetCallback(Record);
    WriteLog("line %d", 1);
    // A path whose folder cannot be created: only the callback sees the line.
    GetLog()->Init(L"Q:\\no such drive\\install.log");
    WriteLog("only the callback");
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0], "line 1");
    EXPECT_EQ(g_seen[1], "only the callback");
    EXPECT_EQ(ReadFileBytes(logPath), kRunHeader + "00:00:00 :line 1\r\n");
}

TEST_F(LogTest, MessageIsDataAndOverlongMessagesAreTruncated) {
    GetLog()->Init(logPath);
    const std::string path = "C:\\100%s\\%n%d";
    WriteLog("%s", path.c_str());
    const std::string huge(20000, 'x');
    WriteLog("reply: %s", huge.c_str());

    const std::string bytes = ReadFileBytes(logPath);
    EXPECT_NE(bytes.find("00:00:00 :C:\\100%s\\%n%d\r\n"), std::string::npos);
    const size_t start = bytes.find("reply: ");
    ASSERT_NE(start, std::string::npos);
    const size_t end = bytes.find("\r\n", start);
    EXPECT_EQ(end - start, 12999u);  // the 13,000-byte buffer less its terminator
}

namespace {
std::atomic<int> g_reentered{0};
int LogAgain(const char* message) {
    // A callback that logs itself (as a window procedure may) must not deadlock.
    if (std::string(message).rfind("inner", 0) != 0) {
        g_reentered++;
        WriteLog("inner %s", message);
    }
    return 0;
}
}  // namespace

TEST_F(LogTest, ConcurrentWritersKeepLinesWholeAndCallbackRunsOutsideLock) {
    GetLog()->Init(logPath);
    GetLog()->SetCallback(LogAgain);
    constexpr int kThreads = 8, kLines = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) WriteLog("thread %d line %d %s", t, i, std::string(200, 'a' + t).c_str());
        });
    for (auto& th : threads) th.join();
    GetLog()->SetCallback(nullptr);

    EXPECT_EQ(g_reentered.load(), kThreads * kLines);
    std::istringstream in(ReadFileBytes(logPath));
    std::string line;
    std::set<std::string> outer;
    int inner = 0;
    while (std::getline(in, line)) {
        if (line.rfind("00:00:0", 0) != 0) continue;
        ASSERT_EQ(line.back(), '\r') << line;
        const std::string message = line.substr(10, line.size() - 11);
        if (message.rfind("inner ", 0) == 0) {
            ++inner;
            continue;
        }
        if (message == " Init Log OK.") continue;
        int t = -1, i = -1;
        char text[256] = {};
        ASSERT_EQ(sscanf(message.c_str(), "thread %d line %d %255s", &t, &i, text), 3) << message;
        EXPECT_EQ(std::string(text), std::string(200, 'a' + t));
        outer.insert(message);
    }
    EXPECT_EQ(outer.size(), size_t(kThreads * kLines));
    EXPECT_EQ(inner, kThreads * kLines);
}

TEST_F(LogTest, DocumentsPathCreatesSubFolders) {
    std::wstring path;
    GetDocumentsPath(path, L"Tarvex\\Orvane\\LogTest\\", L"install.log", 1);
    EXPECT_EQ(path, DocumentsFolder() + L"\\Tarvex\\Orvane\\LogTest\\install.log");
    EXPECT_TRUE(FolderExists(DocumentsFolder() + L"\\Tarvex\\Orvane\\LogTest"));
    EXPECT_FALSE(FileExists(path));
    RemoveTree(DocumentsFolder() + L"\\Tarvex\\Orvane\\LogTest");

    GetDocumentsPath(path, L"Tarvex\\NotMade", nullptr, 0);
    EXPECT_EQ(path, DocumentsFolder() + L"\\Tarvex\\NotMade");
    EXPECT_FALSE(FolderExists(path));
}
