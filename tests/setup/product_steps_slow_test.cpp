// The base install run against a product that never ends: the run gives up
// after its whole poll count, ends the product and says so.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "Process.h"
#include "SetupDlg.h"
#include "StandInControl.h"
#include "TestSupport.h"

using namespace standins;
using namespace testing_support;

namespace {

TEST(ProductStepsSlowTest, BaseInstallRunEndsAProductThatNeverEndsAfterItsPolls) {
    ScratchFolder folder(L"product-steps-slow");
    ScratchFolder logFolder(L"product-steps-slow-log");
    StandInSession session(logFolder / L"standins.log");
    ASSERT_TRUE(CopyProductStandIns(folder.path()));
    session.SetExitDelayMs(kNeverExit);
    log_capture::Start();

    SetupDlg base;
    bool restart = true;
    EXPECT_TRUE(base.RunMainExeInstall(folder.path(), L"orvane.exe", false, &restart));
    log_capture::Stop();
    EXPECT_FALSE(restart);
    EXPECT_FALSE(IsProcessRunning(L"orvane.exe"));
    const auto log = log_capture::Take();
    EXPECT_TRUE(log_capture::Contains(log, "Run main exe install : ExitCode(0), nWaitCount(1800).\n"));
    EXPECT_TRUE(log_capture::Contains(log, "Main exe still running after 1800 waits; ended.\n"));
    for (int i = 0; i < 5 && KillProcessByName(L"orvane.exe"); ++i) {
    }
}

}  // namespace
