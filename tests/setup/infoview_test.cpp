// The debug window: opened by the debug configuration, fed log lines from
// several threads and the engine's range table while the user-interface
// thread is busy elsewhere, in the log file's order, and its table's texts
// and refresh limit; a window that failed to be made queues nothing.
#include "IDownloader.h"  // winsock2.h before windows.h

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "InfoViewDlg.h"
#include "Log.h"
#include "SkinTestUtil.h"
#include "TestSupport.h"
#include "Text.h"
#include "infoview_support.h"
#include "resource.h"

using namespace infoview_test;
using namespace testing_support;

namespace {

DownloadItem Item(int id, int64_t start, int64_t pos, int64_t end, uint32_t speed, int32_t status, const char* url) {
    DownloadItem item;
    item.id = id;
    item.start = start;
    item.pos = pos;
    item.end = end;
    item.speed = speed;
    item.status = status;
    item.url = url;
    return item;
}

const char kUrlA[] = "https://127.0.0.1:18443/download/orvane.exe";
const char kUrlB[] = "https://127.0.0.2:18443/download/orvane.exe";

}  // namespace

TEST(InfoViewSizeTest, FormatSizeBoundaries) {
    const struct {
        uint32_t bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L"0Byte"},        {1, L"1Byte"},           {1024, L"1024Byte"},        {1025, L"1.00KB"},
        {1536, L"1.50KB"},    {1048576, L"1024.00KB"}, {1048577, L"1.00MB"},       {0xFFFFFFFFu, L"4096.00MB"},
    };
    for (const auto& c : cases) {
        wchar_t buffer[64];
        wmemset(buffer, L'x', 64);
        EXPECT_STREQ(InfoViewDlg::FormatSize(c.bytes, buffer, 64), c.text) << c.bytes;
        EXPECT_EQ(buffer[wcslen(c.text) + 1], L'\0') << "the buffer is cleared first";
    }
}

TEST(InfoViewTableTest, RowsShowEveryColumnAndTheRunningItemsTotalSpeed) {
    DownloadProgress progress;
    progress.items[0] = Item(0, 0, 1048576, 1048575, 4096, E_Status_Succeed, kUrlA);  // finished
    progress.items[1] = Item(1, 1048576, 1048576 + 512, 2097151, 2048, E_Status_Runing, kUrlB);
    progress.items[2] = Item(2, 2097152, 2097153, 2097152, 0, E_Status_Runing, kUrlA);  // one byte, done
    progress.items[3] = Item(3, 10, 10, 10, 0, E_Status_Runing, kUrlA);                  // one byte, not yet
    progress.items[4] = Item(4, 0, 0, 99, 1000, E_Status_Replaced, nullptr);
    progress.items[5] = Item(5, 0, 50, 99, 3000, E_Status_Fail, kUrlB);

    const std::vector<InfoViewDlg::SegmentRow> rows = InfoViewDlg::MakeSegmentRows(progress);
    ASSERT_EQ(rows.size(), 7u);
    const InfoViewDlg::SegmentRow finished = {L"0", L"0Byte", L"1024.00KB", L"1024.00KB", L"100.00",
                                              L"4.00KB/s", L"E_Status_Succeed",
                                              L"https://127.0.0.1:18443/download/orvane.exe"};
    EXPECT_EQ(rows[0], finished);
    EXPECT_EQ(rows[1][1], L"1024.00KB");
    EXPECT_EQ(rows[1][3], L"512Byte");
    EXPECT_EQ(rows[1][4], L"0.05");
    EXPECT_EQ(rows[1][5], L"2.00KB/s");
    EXPECT_EQ(rows[1][6], L"E_Status_Runing");
    EXPECT_EQ(rows[2][4], L"100.00") << "a one-byte range has one byte to do";
    EXPECT_EQ(rows[3][4], L"0.00");
    EXPECT_EQ(rows[4][6], L"") << "a replaced item has no status name";
    EXPECT_EQ(rows[4][7], L"");
    EXPECT_EQ(rows[5][4], L"50.00");
    // Only the running items (2048 + 0 + 0) count towards the total.
    const InfoViewDlg::SegmentRow total = {L"Total Speed:", L"2.00KB", L"", L"", L"", L"", L"", L""};
    EXPECT_EQ(rows[6], total);

    const std::vector<InfoViewDlg::SegmentRow> empty = InfoViewDlg::MakeSegmentRows(DownloadProgress());
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0][0], L"Total Speed:");
    EXPECT_EQ(empty[0][1], L"0Byte");
}

TEST(InfoViewTableTest, TableRefreshesAtMostOnceASecond) {
    InfoViewDlg view;
    DownloadProgress progress;
    EXPECT_EQ(view.UpdateSegments(&progress), 1);
    Sleep(500);
    EXPECT_EQ(view.UpdateSegments(&progress), 0) << "500 ms after the last refresh";
    Sleep(700);
    EXPECT_EQ(view.UpdateSegments(nullptr), 1) << "a null progress moves the refresh time";
    EXPECT_EQ(view.UpdateSegments(&progress), 0);
}

