#include "road_fixture.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "PackageHeader.h"
#include "Registry.h"
#include "ReportTestSupport.h"
#include "SetupApp.h"
#include "SkinTestUtil.h"
#include "Text.h"

using namespace testing_support;

namespace road {

const int kSteeredHosts[5] = {6, 7, 8, 9, 11};

namespace {

constexpr wchar_t kEntryName[] = L"Orvane";

std::wstring MirrorDir() { return FromUnixPath(INSTALL_MIRROR_DIR); }

std::wstring Downloads() {
    std::wstring folder;
    GetDownloadsPath(folder, ProductConfig::GetProductFolderW(), nullptr, 0);
    return folder;
}

std::wstring LogPath() {
    std::wstring path;
    GetDocumentsPath(path, ProductConfig::GetProductFolderW() + L"\\Log\\", L"install.log", 1);
    return path;
}

std::wstring ShellFolder(int (*get)(wchar_t*)) {
    wchar_t buffer[MAX_PATH] = {};
    get(buffer);
    return buffer;
}

std::wstring DisplayName() { return ProductConfig::GetProductNameW(); }

// Everything an install of the product leaves outside its folder.
void RemoveInstallTraces() {
    DeleteUninstallItem(WideToNarrow(kEntryName));
    DeleteFileW(DesktopLink().c_str());
    RemoveTree(ProgramsGroup());
    RemoveTree(CommonProgramsGroup());
    RemoveTree(AppDataFolder());
    RemoveTree(Downloads());
    RemoveRunOnceValue(L"Orvane_Once");
}

// Programs the road started inherit this process's output; left running
// they would hold the test open until their own bound.
void EndStartedPrograms() {
    for (const wchar_t* name : {L"orvane.exe", L"winebrowser.exe", L"urlrecorder.exe"})
        for (int i = 0; i < 8 && KillProcessByName(name, 2000) > 0; ++i) {
        }
}

void ResetProcessFlags() {
    g_nCountdown = 30;
    g_bAutoStarted = false;
    g_bAppLaunched = false;
    g_bInstallPathChanged = false;
    g_bDownloadDone = false;
    g_bNoDownloadNeeded = false;
    g_nDownloadSeconds = 0;
    g_bCreateDesktopIcon = true;
    g_bJoinUxProgram = true;
}

RoadDialog* g_dialog = nullptr;

INT_PTR CALLBACK RoadDialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_dialog ? g_dialog->DialogProc(wnd, message, wParam, lParam) : 0;
}

// The visible dialog window of the thread.
HWND FindDialog(DWORD threadId, DWORD timeoutMs) { return skin_test::FindThreadDialog(threadId, timeoutMs); }

std::string Leaf(const CJsonObject& report, const std::string& path) {
    for (const auto& leaf : report_test::Leaves(report))
        if (leaf.path == path) return leaf.value;
    return {};
}

}  // namespace

// ---- The mirrors ------------------------------------------------------------

void SetAllMirrors(const std::string& settings) {
    std::string json = "{";
    for (int host : kSteeredHosts) {
        if (json.size() > 1) json += ",";
        json += "\"" + std::string(INSTALL_MIRROR_NET) + "." + std::to_string(host) + "\": " + settings;
    }
    json += "}";
    std::ofstream(ToUnixPath(MirrorDir() + L"\\scenario.json"), std::ios::binary | std::ios::trunc) << json;
}

std::vector<MirrorRequest> MirrorRequests(double since) {
    std::vector<MirrorRequest> requests;
    std::istringstream lines(ReadFileBytes(MirrorDir() + L"\\requests.log"));
    std::string line;
    while (std::getline(lines, line)) {
        CJsonObject entry;
        if (!entry.Parse(line)) continue;
        MirrorRequest request;
        int64_t bytes = 0;
        int32_t status = 0;
        entry.Get("t", request.t);
        entry.Get("host", request.host);
        entry.Get("method", request.method);
        entry.Get("range", request.range);
        entry.Get("status", status);
        entry.Get("bytes", bytes);
        request.status = status;
        request.bytes = bytes;
        if (request.t >= since) requests.push_back(request);
    }
    return requests;
}

// ---- The statistics service ---------------------------------------------------

void SetStatsBehaviour(const std::string& behaviourJson) { report_test::SetBehaviour(ROAD_STATS_BASE, behaviourJson); }

std::vector<CJsonObject> ReceivedReports() { return report_test::Requests(ROAD_STATS_BASE); }

std::string InstallStatus(const CJsonObject& report) { return Leaf(report, "install.install_status"); }

std::string ReportValue(const CJsonObject& report, const std::string& path) { return Leaf(report, path); }

