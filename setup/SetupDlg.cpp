#include "SetupDlg.h"

#include "IDownloader.h"

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

SetupDlg::SetupDlg() {
    m_bFixedSize = 1;
    m_nWidth = 622;
    m_nHeight = 405;
    m_nCloseFlags = 0;
}

SetupDlg::~SetupDlg() = default;

// Until the pages exist the dialog ends itself right after it opens, so a
// run starts, logs and exits in order.
int SetupDlg::OnInitDialog(HWND wnd) {
    CommonDlg::OnInitDialog(wnd);
    PostMessageW(wnd, WM_CLOSE, 0, 0);
    return 1;
}

int SetupDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) return OnClose();
    return CommonDlg::OnMessage(message, wParam, lParam);
}

int SetupDlg::OnCommand(WPARAM wParam, LPARAM lParam) { return CommonDlg::OnCommand(wParam, lParam); }

std::string SetupDlg::MakeUninstallKeyName(std::string base) { return base; }
std::string SetupDlg::MakeDisplayName(std::string base) { return base; }
std::string SetupDlg::GetProductName() { return PackageHeader::FieldText(packageHeader.productName); }
void SetupDlg::QuitRunningApp(std::wstring, std::wstring) {}
bool SetupDlg::IsRestartExitCode(int) { return false; }
bool SetupDlg::IsArchitectureMatch() { return true; }
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

bool SetupDlg::StopThreads(DWORD) { return true; }

bool SetupDlg::CopyDownloadProgress(DownloadProgress& out) {
    std::lock_guard<std::mutex> lock(m_downloadLock);
    if (!pDownload) return false;
    pDownload->GetProgress(&out);
    return true;
}