TEST(InfoViewWindowTest, NoWindowWithoutTheSwitch) {
    for (const char* text :
         {"", "[root]\nshow_info_view=0\n", "[root]\nshow_info_view=2\n", "[other]\nshow_info_view=1\n"}) {
        DebugConfigFile config(text);
        EXPECT_EQ(ShowInfoViewIfEnabled(), 1);
        EXPECT_EQ(g_pInfoView.load(), nullptr) << text;
        EXPECT_EQ(OnLogLine("nowhere"), 1);
        DownloadProgress progress;
        EXPECT_EQ(OnDownloadSegments(&progress), 1);
    }
}

// The window opened by the switch shows the lines that four threads log and
// a range table fed from another thread, while the user-interface thread
// waits for those threads and pumps no messages: nothing may wait for it.
TEST(InfoViewWindowTest, SwitchOpensTheWindowThatShowsLinesAndRangesFromOtherThreads) {
    DebugConfigFile config("[root]\r\nshow_info_view=1\r\n");
    ScratchFolder scratch(L"infoview");
    ASSERT_EQ(ShowInfoViewIfEnabled(), 1);
    InfoViewDlg* view = g_pInfoView.load();
    ASSERT_NE(view, nullptr);
    const HWND wnd = view->GetWindow();
    ASSERT_NE(wnd, nullptr);
    EXPECT_TRUE(IsWindowVisible(wnd));
    wchar_t caption[64] = {};
    GetWindowTextW(wnd, caption, 64);
    EXPECT_STREQ(caption, L"Info View");
    const HWND table = GetDlgItem(wnd, IDC_INFO_SEGMENTS);
    const HWND lines = GetDlgItem(wnd, IDC_INFO_LOG);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(lines, nullptr);
    EXPECT_TRUE(IsWindowVisible(table));
    EXPECT_FALSE(IsWindowVisible(lines));
    HWND header = reinterpret_cast<HWND>(SendMessageW(table, LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 8);
    EXPECT_EQ(SendMessageW(table, LVM_GETCOLUMNWIDTH, 7, 0), 450);

    GetLog()->Init(scratch / L"install.log");
    GetLog()->SetCallback(OnLogLine);
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 50;
    DownloadProgress progress;
    progress.items[0] = Item(0, 0, 700000, 1048575, 350000, E_Status_Runing, kUrlA);
    progress.items[1] = Item(1, 1048576, 1048576 + 300000, 2097151, 150000, E_Status_Runing, kUrlB);
    progress.items[2] = Item(2, 2097152, 2400000, 2400000, 0, E_Status_Succeed, kUrlA);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) WriteLog("thread %d line %d", t, i);
        });
    }
    int fed = 0;
    threads.emplace_back([&] { fed = OnDownloadSegments(&progress); });
    // Joined without pumping: a line handed over by a blocking send would
    // never return here.
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(fed, 1);
    skin_test::Pump(500);

    // Three ranges and the total.
    ASSERT_EQ(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(Cell(table, 0, 0), L"0");
    EXPECT_EQ(Cell(table, 0, 3), L"683.59KB");
    EXPECT_EQ(Cell(table, 0, 4), L"66.76");
    EXPECT_EQ(Cell(table, 0, 5), L"341.80KB/s");
    EXPECT_EQ(Cell(table, 0, 6), L"E_Status_Runing");
    EXPECT_EQ(Cell(table, 1, 7), L"https://127.0.0.2:18443/download/orvane.exe");
    EXPECT_EQ(Cell(table, 2, 4), L"100.00");
    EXPECT_EQ(Cell(table, 3, 0), L"Total Speed:");
    EXPECT_EQ(Cell(table, 3, 1), L"488.28KB");
    SaveWindowPicture(wnd, L"infoview_table.bmp");

    // The lines arrived while the list was hidden; "Log" shows them, each
    // thread's in its own order.
    SendMessageW(wnd, WM_COMMAND, IDC_INFO_BTN_LOG, 0);
    skin_test::Pump(300);
    EXPECT_FALSE(IsWindowVisible(table));
    EXPECT_TRUE(IsWindowVisible(lines));
    const int count = static_cast<int>(SendMessageW(lines, LB_GETCOUNT, 0, 0));
    ASSERT_EQ(count, kThreads * kLinesEach);
    std::vector<int> next(kThreads, 0);
    for (int index = 0; index < count; ++index) {
        int t = -1, i = -1;
        ASSERT_EQ(swscanf(ListBoxLine(lines, index).c_str(), L"thread %d line %d", &t, &i), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(i, next[t]++);
    }
    SaveWindowPicture(wnd, L"infoview_log.bmp");

    // The close box hides the window; later lines still reach the list.
    SendMessageW(wnd, WM_CLOSE, 0, 0);
    skin_test::Pump(200);
    EXPECT_FALSE(IsWindowVisible(wnd));
    std::thread([] { WriteLog("after close"); }).join();
    skin_test::Pump(200);
    EXPECT_EQ(ListBoxLine(lines, count), L"after close");
    SendMessageW(wnd, WM_COMMAND, IDC_INFO_BTN_INFO, 0);
    EXPECT_TRUE(IsWindowVisible(table) || !IsWindowVisible(wnd));
    GetLog()->SetCallback(nullptr);
}

namespace {

// Hands each line of thread 0 on late, as when that thread is overtaken
// between writing its line and handing it to the window.
int HandOnThreadZeroLate(const char* message) {
    if (strncmp(message, "thread 0 ", 9) == 0) Sleep(3);
    return OnLogLine(message);
}

// The messages of the log file's lines that begin with prefix, in file order.
std::vector<std::wstring> LoggedLines(const std::wstring& path, const std::string& prefix) {
    std::vector<std::wstring> lines;
    const std::string text = ReadFileBytes(path);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        // Each line begins with its ten-character time stamp.
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 10 && line.compare(10, prefix.size(), prefix) == 0)
            lines.push_back(Utf8ToWide(line.substr(10)));
        at = end + 1;
    }
    return lines;
}

