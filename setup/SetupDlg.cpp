#include "SetupDlg.h"

#include <pthread.h>

#include <cmath>

#include "IDownloader.h"
#include "InstallStatsReporter.h"
#include "LangStrings.h"
#include "Log.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "Registry.h"
#include "SetupApp.h"
#include "SystemInfo.h"
#include "Text.h"

// Process-wide values that belong with the dialog.
std::atomic<bool> g_bInstallPathChanged{false};
std::atomic<bool> g_bAppLaunched{false};
std::atomic<bool> g_bAutoStarted{false};
std::atomic<bool> g_bNoDownloadNeeded{false};
std::atomic<bool> g_bDownloadDone{false};
std::atomic<uint32_t> g_dwDownloadStartTick{0};
std::atomic<int32_t> g_nDownloadSeconds{0};
std::atomic<bool> g_bCreateDesktopIcon{true};
std::atomic<bool> g_bJoinUxProgram{true};
std::atomic<int32_t> g_nCountdown{30};
std::thread g_hRenderThread;

namespace {

constexpr UINT_PTR kCountdownTimer = 1;
constexpr UINT kCountdownPeriodMs = 1000;

// Joins the thread when it ends before the tick count reaches deadline,
// answering messages sent to this thread meanwhile (a thread being waited for
// may be sending to the dialog). True when nothing is left running.
bool JoinBefore(std::thread& thread, DWORD deadline) {
    if (!thread.joinable()) return true;
    HANDLE handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    const LONG left = static_cast<LONG>(deadline - GetTickCount());
    if (handle && !WaitAnsweringSentMessages(handle, left > 0 ? static_cast<DWORD>(left) : 0)) return false;
    thread.join();
    return true;
}

// A font of the UI's size formula on a zeroed LOGFONTW.
HFONT MakeFont(int size, int pixelsPerInch, int base, const wchar_t* face) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(size, pixelsPerInch, base);
    // The face itself, cut to the field with its zero: a printf format would
    // read a narrow string for "%s" in this runtime.
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

}  // namespace

SetupDlg::SetupDlg() {
    m_bFixedSize = 1;
    m_nWidth = 622;
    m_nHeight = 405;
    m_nCloseFlags = 0;
}

SetupDlg::~SetupDlg() {
    // Reached only after StopThreads succeeded (the close handler and the end
    // of the run make sure of it): no thread reads these any more.
    ReleaseRenderer();
    {
        std::lock_guard<std::mutex> lock(m_downloadLock);
        delete pDownload;
        pDownload = nullptr;
    }
    if (GetStartupOptions().IsUseSharedMemory()) CloseSharedMemory();
}

