// Whole installs started by the countdown, and closes of the window, driven
// by window messages only (no pointer), so they run beside other tests.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "IDownloader.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "ReportTestSupport.h"
#include "SystemInfo.h"
#include "Text.h"
#include "road_fixture.h"

using namespace road;
using testing_support::FileExists;
using testing_support::FolderExists;

namespace {

// The countdown ticks this fast: 31 ticks start the install in about 1.3 s.
constexpr UINT kFastCountdownMs = 40;
// A whole road with the product's own steps; a failed one ends sooner.
constexpr DWORD kRoadMs = 240000;
// A page the paint thread has switched to is on the screen well within this,
// however busy the machine.
constexpr DWORD kPageDrawnMs = 20000;

std::wstring EditText(HWND edit) {
    wchar_t text[600] = {};
    GetWindowTextW(edit, text, 600);
    return text;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

class RoadCountdownTest : public RoadTest {
protected:
    void TearDown() override {
        if (!defaultFolder_.empty()) testing_support::RemoveTree(defaultFolder_);
        RoadTest::TearDown();
    }
    std::wstring defaultFolder_;
};

// Nobody touches anything: the countdown starts the install into the default
// folder, the finished page shows, and its button starts the product and
// closes the dialog. The statistics service receives the start report and a
// finish report of the success.
TEST_F(RoadCountdownTest, TheCountdownInstallsAndTheFinishedPageStartsTheProduct) {
    // The pointer far from where the dialog opens: a test before this one
    // may have left it on the Install button, and the finished page's button
    // would then show its hover colour.
    SetCursorPos(5, 5);
    RoadDialog dialog(kFastCountdownMs);
    DWORD pressed = 0, ended = 0;
    std::string windowNumber;
    RunRoad(dialog, [&](HWND wnd) {
        RECT frame{};
        GetWindowRect(wnd, &frame);
        POINT pointer{};
        GetCursorPos(&pointer);
        EXPECT_FALSE(PtInRect(&frame, pointer)) << "the pointer is off the dialog";
        windowNumber = std::to_string(reinterpret_cast<INT_PTR>(wnd));
        defaultFolder_ = EditText(dialog.GetEditPathWindow());
        ASSERT_FALSE(defaultFolder_.empty());
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        // The finished page as the user sees it: the wide text button that
        // starts the product, close and minimise; no ready picture.
        ASSERT_TRUE(WaitFor([&] { return dialog.pBtnInstall->IsVisible(); }, 5000));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), GetLangString(9));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Start Orvane");
        EXPECT_TRUE(dialog.pBtnClose->IsVisible());
        EXPECT_TRUE(dialog.pBtnMinimize->IsVisible());
        EXPECT_FALSE(dialog.pStaticPicture->IsVisible());
        const Picture shot = ScreenshotWhen(wnd, L"finished_countdown", [](const Picture& p) {
            return p.Count(RGB(0x00, 0x53, 0xBF), RECT{91, 354, 531, 394}, 24) > 80;
        }, kPageDrawnMs);
        // The button's text in its colour, nothing of the ready page's band.
        EXPECT_GT(shot.Count(RGB(0x00, 0x53, 0xBF), RECT{91, 354, 531, 394}, 24), 80) << "Start text";
        EXPECT_EQ(shot.Count(RGB(0x47, 0x47, 0xA7), RECT{191, 354, 193, 394}, 8), 0) << "the Install button's border";
        // The finish picture: the white tick in its ring on the product's
        // colour, above the light band.
        EXPECT_GT(shot.Count(RGB(255, 255, 255), RECT{237, 104, 387, 254}), 2000) << "the tick";
        EXPECT_GT(shot.Count(RGB(74, 71, 181), RECT{0, 0, 100, 100}, 6), 5000) << "the picture's colour";
        EXPECT_GT(shot.Count(RGB(0xF7, 0xFB, 0xFD), RECT{0, 338, 622, 405}), 20000) << "the band";

        ExpectInstalledIn(defaultFolder_);
        pressed = GetTickCount();
        PressDesign(wnd, kInstallButton.x, kInstallButton.y);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000)) << "the window hides at once";
    });
    ended = GetTickCount();
    EXPECT_LT(ended - pressed, 15000u) << "the dialog ends within its close pause";

    // The product's own install step got the dialog's live window, and the
    // finished page's button started the product in install mode.
    const auto installs = ProductStarts(*session_, L"/install /XI:");
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_NE(installs[0].Get("cmdline").find(L"/XI:" + NarrowToWide(windowNumber)), std::wstring::npos)
        << WideToUtf8(installs[0].Get("cmdline"));
    bool live = false;
    for (const auto& record : session_->ReadRecords())
        if (record.Is("orvane", "xi") && record.Get("value") == NarrowToWide(windowNumber)) live = record.Get("live") == L"1";
    EXPECT_TRUE(live) << "the window handle named a live window";
    const auto started = session_->WaitForRecord(
        [](const standins::Record& r) { return r.Is("orvane", "start") && r.Get("cmdline").find(L" --installmode") != std::wstring::npos; },
        20000);
    EXPECT_FALSE(started.Get("cmdline").empty()) << "the product was started from the finished page";
    // A new install opens the thank-you page.
    const auto page = session_->WaitForRecord([](const standins::Record& r) { return r.Is("url", "open"); }, 10000);
    EXPECT_NE(page.Get("url").find(L"thankyou"), std::wstring::npos) << WideToUtf8(page.Get("url"));

    const std::string log = LogText();
    for (const char* line : {"Download Finish Result : succeed(5).", "Run Install Params: /install /XI:",
                             "Finish(AfterInstall)", "Run Zov!!! ", "Finish and Close Setup!"})
        EXPECT_TRUE(Contains(log, line)) << line;

    // The reports as the statistics service received them.
    const CJsonObject start = WaitForReport("start", 10000);
    const CJsonObject finish = WaitForReport("success", 10000);
    ASSERT_FALSE(start.IsEmpty());
    ASSERT_FALSE(finish.IsEmpty());
    for (const CJsonObject* report : {&start, &finish}) {
        EXPECT_EQ(report_test::Text(report_test::Part(*report, "index"), "text"), "common_soft_install");
        // The 64-bit product on a 64-bit Windows, as the harness's is.
        EXPECT_EQ(ReportValue(*report, "app.client_id"), Is64BitWindows() ? "204" : "203");
        EXPECT_EQ(ReportValue(*report, "app.app_name"), "Orvane");
    }
    EXPECT_EQ(ReportValue(start, "install.uuid"), ReportValue(finish, "install.uuid"));
    EXPECT_EQ(ReportValue(finish, "install.auto_install"), "true");
    EXPECT_EQ(ReportValue(finish, "install.run_app"), "true");
    EXPECT_EQ(ReportValue(finish, "install.show_thankyou"), "true");
    EXPECT_TRUE(report_test::Part(finish, "upload_file").IsEmpty()) << "a success sends no log";
    EXPECT_EQ(ReceivedReports().size(), 2u);
}

