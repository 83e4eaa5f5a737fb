// The debug window during a real download: opened by its configuration key
// as the installer's start-up opens it, beside the installer's own main
// dialog whose download page hands it the engine's ranges, while the install
// road downloads the package built from the stand-in product from the
// loopback mirrors. The program carries manifests naming those mirrors.
#include "IDownloader.h"  // winsock2.h before windows.h

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "InfoViewDlg.h"
#include "JFile.h"
#include "Log.h"
#include "Orvane.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "SkinTestUtil.h"
#include "TestSupport.h"
#include "Text.h"
#include "infoview_support.h"
#include "real_dialog.h"
#include "resource.h"

using namespace infoview_test;
using namespace testing_support;

namespace {

typedef InfoViewDlg::SegmentRow Row;

// FormatSize shows two decimals of a kilobyte or a megabyte.
constexpr double kSizeTextError = 1048576 * 0.005 + 1;

// The mirrors' behaviour, read by the fixture before every request; put
// back to normal at the end.
class MirrorScenario {
public:
    explicit MirrorScenario(const std::string& json) { Write(json); }
    ~MirrorScenario() { Write("{}"); }

private:
    static void Write(const std::string& json) {
        std::ofstream(ToUnixPath(FromUnixPath(INSTALL_MIRROR_DIR) + L"\\scenario.json"),
                      std::ios::binary | std::ios::trunc)
            << json;
    }
};

std::vector<Row> ReadTable(HWND list) {
    std::vector<Row> rows(static_cast<size_t>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    for (size_t i = 0; i < rows.size(); ++i)
        for (int column = 0; column < 8; ++column) rows[i][column] = Cell(list, static_cast<int>(i), column);
    return rows;
}

std::vector<std::wstring> ReadLines(HWND list) {
    std::vector<std::wstring> lines;
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) lines.push_back(ListBoxLine(list, index));
    return lines;
}

// Bytes of a FormatSize text ("1.25MB", "3.50KB", "12Byte").
double ParseSize(const std::wstring& text) {
    wchar_t* end = nullptr;
    const double value = wcstod(text.c_str(), &end);
    const std::wstring unit = end ? end : L"";
    if (unit == L"MB" || unit == L"MB/s") return value * 1048576;
    if (unit == L"KB" || unit == L"KB/s") return value * 1024;
    return value;
}

std::wstring SizeText(int64_t bytes) {
    wchar_t text[64];
    return InfoViewDlg::FormatSize(static_cast<uint32_t>(bytes), text, 64);
}

std::wstring StatusName(int32_t status) { return NarrowToWide(GetItemStatusName(&status)); }

// A table made from the engine's figures a moment before the engine's own
// copy: every range is there with its id, mirror and first byte; its last
// byte may only have moved down since (a split), its bytes done and rate up,
// and its status on from running (or from failed to replaced).
testing::AssertionResult RowsMatchEngine(const std::vector<Row>& rows, const DownloadProgress& engine) {
    if (rows.empty() || rows.back()[0] != L"Total Speed:") return testing::AssertionFailure() << "no total row";
    double runningSpeed = 0;
    int running = 0;
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const Row& row = rows[i];
        const int id = std::stoi(row[0]);
        if (id != static_cast<int>(i)) return testing::AssertionFailure() << "row " << i << " shows range " << id;
        const auto found = engine.items.find(id);
        if (found == engine.items.end()) return testing::AssertionFailure() << "range " << id << " unknown";
        const DownloadItem& item = found->second;
        const auto fail = [&] { return testing::AssertionFailure() << "range " << id << ": "; };
        if (row[7] != NarrowToWide(item.url ? item.url : "")) return fail() << "mirror " << WideToNarrow(row[7]);
        if (row[1] != SizeText(item.start)) return fail() << "start " << WideToNarrow(row[1]);
        if (row[2] != SizeText(item.end) && ParseSize(row[2]) <= item.end)
            return fail() << "end " << WideToNarrow(row[2]) << " for " << item.end;
        const double done = ParseSize(row[3]);
        if (done > item.pos - item.start + kSizeTextError) return fail() << "done " << WideToNarrow(row[3]);
        const double rate = wcstod(row[4].c_str(), nullptr);
        const double engineRate = (item.pos - item.start) * 100.0 / (item.end - item.start + 1);
        if (rate < 0 || rate > 100 || rate > engineRate + 0.01)
            return fail() << "rate " << WideToNarrow(row[4]) << " against " << engineRate;
        const std::wstring now = StatusName(item.status);
        if (row[6] != now && row[6] != StatusName(E_Status_Runing) && row[6] != StatusName(E_Status_Fail))
            return fail() << "status " << WideToNarrow(row[6]) << " now " << WideToNarrow(now);
        if (row[6] == StatusName(E_Status_Runing)) {
            runningSpeed += ParseSize(row[5]);
            ++running;
        }
    }
    if (std::fabs(ParseSize(rows.back()[1]) - runningSpeed) > (running + 1) * kSizeTextError)
        return testing::AssertionFailure() << "total " << WideToNarrow(rows.back()[1]);
    return testing::AssertionSuccess();
}