CJsonObject WaitForReport(const std::string& status, DWORD timeoutMs) {
    CJsonObject found;
    WaitFor(
        [&] {
            for (const auto& report : ReceivedReports()) {
                if (InstallStatus(report) == status) {
                    found = report;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

// ---- The dialog -------------------------------------------------------------------

RoadDialog::RoadDialog(UINT countdownMs, std::wstring uninstallFolder)
    : countdownMs_(countdownMs), uninstallFolder_(std::move(uninstallFolder)) {}

int RoadDialog::OnInitDialog(HWND wnd) {
    if (uninstallFolder_.empty()) {
        const int result = Orvane::OnInitDialog(wnd);
        // The same timer, at the period the case chose.
        if (countdownMs_) SetTimer(wnd, 1, countdownMs_, nullptr);
        else KillTimer(wnd, 1);
        return result;
    }
    // The uninstall layout: the start-up options never select it, so it is
    // built here as the dialog's initialisation would build it in uninstall
    // mode: the installed uninstaller is the package path, and the header
    // the install left beside it says what was installed.
    CommonDlg::OnInitDialog(wnd);
    SelectLanguage(ProductConfig::GetProductNameW().c_str(), 0);
    const std::wstring uninstaller = PathJoin(uninstallFolder_, L"uninstall.exe");
    EXPECT_EQ(ReadHeaderFile((uninstaller + L".bin").c_str(), packageHeader), S_OK);
    SetPackagePath(uninstaller);
    nLayout = 0;
    CreateControls();
    m_paintThread = std::thread(PaintThreadProc, this);
    return 1;
}

bool RoadDialog::ExitWindowsForRestart(UINT flags, DWORD reason) {
    std::lock_guard<std::mutex> lock(lock_);
    restarts_.push_back({flags, reason});
    return true;  // as if Windows had begun to restart
}

std::vector<RoadDialog::RestartCall> RoadDialog::RestartCalls() {
    std::lock_guard<std::mutex> lock(lock_);
    return restarts_;
}

void RunRoad(RoadDialog& dialog, const std::function<void(HWND)>& drive) {
    ResetProcessFlags();
    g_dialog = &dialog;
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND wnd = FindDialog(uiThread, 15000);
        if (!wnd) {
            ADD_FAILURE() << "the dialog did not open";
            return;
        }
        Sleep(300);
        drive(wnd);
        if (IsWindow(wnd)) PostMessageW(wnd, WM_CLOSE, 0, 0);
    });
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, RoadDialogProc, 0);
    driver.join();
    EXPECT_TRUE(dialog.StopThreads(10000)) << "a thread of the dialog is still running";
    g_dialog = nullptr;
}

bool WaitForPage(RoadDialog& dialog, InstallState page, DWORD timeoutMs) {
    return WaitFor([&] { return dialog.eInstall.load() == page; }, timeoutMs);
}

void ClickDesign(HWND wnd, int x, int y) {
    POINT pt{x, y};
    ClientToScreen(wnd, &pt);
    skin_test::MouseAt(pt.x, pt.y);
    Sleep(150);
    skin_test::MouseAt(pt.x, pt.y, MOUSEEVENTF_LEFTDOWN);
    Sleep(150);
    skin_test::MouseAt(pt.x, pt.y, MOUSEEVENTF_LEFTUP);
    Sleep(300);
}

void PressDesign(HWND wnd, int x, int y) {
    // One after the other in the window's queue: nothing moves the
    // pointer's idea of the press in between.
    const LPARAM at = MAKELPARAM(x, y);
    PostMessageW(wnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(wnd, WM_LBUTTONUP, 0, at);
}

int Picture::Count(COLORREF colour, RECT area, int tolerance) const {
    int n = 0;
    for (int y = std::max<LONG>(area.top, 0); y < area.bottom && y < height; ++y) {
        for (int x = std::max<LONG>(area.left, 0); x < area.right && x < width; ++x) {
            const COLORREF c = pixels[static_cast<size_t>(y) * width + x];
            if (abs(GetRValue(c) - GetRValue(colour)) <= tolerance &&
                abs(GetGValue(c) - GetGValue(colour)) <= tolerance &&
                abs(GetBValue(c) - GetBValue(colour)) <= tolerance)
                ++n;
        }
    }
    return n;
}

Picture Screenshot(HWND wnd, const std::wstring& name) {
    RECT client{};
    GetClientRect(wnd, &client);
    skin_test::Canvas canvas(client.right, client.bottom);
    skin_test::CaptureClient(wnd, canvas);
    const std::wstring folder = BuildPath(L"tests/setup/road_screens");
    CreateDirectoryW(folder.c_str(), nullptr);
    canvas.SaveBmp(folder + L"\\" + name + L".bmp");
    Picture picture;
    picture.width = canvas.width();
    picture.height = canvas.height();
    picture.pixels.reserve(static_cast<size_t>(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) picture.pixels.push_back(canvas.At(x, y));
    return picture;
}

Picture ScreenshotWhen(HWND wnd, const std::wstring& name, const std::function<bool(const Picture&)>& shown,
                       DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    Picture picture = Screenshot(wnd, name);
    while (!shown(picture) && GetTickCount() - start < timeoutMs) {
        Sleep(100);
        picture = Screenshot(wnd, name);
    }
    return picture;
}

// ---- What an install leaves -----------------------------------------------------------

std::string LogText() { return ReadFileBytes(LogPath()); }

std::string EntryValue(const char* name) {
    const std::string key = std::string(kUninstallKey) + WideToNarrow(kEntryName);
    wchar_t value[1024] = {};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, NarrowToWide(key).c_str(), NarrowToWide(name).c_str(), RRF_RT_REG_SZ,
                     nullptr, value, &size) != ERROR_SUCCESS)
        return {};
    return WideToUtf8(value);
}

bool EntryExists() {
    HKEY key = nullptr;
    const std::string path = std::string(kUninstallKey) + WideToNarrow(kEntryName);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring DesktopLink() { return PathJoin(ShellFolder(GetDesktopPath), DisplayName() + L".lnk"); }
std::wstring ProgramsGroup() { return PathJoin(ShellFolder(GetProgramsPath), DisplayName()); }
std::wstring CommonProgramsGroup() { return PathJoin(ShellFolder(GetCommonProgramsPath), DisplayName()); }
std::wstring AppDataFolder() { return PathJoin(ShellFolder(GetAppDataPath), ProductConfig::GetProductFolderW()); }

void ExpectInstalledIn(const std::wstring& folder) {
    SCOPED_TRACE(WideToUtf8(folder));
    for (const wchar_t* name :
         {L"orvane.exe", L"orvane32.dll", L"Data\\readme.txt", L"uninstall.exe", L"uninstall.exe.bin"})
        EXPECT_TRUE(FileExists(PathJoin(folder, name))) << WideToUtf8(name);
    EXPECT_EQ(ReadFileBytes(PathJoin(folder, L"Data\\readme.txt")), "Orvane stand-in data\r\n");
    // The entry Windows lists the product by.
    EXPECT_EQ(EntryValue("InstallLocation"), WideToUtf8(folder));
    EXPECT_EQ(EntryValue("UninstallString"), "\"" + WideToUtf8(PathJoin(folder, L"uninstall.exe")) + "\"");
    EXPECT_EQ(EntryValue("DisplayIcon"), WideToUtf8(PathJoin(folder, L"orvane.exe")));
    EXPECT_EQ(EntryValue("DisplayName").rfind("Orvane (", 0), 0u) << EntryValue("DisplayName");
    // The shortcuts: the desktop's, and the product's group in both Start menus.
    EXPECT_TRUE(FileExists(DesktopLink())) << WideToUtf8(DesktopLink());
    for (const std::wstring& group : {ProgramsGroup(), CommonProgramsGroup()}) {
        EXPECT_TRUE(FileExists(PathJoin(group, DisplayName() + L".lnk"))) << WideToUtf8(group);
        EXPECT_TRUE(FileExists(PathJoin(group, std::wstring(GetLangString(48)) + L".lnk"))) << WideToUtf8(group);
    }
}

std::vector<standins::Record> ProductStarts(const standins::StandInSession& session, const std::wstring& text) {
    std::vector<standins::Record> starts;
    for (const auto& record : session.ReadRecords())
        if (record.Is("orvane", "start") && record.Get("cmdline").find(text) != std::wstring::npos)
            starts.push_back(record);
    return starts;
}

// ---- The fixture ------------------------------------------------------------------------

void RoadTest::SetUp() {
    startedAt_ = UnixNow();
    const std::wstring log = LogPath();
    DeleteFileW(log.c_str());
    GetLog()->Init(log);
    SetAllMirrors("{}");
    report_test::ResetService(ROAD_STATS_BASE);
    RemoveInstallTraces();
    session_ = std::make_unique<standins::StandInSession>(scratch_ / L"standins.log");
    browser_ = std::make_unique<standins::UrlRecorderRegistration>();
    ASSERT_TRUE(browser_->ok());
}

void RoadTest::TearDown() {
    if (HasFailure()) printf("---- install log ----\n%s\n", LogText().c_str());
    SetAllMirrors("{}");
    EndStartedPrograms();
    RemoveInstallTraces();
    browser_.reset();
    session_.reset();
}

void RoadTest::ChooseFolder(RoadDialog& dialog, const std::wstring& folder) {
    SetWindowTextW(dialog.GetEditPathWindow(), folder.c_str());
}

}  // namespace road