// Every mirror refuses: the road ends on the failed page, and closing it
// there reports the failed download with the install log attached.
TEST_F(RoadTest, AllMirrorsDownEndOnTheFailedPageAndReportTheFailure) {
    SetAllMirrors("{\"dead\": true}");
    RoadDialog dialog(kFastCountdownMs);
    RunRoad(dialog, [&](HWND wnd) {
        ChooseFolder(dialog, Folder(L"Orvane"));
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Failed, kRoadMs)) << "page " << dialog.eInstall.load();
        ASSERT_TRUE(WaitFor([&] { return dialog.pBtnInstall->IsVisible(); }, 5000));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Try Again");
        EXPECT_TRUE(dialog.pBtnClose->IsVisible());
        const Picture shot = ScreenshotWhen(wnd, L"failed_page", [](const Picture& p) {
            return p.Count(RGB(0x47, 0x47, 0xA7), RECT{191, 354, 193, 394}, 8) > 30;
        });
        EXPECT_GT(shot.Count(RGB(0x47, 0x47, 0xA7), RECT{191, 354, 193, 394}, 8), 30) << "the button's border";
        PressDesign(wnd, kCloseButton.x, kCloseButton.y);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000));
    });
    EXPECT_FALSE(FileExists(Folder(L"Orvane\\orvane.exe")));
    EXPECT_FALSE(EntryExists());
    EXPECT_TRUE(Contains(LogText(), "Download Failed. Show retry."));

    const CJsonObject finish = WaitForReport("downLoad_fail", 10000);
    ASSERT_FALSE(finish.IsEmpty()) << "no failure report";
    EXPECT_EQ(report_test::Text(report_test::Part(finish, "upload_type"), "text"), "downLoad_fail");
    const CJsonObject log = report_test::Part(finish, "upload_file");
    EXPECT_TRUE(Contains(report_test::Text(log, "text"), "Download Failed. Show retry.")) << "the log goes along";
    EXPECT_EQ(ReportValue(finish, "install.auto_install"), "true");
    EXPECT_EQ(ReportValue(finish, "install.run_app"), "false");
}

