// The installer's own dialog as a user sees it before Install: the boxes
// preset from the stored configuration flags are what the finish report
// tells, and what the install road is handed; the road's control changes
// reach the controls only on the window's thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "Log.h"
#include "Orvane.h"
#include "ProductInfo.h"
#include "Registry.h"
#include "TestSupport.h"
#include "real_dialog.h"

using namespace testing_support;

namespace {

// The uninstall entry's key the dialog reads "cfg_flag" from.
std::string CfgFlagKey() {
    Orvane probe;
    const auto& info = GetProductInfo();
    probe.packageHeader.isX64 = info && info->IsX64() ? 1 : 0;
    return probe.MakeUninstallKeyName(info ? info->GetInstallFolderName() : "");
}

class InstallChoicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetLog()->Init(scratch_ / L"install.log");
        key_ = CfgFlagKey();
        int stored = 0;
        hadEntry_ = GetUninstallItemDword(key_, "cfg_flag", stored) != 0;
    }
    void TearDown() override {
        if (!hadEntry_) DeleteUninstallItem(key_);
    }
    ScratchFolder scratch_{L"install_choices"};
    std::string key_;
    bool hadEntry_ = false;
};

// The report's desktop and join flags follow the boxes from the start, not
// only after a click.
TEST_F(InstallChoicesTest, TheReportFlagsAndTheChoicesAreWhatTheBoxesShow) {
    for (int cfg : {0, 1, 2, 3}) {
        SCOPED_TRACE(cfg);
        ASSERT_TRUE(SetUninstallItemDword(key_, "cfg_flag", cfg));
        g_bCreateDesktopIcon = true;
        g_bJoinUxProgram = true;
        real_dialog::Window<Orvane> window;
        ASSERT_NE(window.wnd(), nullptr);
        Orvane& dlg = window.dialog;
        ASSERT_TRUE(dlg.pChkDesktop && dlg.pChkJoin);
        EXPECT_EQ(dlg.pChkDesktop->GetCheck() != 0, (cfg & 1) != 0);
        EXPECT_EQ(dlg.pChkJoin->GetCheck() != 0, (cfg & 2) != 0);
        EXPECT_EQ(g_bCreateDesktopIcon.load(), (cfg & 1) != 0);
        EXPECT_EQ(g_bJoinUxProgram.load(), (cfg & 2) != 0);
        InstallChoices choices = dlg.ReadInstallChoices();
        EXPECT_EQ(choices.desktop, (cfg & 1) != 0);
        EXPECT_EQ(choices.join, (cfg & 2) != 0);
        // A click on the desktop box changes both.
        SendMessageW(window.wnd(), WM_COMMAND, 1620, 0);
        EXPECT_EQ(g_bCreateDesktopIcon.load(), (cfg & 1) == 0);
        choices = dlg.ReadInstallChoices();
        EXPECT_EQ(choices.desktop, (cfg & 1) == 0);
    }
}

// A control state asked from another thread waits for the window's thread.
TEST_F(InstallChoicesTest, ControlStatesFromAWorkerApplyOnTheWindowsThread) {
    real_dialog::Window<Orvane> window;
    ASSERT_NE(window.wnd(), nullptr);
    Orvane& dlg = window.dialog;
    ASSERT_TRUE(dlg.pBtnClose && dlg.pBtnClose->IsVisible());
    std::thread worker([&] { dlg.ApplyControls(E_Install_Working); });
    worker.join();
    EXPECT_TRUE(dlg.pBtnClose->IsVisible()) << "changed off the window's thread";
    const DWORD start = GetTickCount();
    while (dlg.pBtnClose->IsVisible() && GetTickCount() - start < 5000) skin_test::Pump(20);
    EXPECT_FALSE(dlg.pBtnClose->IsVisible()) << "the posted state was applied";
}

}  // namespace
