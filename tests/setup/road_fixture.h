// Whole installs through the product's own dialog, run modally in the test
// process on the installer's resources: the countdown or a press starts the
// road, the download comes from the loopback mirrors whose behaviour the
// scenario file sets, the product's steps run the stand-in product, the
// statistics reports reach a loopback statistics service (the program is
// built with the product definition of a local-mirrors installer), and the
// test looks at what a user would: the page, the window's picture, the
// files, the registry, the shortcuts, the mirrors' request logs and the
// reports received.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JsonObject.h"
#include "Orvane.h"
#include "StandInControl.h"
#include "TestSupport.h"

namespace road {

// ---- The mirrors --------------------------------------------------------
// The hosts the program's manifest names: the fixture's own server on these
// last address bytes, its behaviour read from the scenario file per request.
extern const int kSteeredHosts[5];
// Writes the scenario file: the same settings (a JSON object text) for every
// host of the manifest; "{}" makes them all good.
void SetAllMirrors(const std::string& settings);

// One request as the mirrors' own server logged it when it ended; t is the
// moment it arrived, in Unix seconds.
struct MirrorRequest {
    double t = 0;
    std::string host, method, range;
    int status = 0;
    long long bytes = 0;
};
// The requests that arrived at or after since.
std::vector<MirrorRequest> MirrorRequests(double since);
using testing_support::UnixNow;

// ---- The statistics service ----------------------------------------------
// How the service answers from now on (report_services.py's behaviour).
void SetStatsBehaviour(const std::string& behaviourJson);
// What the service received, the reports in arrival order.
std::vector<CJsonObject> ReceivedReports();
// A report's install status ("start" for the start report).
std::string InstallStatus(const CJsonObject& report);
// The value of a leaf of the report's JSON ("install.auto_install").
std::string ReportValue(const CJsonObject& report, const std::string& path);
// Waits (at most timeoutMs) until the service holds a report with that
// status; the report, or an empty object.
CJsonObject WaitForReport(const std::string& status, DWORD timeoutMs);

// ---- The dialog ------------------------------------------------------------
// The product dialog with the two things a test must change: the countdown's
// period, and the last call of a restart, which would restart the machine.
class RoadDialog : public Orvane {
public:
    struct RestartCall {
        UINT flags;
        DWORD reason;
    };

    // countdownMs: the countdown's period; 0 stops it at once, so only a
    // press starts the install. uninstallFolder: the dialog opens on the
    // uninstall layout for the product installed in that folder.
    explicit RoadDialog(UINT countdownMs = 0, std::wstring uninstallFolder = L"");

    int OnInitDialog(HWND wnd) override;
    bool ExitWindowsForRestart(UINT flags, DWORD reason) override;

    std::vector<RestartCall> RestartCalls();

private:
    UINT countdownMs_;
    std::wstring uninstallFolder_;
    std::mutex lock_;
    std::vector<RestartCall> restarts_;
};

// Runs the dialog modally on this thread while drive(window) runs on another;
// when drive returns and the window is still there it is sent WM_CLOSE. After
// the dialog has ended, its threads must all have stopped within 10 s.
void RunRoad(RoadDialog& dialog, const std::function<void(HWND)>& drive);

using testing_support::WaitFor;
bool WaitForPage(RoadDialog& dialog, InstallState page, DWORD timeoutMs);

// A press of the left button at a design point of the dialog: with the real
// pointer (the case runs alone on the display), or as the window's own mouse
// messages (no pointer, so cases beside others can press too).
void ClickDesign(HWND wnd, int x, int y);
void PressDesign(HWND wnd, int x, int y);
// Design points of the controls pressed.
inline constexpr POINT kInstallButton{311, 374};  // Install, Try Again, Start, Restart Now
inline constexpr POINT kCloseButton{608, 10};
inline constexpr POINT kUninstallButton{452, 372};
inline constexpr POINT kKeepConfigBox{19, 371};
inline constexpr POINT kUninstallFinishButton{562, 372};

// The window's picture now, kept as tests/setup/road_screens/<name>.bmp in
// the build tree; pixels of exactly colour (0x00BBGGRR) inside a design
// rectangle.
struct Picture {
    std::vector<COLORREF> pixels;
    int width = 0, height = 0;
    int Count(COLORREF colour, RECT area, int tolerance = 0) const;
};
Picture Screenshot(HWND wnd, const std::wstring& name);
// Screenshots until shown(picture) holds or timeoutMs has passed, and gives
// the last: a page is checked once the paint thread has drawn it.
Picture ScreenshotWhen(HWND wnd, const std::wstring& name, const std::function<bool(const Picture&)>& shown,
                       DWORD timeoutMs = 5000);

// ---- What an install leaves -------------------------------------------------
std::string LogText();  // the install log of this case
std::string EntryValue(const char* name);  // a value of the product's uninstall entry; empty when missing
bool EntryExists();
std::wstring DesktopLink();        // the product's desktop shortcut
std::wstring ProgramsGroup();      // the product's folder of the user's Start menu
std::wstring CommonProgramsGroup();
std::wstring AppDataFolder();      // the product's application-data folder
void ExpectInstalledIn(const std::wstring& folder);

// The stand-in product's starts whose command line holds text.
std::vector<standins::Record> ProductStarts(const standins::StandInSession& session, const std::wstring& text);

// Every case: a fresh log, mirrors all good, a reset statistics service, no
// installation left by another case, the stand-ins recording and the URL
// recorder standing in for the browser; what a case made is removed after it.
class RoadTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A folder of the scratch area the install is told to use.
    std::wstring Folder(const std::wstring& name) const { return scratch_ / name; }
    // Types the folder into the folder box of the ready page.
    static void ChooseFolder(RoadDialog& dialog, const std::wstring& folder);

    testing_support::ScratchFolder scratch_{L"road"};
    double startedAt_ = 0;  // UnixNow() when the case began
    std::unique_ptr<standins::StandInSession> session_;
    std::unique_ptr<standins::UrlRecorderRegistration> browser_;
};

}  // namespace road