// The window is closed while bytes flow from throttled mirrors and the
// statistics service is slow to take the finish report: the window hides at
// once, no request reaches a mirror afterwards, nothing is installed, the
// dialog ends within its bound with every thread of the road stopped, and the
// finish report tells of the cancelled download.
TEST_F(RoadTest, ClosingDuringTheDownloadStopsTheRoad) {
    // About 280 KB/s from the four mirrors together: the package takes some seconds.
    SetAllMirrors("{\"host_rate\": 70000}");
    RoadDialog dialog(kFastCountdownMs);
    double closedAt = 0;
    DWORD closeTick = 0;
    uint64_t writtenAtClose = 0;
    RunRoad(dialog, [&](HWND wnd) {
        ChooseFolder(dialog, Folder(L"Orvane"));
        ASSERT_FALSE(WaitForReport("start", 15000).IsEmpty());
        SetStatsBehaviour("{\"mode\": \"stall\", \"stall_ms\": 7000}");
        // Bytes are arriving: the download page shows a percent.
        ASSERT_TRUE(WaitFor(
            [&] {
                DownloadProgress progress;
                return dialog.CopyDownloadProgress(progress) && progress.written > 200000;
            },
            60000));
        ASSERT_EQ(dialog.eInstall.load(), E_Install_Working);
        DownloadProgress progress;
        dialog.CopyDownloadProgress(progress);
        writtenAtClose = progress.written;
        closeTick = GetTickCount();
        PostMessageW(wnd, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 2000)) << "the window hides at once";
        closedAt = UnixNow();
    });
    const DWORD closing = GetTickCount() - closeTick;
    EXPECT_LT(closing, 16000u) << "the close pause and the report's bound";
    ASSERT_GT(closedAt, 0);
    // The close handler joined the worker, the engine's waits and the
    // painters within its pause.
    EXPECT_FALSE(Contains(LogText(), "OnClose: a thread is still running."));

    // Whatever the engine had in flight is logged when it ends; nothing new
    // may arrive after the close.
    Sleep(3000);
    int after = 0;
    std::string late;
    for (const auto& request : MirrorRequests(closedAt + 0.5)) {
        ++after;
        late += request.host + " " + request.method + " " + request.range + "\n";
    }
    EXPECT_EQ(after, 0) << late;
    // And what was in flight was cut off: the mirrors sent nowhere near the
    // whole package.
    long long served = 0;
    for (const auto& request : MirrorRequests(startedAt_))
        if (request.method == "GET" && request.status == 206) served += request.bytes;
    EXPECT_LT(served, 1000000) << "bytes served in all, " << writtenAtClose << " of them before the close";
    EXPECT_FALSE(FileExists(Folder(L"Orvane\\orvane.exe")));
    EXPECT_FALSE(EntryExists());
    const std::string log = LogText();
    EXPECT_FALSE(Contains(log, "Begin install...")) << "the package pass never began";

    SetStatsBehaviour("{}");
    const CJsonObject finish = WaitForReport("donwload_cancel", 10000);
    EXPECT_FALSE(finish.IsEmpty()) << "the finish report tells of the cancel";
}