int SetupDlg::OnInitDialog(HWND wnd) {
    if (ProcessGuid.empty()) ProcessGuid = MakeGuidString();
    CommonDlg::OnInitDialog(wnd);
    SetWindowTextA(wnd, (ProductConfig::GetProductName() + " Installer").c_str());

    HICON icon = LoadIconW(g_hModuleInstance ? g_hModuleInstance : GetModuleHandleW(nullptr), MAKEINTRESOURCEW(107));
    SendMessageW(wnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(wnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    SetPackagePath(GetStartupOptions().GetPackagePath());
    nLayout = 1;
    SelectLanguage(ProductConfig::GetProductNameW().c_str(), 0);

    // The dialog draws at design size and the picture is scaled afterwards,
    // so its drawing fonts are made for 96 DPI.
    hTitleFont = MakeFont(22, 96, 72, GetUiFontName());
    hTextFont = MakeFont(14, 96, 96, IsJapaneseSystem() ? GetUiFontName() : L"ArialMT");

    // The renderer's geometry, pictures, frame buffers and distance table.
    PrepareRenderer();

    // The header copy: bounded copies of the description's texts.
    const auto& info = GetProductInfo();
    memset(static_cast<void*>(&packageHeader), 0, sizeof(packageHeader));
    if (info) {
        packageHeader.isX64 = info->IsX64() ? 1 : 0;
        PackageHeader::SetFieldText(packageHeader.displayName, info->GetDisplayName());
        PackageHeader::SetFieldText(packageHeader.installFolderName, info->GetInstallFolderName());
        PackageHeader::SetFieldText(packageHeader.productName, info->GetProductName());
        PackageHeader::SetFieldText(packageHeader.version, info->GetVersion());
        PackageHeader::SetFieldText(packageHeader.publisherText, info->GetPublisherText());
    }

    const std::string key = MakeUninstallKeyName(PackageHeader::FieldText(packageHeader.installFolderName));
    int cfgFlag = nCfgFlag;
    GetUninstallItemDword(key, "cfg_flag", cfgFlag);
    nCfgFlag = cfgFlag;
    WriteLog("Read Setup Cfg Flag : %d, root(%s), key(%s).\n", cfgFlag, key.c_str(), "cfg_flag");

    CreateControls();
    ShowVersionLabel();

    m_paintThread = std::thread(PaintThreadProc, this);

    ParseSetupFileName(strOption, strSource);
    std::wstring logPath;
    GetDocumentsPath(logPath, ProductConfig::GetProductFolderW() + L"\\Log\\", L"install.log", 0);
    const std::string utf8LogPath = WideToUtf8(logPath);

    std::vector<std::string> pieces;
    SplitString(pieces, VersionText, " ");
    std::string digits = pieces.empty() ? VersionText : pieces[0];
    ReplaceAll(digits, ".", "");

    InstallStatsParams params;
    params.strUuid = MakeGuidString();
    params.strProductKey = ProductConfig::GetProductKey();
    params.strOption = strOption;
    params.strSource = strSource;
    params.strVersion = digits;
    params.strLogPath = utf8LogPath;
    params.strDomain = ProductConfig::GetMakerDomain();
    params.strClientId = ProductConfig::GetPlatformId(packageHeader.isX64 != 0);
    params.strProductName = ProductConfig::GetProductName();
    params.bIs64Product = packageHeader.isX64 != 0;
    params.bIs64System = Is64BitWindows();
    params.strLangCode = GetLangCode();
    params.strWebStatsUrl = ProductConfig::GetWebStatsUrl();
    pReporter = new InstallStatsReporter(ProductConfig::GetStatsPostUrl(), params);
    m_reportThread = std::thread(StartReportThreadProc, pReporter);

    const StartupOptions& options = GetStartupOptions();
    if (options.IsUseSharedMemory()) {
        if (OpenSharedMemory(options.GetSharedMemoryName())) {
            WriteLog("Create Shared Memory success!\n");
        } else {
            WriteLog("Create Shared Memory fail! %d \n", static_cast<int>(GetLastError()));
        }
    }

    if (IsSilent()) {
        if (options.GetInstallMode() == 0) {
            OnBtnInstall();
        } else if (options.GetInstallMode() == 1) {
            SetupDlg::OnBtnUninstall();
        }
    } else if (options.GetInstallMode() == 0) {
        SetTimer(m_hWnd, kCountdownTimer, kCountdownPeriodMs, nullptr);
    }
    return 1;
}

int SetupDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = CtrlMouseX(lParam), y = CtrlMouseY(lParam);
    if (OnRoadMessage(message, wParam)) return 1;
    if (OnUninstallMessage(message, wParam)) return 1;
    switch (message) {
    case WM_CLOSE:
        return OnClose();
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        CallOnTimer(wParam);
        break;
    case WM_MOUSEMOVE:
        if ((wParam & MK_LBUTTON) || bMouseCaptured) {
            DispatchLButtonDown(x, y);
        } else {
            DispatchLButtonUp(x, y);
        }
        DispatchMouseMove(x, y);
        break;
    case WM_LBUTTONDOWN: {
        OutputDebugStringA("SetupDlg::WM_LBUTTONDOWN\n");
        const int sum = DispatchLButtonDown(x, y);
        if (sum != 0) bMouseCaptured = 1;
        return sum;
    }
    case WM_LBUTTONUP:
        OutputDebugStringA("SetupDlg::WM_LBUTTONUP\n");
        bMouseCaptured = 0;
        return DispatchLButtonUp(x, y);
    default:
        break;
    }
    return CommonDlg::OnMessage(message, wParam, lParam);
}

int SetupDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
    case 1612: OnBtnClose(); return 1;
    case 1613: SetupDlg::OnBtnMinimize(); return 1;
    case 1614: OnBtnInstall(); return 1;
    case 1615: SetupDlg::OnBtnCustom(); return 1;
    case 1616: SetupDlg::OnBtnAccept(); return 1;
    case 1617: SetupDlg::OnBtnLicense(); return 1;
    case 1619: OnBtnBrower(); return 1;
    case 1620: SetupDlg::OnBtnDesktopIcon(); return 1;
    case 1622: SetupDlg::OnBtnJoinUx(); return 1;
    case 1623: SetupDlg::OnBtnUxProgram(); return 1;
    case 1624:
        if (pChkKeepConfig) pChkKeepConfig->SetCheck(pChkKeepConfig->GetCheck() ? 0 : 1);
        return 1;
    case 1625: SetupDlg::OnBtnUninstall(); return 1;
    case 1626: OnBtnClose(); return 1;
    case 1627: OnBtnClose(); return 1;
    default:
        return CommonDlg::OnCommand(wParam, lParam);
    }
}

