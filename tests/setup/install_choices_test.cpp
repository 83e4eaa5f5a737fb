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
#include "Text.h"
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
        DWORD value = 0, size = sizeof(value);
        hadValue_ = RegGetValueW(HKEY_LOCAL_MACHINE, EntryPath().c_str(), L"cfg_flag", RRF_RT_REG_DWORD, nullptr,
                                 &value, &size) == ERROR_SUCCESS;
        oldValue_ = static_cast<int>(value);
    }
    // The stored flags as they were: the other install tests read them.
    void TearDown() override {
        if (hadValue_) {
            SetUninstallItemDword(key_, "cfg_flag", oldValue_);
            return;
        }
        HKEY entry = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryPath().c_str(), 0, KEY_SET_VALUE, &entry) == ERROR_SUCCESS) {
            RegDeleteValueW(entry, L"cfg_flag");
            RegCloseKey(entry);
        }
    }
    std::wstring EntryPath() const {
        return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Utf8ToWide(key_);
    }
    ScratchFolder scratch_{L"install_choices"};
    std::string key_;
    bool hadValue_ = false;
    int oldValue_ = 0;
};

// The report's desktop and join flags follow the boxes from the start, not
// only after a click.
TEST_F(InstallChoicesTest, TheReportFlagsAndTheChoicesAreWhatTheBoxesShow) {
    // Each box once on and once off.
    for (int cfg : {1, 2}) {
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