// The messages of a log file (written as text: "\r\n" ends its lines): each
// starts a line with the elapsed time ("00:00:00 :"), and a message's own
// line breaks come with it.
std::vector<std::string> LoggedMessages(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    const auto startsMessage = [&](size_t at) {
        if (at + 10 > text.size() || (at > 0 && text[at - 1] != '\n')) return false;
        for (size_t i : {0, 1, 3, 4, 6, 7})
            if (!isdigit(static_cast<unsigned char>(text[at + i]))) return false;
        return text[at + 2] == ':' && text[at + 5] == ':' && text.compare(at + 8, 2, " :") == 0;
    };
    std::vector<size_t> starts;
    for (size_t at = 0; at < text.size(); ++at)
        if (startsMessage(at)) starts.push_back(at);
    std::vector<std::string> messages;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        std::string message = text.substr(starts[i] + 10, end - starts[i] - 10);
        if (!message.empty() && message.back() == '\n') message.pop_back();  // the log's own line end
        messages.push_back(message);
    }
    return messages;
}

bool ShowsRangeInProgress(const std::vector<Row>& rows) {
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const double rate = wcstod(rows[i][4].c_str(), nullptr);
        if (rows[i][6] == StatusName(E_Status_Runing) && rate > 0 && rate < 100) return true;
    }
    return false;
}

}  // namespace

