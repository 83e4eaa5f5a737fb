// The base install run against a product that never ends: the run gives up
// after its whole poll count, ends the product and says so.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "Log.h"
#include "Process.h"
#include "SetupDlg.h"
#include "StandInControl.h"
#include "TestSupport.h"

using namespace standins;
using namespace testing_support;

namespace {

std::mutex g_logLock;
std::vector<std::string> g_logLines;

int CaptureLog(const char* message) {
    std::lock_guard<std::mutex> lock(g_logLock);
    g_logLines.emplace_back(message);
    return 0;
}

TEST(ProductStepsSlowTest, BaseInstallRunEndsAProductThatNeverEndsAfterItsPolls) {
    ScratchFolder folder(L"product-steps-slow");
    ScratchFolder logFolder(L"product-steps-slow-log");
    StandInSession session(logFolder / L"standins.log");
    ASSERT_TRUE(CopyProductStandIns(folder.path()));
    session.SetExitDelayMs(kNeverExit);
    GetLog()->SetCallback(CaptureLog);

    SetupDlg base;
    bool restart = true;
    EXPECT_TRUE(base.RunMainExeInstall(folder.path(), L"orvane.exe", false, &restart));
    GetLog()->SetCallback(nullptr);
    EXPECT_FALSE(restart);
    EXPECT_FALSE(IsProcessRunning(L"orvane.exe"));
    std::lock_guard<std::mutex> lock(g_logLock);
    bool counted = false, ended = false;
    for (const auto& line : g_logLines) {
        counted = counted || line == "Run main exe install : ExitCode(0), nWaitCount(1800).\n";
        ended = ended || line == "Main exe still running after 1800 waits; ended.\n";
    }
    EXPECT_TRUE(counted);
    EXPECT_TRUE(ended);
    for (int i = 0; i < 5 && KillProcessByName(L"orvane.exe"); ++i) {
    }
}

}  // namespace
