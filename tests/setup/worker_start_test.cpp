// The worker's start from the window's thread while a previous worker is
// still being joined: the join answers messages sent to the window, so the
// close handler's stop may arrive in the middle of it. The stop does not wait
// for the start that holds the lock (none is held across the join), and no
// worker starts once it has been answered.
#include "IDownloader.h"  // winsock2.h before windows.h

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "Orvane.h"
#include "real_dialog.h"

namespace {

constexpr WPARAM kStopCommand = 0x7A01;  // the test dialog's own
constexpr DWORD kWorkerBoundMs = 30000;

std::atomic<bool> g_releaseWorker{false};

// A previous worker that ends only when the test lets it (or at the bound).
unsigned HeldWorker(SetupDlg*) {
    const DWORD start = GetTickCount();
    while (!g_releaseWorker && GetTickCount() - start < kWorkerBoundMs) Sleep(5);
    return 0;
}

unsigned EndAtOnce(SetupDlg*) { return 0; }

// The product's dialog with one command more: a stop of every thread, as the
// close handler asks for it, answered wherever the window answers messages.
class StoppingDialog : public Orvane {
public:
    int OnCommand(WPARAM wParam, LPARAM lParam) override {
        if (wParam == kStopCommand) {
            nestedStopped = StopThreads(3000) ? 1 : 0;
            return 1;
        }
        return Orvane::OnCommand(wParam, lParam);
    }
    std::atomic<int> nestedStopped{-1};
};

bool LogHas(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// Sends command to the window from another thread, then lets the held worker
// end. Nothing on the window's thread answers sent messages before the start
// below joins the held worker, so the command is answered inside that join.
std::thread SendThenRelease(HWND wnd, WPARAM command, std::atomic<bool>& answered) {
    g_releaseWorker = false;
    return std::thread([wnd, command, &answered] {
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(wnd, WM_COMMAND, command, 0, SMTO_NORMAL, 20000, &result) != 0;
        g_releaseWorker = true;
    });
}

class WorkerStartTest : public ::testing::Test {
protected:
    void SetUp() override { log_capture::Start(); }
    void TearDown() override {
        g_releaseWorker = true;
        log_capture::Stop();
        log_capture::Take();
    }
};

}  // namespace

TEST_F(WorkerStartTest, AStopAnsweredDuringTheJoinStartsNoWorkerAfterIt) {
    real_dialog::Window<StoppingDialog> window;
    ASSERT_NE(window.wnd(), nullptr);
    StoppingDialog& dlg = window.dialog;

    ASSERT_TRUE(dlg.StartWorker(HeldWorker));
    std::atomic<bool> answered{false};
    std::thread sender = SendThenRelease(window.wnd(), kStopCommand, answered);
    const bool started = dlg.StartWorker(EndAtOnce);
    sender.join();

    EXPECT_TRUE(answered) << "the stop was not answered during the join";
    // The held worker was with the start further up the stack: the stop
    // cannot say every thread has ended.
    EXPECT_EQ(dlg.nestedStopped.load(), 0);
    EXPECT_FALSE(started) << "a worker started after the dialog was stopped";
    EXPECT_EQ(dlg.nWorkersStarted.load(), 1u);
    EXPECT_TRUE(LogHas(log_capture::Take(), "Worker not started: the dialog is closing."));
    EXPECT_TRUE(window.Stop());
}