TEST(InfoViewDownloadTest, TableFollowsTheEngineRangesAndTheListTheLogDuringARealDownload) {
    // The mirrors that do what they are told send slowly (the fixture sends
    // 16 KiB pieces, so its rate must allow four a second), and the download
    // lasts several of the table's one-second refreshes.
    const std::string net = INSTALL_MIRROR_NET;
    std::string slow = "{";
    for (int host : {6, 7, 8}) slow += (host > 6 ? ",\"" : "\"") + net + "." + std::to_string(host) + "\": {\"rate\": 70000}";
    MirrorScenario scenario(slow + "}");
    DebugConfigFile config("[root]\r\nshow_info_view=1\r\n");
    ScratchFolder scratch(L"infoview_download");
    std::wstring downloads;
    GetDownloadsPath(downloads, ProductConfig::GetProductFolderW(), nullptr, 0);
    RemoveTree(downloads);  // no package from an earlier run: a real download

    // As the installer starts: the debug window, then the log feeding it.
    ASSERT_EQ(ShowInfoViewIfEnabled(), 1);
    InfoViewDlg* view = g_pInfoView.load();
    ASSERT_NE(view, nullptr);
    const HWND info = view->GetWindow();
    const HWND table = GetDlgItem(info, IDC_INFO_SEGMENTS);
    const HWND lines = GetDlgItem(info, IDC_INFO_LOG);
    ASSERT_TRUE(info && table && lines);
    const std::wstring logPath = scratch / L"install.log";
    GetLog()->Init(logPath);
    GetLog()->SetCallback(OnLogLine);

    // The installer's main dialog, and what its Install trigger does.
    real_dialog::Window<Orvane> window;
    ASSERT_NE(window.wnd(), nullptr);
    Orvane& dlg = window.dialog;
    const std::wstring folder = scratch / L"Orvane";
    CreateDirectories(folder);
    dlg.SetInstallFolder(folder);
    g_bDownloadDone = false;
    g_bNoDownloadNeeded = false;
    dlg.eInstall = E_Install_Working;
    dlg.nRenderStage = 0;
    window.StartRenderThread();
    ASSERT_TRUE(dlg.StartWorker(InstallThreadProc));

    // Each table the window shows is checked against the engine's ranges of
    // the moment after.
    const DWORD start = GetTickCount();
    std::vector<Row> shown;
    int refreshes = 0, withRanges = 0;
    std::set<std::wstring> mirrors;
    bool pictured = false;
    while (!dlg.bDownloadFinished && dlg.eInstall == E_Install_Working && GetTickCount() - start < 180000) {
        skin_test::Pump(40);
        std::vector<Row> rows = ReadTable(table);
        if (rows.empty() || rows == shown) continue;
        DownloadProgress engine;
        if (!dlg.CopyDownloadProgress(engine)) continue;
        shown = rows;
        ++refreshes;
        ASSERT_TRUE(RowsMatchEngine(rows, engine)) << "refresh " << refreshes;
        if (rows.size() > 1) ++withRanges;
        for (size_t i = 0; i + 1 < rows.size(); ++i) mirrors.insert(rows[i][7]);
        if (!pictured && ShowsRangeInProgress(rows)) {
            SaveWindowPicture(info, L"infoview_download_table.bmp");
            pictured = true;
        }
    }
    const DWORD took = GetTickCount() - start;
    ASSERT_TRUE(dlg.bDownloadFinished) << "the engine reported the package whole\n" << ReadFileBytes(logPath);
    dlg.bStopWork = true;  // the road ends here: the package pass is not this test's
    EXPECT_TRUE(window.Stop());
    printf("download took %u ms; %d tables, %d with ranges, %zu mirrors\n", static_cast<unsigned>(took), refreshes,
           withRanges, mirrors.size());
    EXPECT_GE(withRanges, 2) << "the table followed the download";
    EXPECT_TRUE(pictured) << "a range was shown in progress";
    EXPECT_GE(mirrors.size(), 2u);
    for (const std::wstring& mirror : mirrors)
        EXPECT_EQ(mirror.find(NarrowToWide("https://" + net + ".")), 0u) << WideToNarrow(mirror);

    // Every line logged since the window opened is in its list (threads
    // hand their lines over in their own order); the engine's threads
    // logged some of them. The released engine ends on a thread of its own
    // and may still log: the log is taken once it has been quiet a second.
    std::string logText = ReadFileBytes(logPath);
    for (DWORD quietSince = GetTickCount(), waited = GetTickCount();
         GetTickCount() - quietSince < 1000 && GetTickCount() - waited < 20000;) {
        skin_test::Pump(100);
        std::string now = ReadFileBytes(logPath);
        if (now != logText) quietSince = GetTickCount();
        logText.swap(now);
    }
    GetLog()->SetCallback(nullptr);
    std::vector<std::string> logged = LoggedMessages(ReadFileBytes(logPath));
    skin_test::Pump(300);  // the lines already handed over are shown
    SendMessageW(info, WM_COMMAND, IDC_INFO_BTN_LOG, 0);
    skin_test::Pump(300);
    EXPECT_TRUE(IsWindowVisible(lines));
    EXPECT_FALSE(IsWindowVisible(table));
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front(), " Init Log OK.");
    logged.erase(logged.begin());  // written before the log had its callback
    std::vector<std::string> listed;
    for (const std::wstring& line : ReadLines(lines)) listed.push_back(WideToNarrow(line));
    EXPECT_GT(listed.size(), 30u);
    std::sort(logged.begin(), logged.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_TRUE(listed == logged) << listed.size() << " listed, " << logged.size() << " logged";
    for (const char* prefix : {"Download_CheckPing", "Download_InitDownload : start download dispatch",
                               "Download_Dispatch Begining.", "Url : "}) {
        const bool listedLine = std::any_of(listed.begin(), listed.end(), [&](const std::string& line) {
            return line.compare(0, strlen(prefix), prefix) == 0;
        });
        EXPECT_TRUE(listedLine) << prefix;
    }
    SaveWindowPicture(info, L"infoview_download_log.bmp");
}
