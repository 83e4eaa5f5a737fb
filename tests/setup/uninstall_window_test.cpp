// The uninstall page on a real window: what the uninstall worker asks of the
// page reaches the controls only on the window's thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "LangStrings.h"
#include "Log.h"
#include "Orvane.h"
#include "TestSupport.h"
#include "real_dialog.h"

using namespace testing_support;

namespace {

// The product's dialog in the uninstall layout, built by the same code as a
// normal start; a plain page stands in for the renderer's.
class UninstallLayoutDialog : public Orvane {
public:
    int OnInitDialog(HWND wnd) override {
        CommonDlg::OnInitDialog(wnd);
        SelectLanguage(L"Orvane", 0);
        nLayout = 0;
        CreateControls();
        return 1;
    }
    void OnPaint() override {
        if (GetWindow()) ValidateRect(GetWindow(), nullptr);
    }
};

TEST(UninstallWindowTest, PageChangesFromTheWorkerApplyOnTheWindowsThread) {
    ScratchFolder scratch(L"uninstall_window");
    GetLog()->Init(scratch / L"install.log");
    const struct {
        const char* name;
        std::function<void(SetupDlg&)> work;  // run on a worker
    } cases[] = {
        {"the road's window calls",
         [](SetupDlg& dlg) {
             dlg.ShowUninstallStart();
             dlg.ShowUninstallPosition(40);
             dlg.ShowUninstallPosition(100);
             dlg.ShowUninstallDone(true);
         }},
        {"the page events",
         [](SetupDlg& dlg) {
             dlg.bNeedRestart = true;
             dlg.OnUninstallProgress(0, 0, 0);
             dlg.OnUninstallProgress(3, 40, 0);
             dlg.OnUninstallProgress(1, 0, 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        real_dialog::Window<UninstallLayoutDialog> window;
        ASSERT_NE(window.wnd(), nullptr);
        SetupDlg& dlg = window.dialog;
        ASSERT_TRUE(dlg.pProgress && dlg.pBtnCancel && dlg.pStaticQuestion && dlg.pStaticKeepConfig);
        dlg.pProgress->SetVisible(true);
        const int cancelId = dlg.pBtnCancel->GetId();
        const std::wstring question = dlg.pStaticQuestion->GetText();
        ASSERT_NE(cancelId, 1627);

        std::thread worker([&] { c.work(dlg); });
        worker.join();
        EXPECT_EQ(dlg.pBtnCancel->GetId(), cancelId) << "changed off the window's thread";
        EXPECT_EQ(dlg.pStaticQuestion->GetText(), question) << "changed off the window's thread";
        EXPECT_TRUE(dlg.pProgress->IsVisible()) << "changed off the window's thread";
        EXPECT_EQ(dlg.pProgress->BarWidth(100), 0) << "changed off the window's thread";

        EXPECT_TRUE(WaitFor(
            [&] {
                skin_test::Pump(20);
                return dlg.pBtnCancel->GetId() == 1627;
            },
            5000))
            << "the posted done page was applied";
        EXPECT_EQ(dlg.pBtnCancel->GetText(), std::wstring(GetLangString(27)));
        EXPECT_TRUE(dlg.pBtnCancel->IsVisible());
        EXPECT_FALSE(dlg.pProgress->IsVisible());
        EXPECT_FALSE(dlg.pStaticKeepConfig->IsVisible());
        EXPECT_EQ(dlg.pProgress->BarWidth(100), 100) << "the full bar came before the done page";
        EXPECT_EQ(dlg.pStaticQuestion->GetText(), std::wstring(GetLangString(41)));
    }
}

}  // namespace