std::vector<std::wstring> ListLines(HWND list) {
    std::vector<std::wstring> lines;
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) lines.push_back(ListBoxLine(list, index));
    return lines;
}

bool PumpUntilCount(HWND list, int count, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (SendMessageW(list, LB_GETCOUNT, 0, 0) < count) {
        if (GetTickCount() - start >= timeoutMs) return false;
        skin_test::Pump(50);
    }
    return true;
}

// Refuses the debug window's table, so that the window fails to be made
// after its first messages.
LRESULT CALLBACK RefuseListView(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
        const wchar_t* name = create->lpcs->lpszClass;
        if (!IS_INTRESOURCE(name) && lstrcmpiW(name, WC_LISTVIEWW) == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

// Four threads log at once and one of them is overtaken after every line:
// the list shows the lines in the order install.log has them.
TEST(InfoViewWindowTest, ListKeepsTheLogFilesOrderWhenAThreadIsOvertaken) {
    DebugConfigFile config("[root]\r\nshow_info_view=1\r\n");
    ScratchFolder scratch(L"infoview-order");
    ASSERT_EQ(ShowInfoViewIfEnabled(), 1);
    InfoViewDlg* view = g_pInfoView.load();
    ASSERT_NE(view, nullptr);
    const HWND lines = GetDlgItem(view->GetWindow(), IDC_INFO_LOG);
    ASSERT_NE(lines, nullptr);
    const int before = static_cast<int>(SendMessageW(lines, LB_GETCOUNT, 0, 0));

    const std::wstring path = scratch / L"install.log";
    GetLog()->Init(path);
    GetLog()->SetCallback(HandOnThreadZeroLate);
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) WriteLog("thread %d line %d", t, i);
        });
    }
    for (std::thread& thread : threads) thread.join();
    GetLog()->SetCallback(nullptr);
    ASSERT_TRUE(PumpUntilCount(lines, before + kThreads * kLinesEach, 10000));

    const std::vector<std::wstring> logged = LoggedLines(path, "thread ");
    ASSERT_EQ(logged.size(), static_cast<size_t>(kThreads * kLinesEach));
    std::vector<std::wstring> listed = ListLines(lines);
    listed.erase(listed.begin(), listed.begin() + before);
    EXPECT_EQ(listed, logged);
}

// A window that fails to be made after its first messages queues nothing:
// a window opened later shows only what was logged while it existed.
TEST(InfoViewWindowTest, AWindowThatFailedToBeMadeQueuesNoLines) {
    DebugConfigFile config("[root]\r\nshow_info_view=1\r\n");
    ScratchFolder scratch(L"infoview-failed");
    HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseListView, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    EXPECT_EQ(ShowInfoViewIfEnabled(), 1);
    UnhookWindowsHookEx(hook);
    InfoViewDlg* view = g_pInfoView.load();
    ASSERT_NE(view, nullptr) << "the failed window's first messages made the debug window's object";
    EXPECT_FALSE(IsWindow(view->GetWindow()));

    GetLog()->Init(scratch / L"install.log");
    GetLog()->SetCallback(OnLogLine);
    std::thread([] {
        for (int i = 0; i < 50; ++i) WriteLog("no window %d", i);
    }).join();
    DownloadProgress progress;
    EXPECT_EQ(OnDownloadSegments(&progress), 1);

    ASSERT_EQ(ShowInfoViewIfEnabled(), 1);
    const HWND wnd = view->GetWindow();
    ASSERT_TRUE(IsWindow(wnd));
    std::thread([] { WriteLog("with the window"); }).join();
    const HWND lines = GetDlgItem(wnd, IDC_INFO_LOG);
    ASSERT_TRUE(PumpUntilCount(lines, 1, 10000));
    skin_test::Pump(300);
    EXPECT_EQ(ListLines(lines), std::vector<std::wstring>{L"with the window"});
    GetLog()->SetCallback(nullptr);
}