std::string SetupDlg::MakeUninstallKeyName(std::string base) {
    if (ProductConfig::GetX64NamingMode() == 2 && packageHeader.isX64) base += " (x64)";
    return base;
}

std::string SetupDlg::MakeDisplayName(std::string base) {
    if (ProductConfig::GetX64NamingMode() == 2 && packageHeader.isX64) base += " (x64)";
    return base;
}

std::string SetupDlg::GetProductName() { return PackageHeader::FieldText(packageHeader.productName); }
void SetupDlg::QuitRunningApp(std::wstring, std::wstring) {}
bool SetupDlg::IsRestartExitCode(int) { return false; }
bool SetupDlg::IsArchitectureMatch() { return true; }
bool SetupDlg::ExitWindowsForRestart(UINT flags, DWORD reason) { return ExitWindowsEx(flags, reason) != FALSE; }
void SetupDlg::RestartWindows() {
    RestartSystem([this](UINT flags, DWORD reason) { return ExitWindowsForRestart(flags, reason) ? TRUE : FALSE; });
}
const wchar_t* SetupDlg::GetUiFontName() { return L"\u5fae\u8f6f\u96c5\u9ed1"; }

std::wstring SetupDlg::GetPackagePath() {
    std::lock_guard<std::mutex> lock(m_textLock);
    return strPackagePath;
}

void SetupDlg::SetPackagePath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_textLock);
    strPackagePath = path;
}

std::wstring SetupDlg::GetInstallFolder() {
    std::lock_guard<std::mutex> lock(m_textLock);
    return strInstallFolder;
}

void SetupDlg::SetInstallFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(m_textLock);
    strInstallFolder = folder;
}

void SetupDlg::RequestStop() {
    bExitThreads = 1;
    bStopWork = true;
    if (pReporter) pReporter->CancelStartReport();
    // The worker may be waiting on the engine: ask it to stop.
    std::lock_guard<std::mutex> lock(m_downloadLock);
    if (pDownload) pDownload->StopDownload();
}

bool SetupDlg::StopThreads(DWORD timeoutMs) {
    const DWORD deadline = GetTickCount() + timeoutMs;
    RequestStop();
    bool stopped = JoinBefore(m_paintThread, deadline);
    stopped = JoinBefore(g_hRenderThread, deadline) && stopped;
    stopped = JoinBefore(m_reportThread, deadline) && stopped;
    stopped = JoinWorker(deadline) && stopped;
    return stopped;
}

void SetupDlg::DetachThreads() {
    for (std::thread* thread : {&m_paintThread, &g_hRenderThread, &m_reportThread}) {
        if (thread->joinable()) thread->detach();
    }
    std::lock_guard<std::mutex> lock(m_workerLock);
    if (m_workerThread.joinable()) m_workerThread.detach();
}

bool SetupDlg::JoinWorker(DWORD deadline) {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(m_workerLock);
        // A join further down this thread's stack, or on another thread,
        // holds the worker: it is not ended yet.
        if (bWorkerJoining) return false;
        if (!m_workerThread.joinable()) return true;
        worker = std::move(m_workerThread);
        bWorkerJoining = true;
    }
    const bool ended = JoinBefore(worker, deadline);
    std::lock_guard<std::mutex> lock(m_workerLock);
    if (!ended) m_workerThread = std::move(worker);
    bWorkerJoining = false;
    return ended;
}

bool SetupDlg::StartWorker(unsigned (*proc)(SetupDlg*)) {
    bool previous = false;
    {
        std::lock_guard<std::mutex> lock(m_workerLock);
        if (bWorkerJoining) {
            WriteLog("Worker being joined; not started.");
            return false;
        }
        previous = m_workerThread.joinable();
    }
    // A retry after a failed download: the previous worker has reported
    // its failure and is on its way out.
    if (previous && !JoinWorker(GetTickCount() + 5000)) {
        WriteLog("Previous worker still running; not started again.");
        return false;
    }
    std::lock_guard<std::mutex> lock(m_workerLock);
    // Another start may have come in while the lock was let go.
    if (bWorkerJoining || m_workerThread.joinable()) {
        WriteLog("Worker being joined; not started.");
        return false;
    }
    // So may a close: its stop must not be undone by a road that begins
    // after it.
    if (bClosing || bExitThreads) {
        WriteLog("Worker not started: the dialog is closing.");
        return false;
    }
    bStopWork = false;
    ++nWorkersStarted;
    m_workerThread = std::thread(proc, this);
    return true;
}

bool SetupDlg::CopyDownloadProgress(DownloadProgress& out) {
    std::lock_guard<std::mutex> lock(m_downloadLock);
    if (!pDownload) return false;
    pDownload->GetProgress(&out);
    return true;
}
