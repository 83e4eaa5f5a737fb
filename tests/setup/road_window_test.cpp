// The install road's window on its own thread, through the installer's main
// dialog in this process: a box the worker asks for opens on the window's
// thread and its answer comes back to the worker; a close while the worker
// waits on a box ends the dialog within the close's bound with every thread
// joined; the working page's status text is hidden by the window's thread
// when the page changes, and a painter changes no control.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LangStrings.h"
#include "LogCapture.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "SkinMessageBox.h"
#include "SkinTestUtil.h"
#include "TestSupport.h"
#include "UnpackPackage.h"
#include "real_dialog.h"

using testing_support::WaitFor;

namespace {

constexpr UINT_PTR kCountdownTimer = 1;
// The close handler's pause before the dialog ends, and room for the rest.
constexpr DWORD kCloseBoundMs = 5000 + 4000;

// What the worker asked and what came back; outside the dialog, which the
// end of a run destroys.
struct Asked {
    std::atomic<bool> done{false};
    std::atomic<int> answer{-1};
    std::atomic<DWORD> thread{0};
};
Asked g_asked;

// One of the road's boxes: how the worker asks for it, whether the dialog
// owns it, the command that answers it, what that answer gives, and what
// a close gives.
struct BoxCase {
    const char* name;
    std::function<int(SetupDlg&)> ask;
    bool owned;
    WPARAM press;
    int pressed;
    int closed;
};

const std::vector<BoxCase>& BoxCases() {
    static const std::vector<BoxCase> cases = {
        {"restart question", [](SetupDlg& d) { return d.AskRoadRestart(); }, true, kSkinMsgButton1, kSkinMsgButton1,
         kSkinMsgNoButton},
        {"owned error",
         [](SetupDlg& d) {
             d.ShowRoadError(L"The folder cannot be written.", true);
             return 1;
         },
         true, IDOK, 1, 1},
        {"unowned error",
         [](SetupDlg& d) {
             d.ShowRoadError(L"A newer setup is needed.", false);
             return 1;
         },
         false, IDOK, 1, 1},
        {"install failed",
         [](SetupDlg& d) {
             d.OnInstallProgress(E_Unpack_Fail, 0, 0);
             return 1;
         },
         true, IDOK, 1, 1},
    };
    return cases;
}

const BoxCase* g_case = nullptr;

unsigned AskProc(SetupDlg* dialog) {
    g_asked.thread = GetCurrentThreadId();
    g_asked.answer = g_case->ask(*dialog);
    g_asked.done = true;
    return 0;
}

// The real dialog with no countdown and no statistics upload.
class BoxDialog : public SetupDlg {
public:
    int OnInitDialog(HWND wnd) override {
        const int result = SetupDlg::OnInitDialog(wnd);
        KillTimer(wnd, kCountdownTimer);
        return result;
    }
    int SendFinishReport() override { return 0; }
};

struct BoxSearch {
    HWND main, found;
};

BOOL CALLBACK MatchBox(HWND wnd, LPARAM p) {
    auto* s = reinterpret_cast<BoxSearch*>(p);
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    if (wnd != s->main && IsWindowVisible(wnd) && lstrcmpW(cls, L"#32770") == 0) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK MatchBoxOfProcess(HWND wnd, LPARAM p) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    return pid == GetCurrentProcessId() ? MatchBox(wnd, p) : TRUE;
}

// A box on any thread of this process (the one the worker may have opened).
HWND FindAnyBox(HWND main) {
    BoxSearch search{main, nullptr};
    EnumWindows(MatchBoxOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Logged(const std::vector<std::string>& lines, const char* part) {
    for (const auto& line : lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

class RoadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_capture::Start();
        log_capture::Take();
    }
    void TearDown() override { log_capture::Stop(); }

    // Runs the dialog as WinMain does (modal on this thread, then
    // EndSetupDlg), with the worker asking for box's box once the window is
    // up, while drive(window, uiThread) runs on another thread. True when
    // EndSetupDlg joined every thread.
    bool RunWithBox(const BoxCase& box, const std::function<void(HWND, DWORD)>& drive) {
        g_case = &box;
        g_asked.done = false;
        g_asked.answer = -1;
        g_asked.thread = 0;
        SetupDlgHolder = std::make_unique<BoxDialog>();
        SetupDlg* dialog = SetupDlgHolder.get();
        const DWORD uiThread = GetCurrentThreadId();
        std::atomic<bool> ended{false};
        std::thread driver([&] {
            HWND wnd = nullptr;
            WaitFor([&] { return (wnd = dialog->GetWindow()) != nullptr && IsWindowVisible(wnd); }, 15000);
            if (!wnd) {
                ADD_FAILURE() << "the dialog did not open";
                return;
            }
            dialog->StartWorker(AskProc);
            drive(wnd, uiThread);
            if (!ended && IsWindow(wnd)) PostMessageW(wnd, WM_CLOSE, 0, 0);
            // A box left up keeps its modal loop, and the dialog, running:
            // answer it so that the case ends.
            if (!WaitFor([&] { return ended.load(); }, kCloseBoundMs)) {
                ADD_FAILURE() << box.name << ": the dialog was still up after the close";
                if (HWND left = FindAnyBox(wnd)) PostMessageW(left, WM_COMMAND, box.press, 0);
            }
        });
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, MainDlgProc, 0);
        ended = true;
        driver.join();
        // Without the close handler's join a box on the worker's thread is
        // still up: answer it, so that the worker ends before the next case.
        const bool joined = EndSetupDlg(10000);
        if (!g_asked.done)
            if (HWND left = FindAnyBox(nullptr)) PostMessageW(left, WM_COMMAND, box.press, 0);
        WaitFor([] { return g_asked.done.load(); }, 5000);
        return joined;
    }
};

TEST_F(RoadWindowTest, ABoxOpensOnTheWindowsThreadAndItsAnswerReachesTheWorker) {
    for (const BoxCase& box : BoxCases()) {
        SCOPED_TRACE(box.name);
        RunWithBox(box, [&](HWND wnd, DWORD uiThread) {
            const HWND found = skin_test::FindThreadDialog(uiThread, 10000, wnd);
            ASSERT_NE(found, nullptr) << "no box on the window's thread; any box: " << FindAnyBox(wnd);
            EXPECT_EQ(GetWindowThreadProcessId(found, nullptr), uiThread);
            EXPECT_EQ(GetWindow(found, GW_OWNER), box.owned ? wnd : nullptr);
            EXPECT_FALSE(g_asked.done.load()) << "the worker waits for the answer";
            PostMessageW(found, WM_COMMAND, box.press, 0);
            EXPECT_TRUE(WaitFor([] { return g_asked.done.load(); }, 5000));
            EXPECT_EQ(g_asked.answer.load(), box.pressed);
            EXPECT_NE(g_asked.thread.load(), uiThread);
        });
    }
}

TEST_F(RoadWindowTest, ACloseWhileTheWorkerWaitsOnABoxEndsTheDialogWithEveryThreadJoined) {
    for (const BoxCase& box : BoxCases()) {
        SCOPED_TRACE(box.name);
        HWND shown = nullptr;
        DWORD closedAt = 0;
        const bool joined = RunWithBox(box, [&](HWND wnd, DWORD uiThread) {
            shown = skin_test::FindThreadDialog(uiThread, 10000, wnd);
            if (!shown) shown = FindAnyBox(wnd);
            ASSERT_NE(shown, nullptr);
            closedAt = GetTickCount();
            PostMessageW(wnd, WM_CLOSE, 0, 0);
        });
        const DWORD spent = GetTickCount() - closedAt;
        EXPECT_TRUE(joined) << "every thread of the dialog joined";
        EXPECT_LT(spent, kCloseBoundMs);
        EXPECT_TRUE(g_asked.done.load());
        EXPECT_EQ(g_asked.answer.load(), box.closed) << "the close gives what a cancel gives";
        EXPECT_FALSE(IsWindow(shown)) << "the close ended the box";
        const auto lines = log_capture::Take();
        EXPECT_FALSE(Logged(lines, "dialog kept"));
        EXPECT_FALSE(Logged(lines, "OnClose: a thread is still running."));
    }
}

// The page changes on the worker (the road's ShowPage: the page, then its
// controls through the window's thread); the painter draws the working page
// and changes no control, the window's thread hides the status text.
TEST_F(RoadWindowTest, TheWorkingPagesStatusTextIsHiddenByTheWindowsThreadNotByAPainter) {
    real_dialog::Window<BoxDialog> window;
    ASSERT_NE(window.wnd(), nullptr);
    BoxDialog& dialog = window.dialog;
    ASSERT_TRUE(dialog.pStaticStatus->IsVisible()) << "the ready page shows its status text";

    dialog.eInstall = E_Install_Working;
    dialog.OnPaint();
    EXPECT_TRUE(dialog.pStaticStatus->IsVisible()) << "the painter changed a control";

    std::thread worker([&] { dialog.ApplyControls(E_Install_Working); });
    worker.join();
    EXPECT_TRUE(WaitFor(
        [&] {
            skin_test::Pump(20);
            return !dialog.pStaticStatus->IsVisible();
        },
        5000));
    EXPECT_FALSE(dialog.pBtnClose->IsVisible());
    EXPECT_TRUE(window.Stop());
}

}  // namespace
