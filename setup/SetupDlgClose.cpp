#include "SetupDlg.h"

#include <shlwapi.h>

#include <chrono>
#include <cstring>

#include "InstallStatsReporter.h"
#include "LangStrings.h"
#include "Log.h"
#include "Process.h"
#include "ProductConfig.h"
#include "SetupApp.h"
#include "Text.h"
#include "UnpackPackage.h"

namespace {

constexpr UINT_PTR kCountdownTimer = 1;
constexpr int kReportTries = 10;
constexpr DWORD kReportRetryMs = 500;
// The hidden window's pause before the dialog ends, in whole seconds.
constexpr DWORD kClosePauseMs = 5000;

constexpr DWORD kPauseSliceMs = 50;

// Up to ten tries with a pause after each failure. stop() ends the tries and
// cuts a pause short; no try begins once budgetMs have passed.
template <typename Send, typename Stop>
void SendWithRetries(Send send, Stop stop, DWORD budgetMs) {
    const DWORD start = GetTickCount();
    const auto spent = [start] { return GetTickCount() - start; };
    for (int attempt = 0; attempt < kReportTries; ++attempt) {
        if (stop() || spent() >= budgetMs) return;
        if (send()) return;
        for (DWORD paused = 0; paused < kReportRetryMs && !stop(); paused += kPauseSliceMs) Sleep(kPauseSliceMs);
    }
}

}  // namespace

void SetupDlg::OnTimer(UINT_PTR id) {
    if (id == kCountdownTimer) OnAutoInstallTimer();
}

int SetupDlg::OnAutoInstallTimer() {
    if (pStaticStatus) {
        std::wstring text = GetLangString(50);
        ReplaceAll(text, std::wstring(L"XXX"), std::to_wstring(static_cast<int>(g_nCountdown)));
        pStaticStatus->SetText(text.c_str());
    }
    const int left = --g_nCountdown;
    if (left >= 0) return left;
    KillTimer(m_hWnd, kCountdownTimer);
    g_bAutoStarted = true;
    OnBtnInstall();
    return left;
}

unsigned StartReportThreadProc(InstallStatsReporter* reporter) {
    // A close cancels the start report, so this thread ends with the others.
    if (reporter)
        SendWithRetries([&] { return reporter->SendStartReport(); },
                        [&] { return reporter->IsStartReportCancelled(); }, INFINITE);
    return 0;
}

int SetupDlg::OnClose() {
    // The worker's synchronous close and the system's may arrive while the
    // first close still pauses: the first one does the work.
    if (bClosing.exchange(true)) return 0;
    ShowWindow(m_hWnd, SW_HIDE);
    // The road stops before the report goes out, which may take seconds: a
    // download must not run on, nor an install begin, behind the hidden
    // window the user has closed.
    RequestStop();
    // A road's box still up would keep its modal loop, and with it the
    // dialog, running past the end below.
    CloseRoadBox();
    SendFinishReport();
    // The pause gives the threads time to end; they are joined within it so
    // that the object outlives none of them.
    const DWORD start = GetTickCount();
    if (!StopThreads(kClosePauseMs)) WriteLog("OnClose: a thread is still running.");
    const DWORD spent = GetTickCount() - start;
    if (spent < kClosePauseMs) Sleep(kClosePauseMs - spent);
    SetUnhandledExceptionFilter(nullptr);
    EndDialog(m_hWnd, 0);
    return 0;
}

int SetupDlg::SendFinishReport() {
    if (!pReporter) return 0;
    InstallOptionFlags flags;
    flags.bDownloadDone = g_bDownloadDone;
    flags.bAutoInstall = g_bAutoStarted;
    flags.bRunApp = g_bAppLaunched;
    flags.bChangeInstallPath = g_bInstallPathChanged;
    flags.bAddPlan = g_bJoinUxProgram;
    flags.bCreateDesktop = g_bCreateDesktopIcon;
    // Once the report's own budget is spent a try fails at once: the pauses
    // between such tries would only hold the close up.
    const DWORD budgetMs = static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(InstallStatsReporter::kFinishReportBudget).count());
    SendWithRetries([&] { return pReporter->SendFinishReport(flags); }, [] { return false; }, budgetMs);
    return 0;
}

bool SetupDlg::OpenSharedMemory(std::wstring name) {
    WriteLog("Create Shared Memory fail! -- %s \n", WideToNarrow(name).c_str());
    if (hSharedMemory) return false;
    hSharedMemory.reset(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
    if (!hSharedMemory) {
        WriteLog("Create Shared Memory fail! ---1 %d \n", static_cast<int>(GetLastError()));
        return false;
    }
    pSharedView.reset(MapViewOfFile(hSharedMemory.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!pSharedView) {
        WriteLog("Create Shared Memory fail! ---2 %d \n", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

void SetupDlg::WriteSharedMemory(const char* text) {
    if (!pSharedView || !text) return;
    // Never past the view: a mapping smaller than the text gets it cut, still
    // terminated.
    char* view = static_cast<char*>(pSharedView.get());
    MEMORY_BASIC_INFORMATION region{};
    size_t room = 0;
    if (VirtualQuery(view, &region, sizeof(region))) {
        room = region.RegionSize - (view - static_cast<char*>(region.BaseAddress));
    }
    if (room == 0) return;
    const size_t length = strnlen(text, room - 1);
    memcpy(view, text, length);
    view[length] = '\0';
}

void SetupDlg::CloseSharedMemory() {
    pSharedView.reset();
    hSharedMemory.reset();
}

void SetupDlg::RunProductApp(std::wstring arguments) {
    wchar_t path[MAX_PATH] = {};
    const wchar_t* folder = GetInstallPath();
    lstrcpynW(path, folder ? folder : L"", MAX_PATH);
    const std::wstring exe =
        packageHeader.isX64 ? ProductConfig::GetMainExeNameX64W() : ProductConfig::GetMainExeNameW();
    PathAppendW(path, exe.c_str());
    WriteLog("Run Zov!!! %s", WideToNarrow(std::wstring(path)).c_str());
    RunUnelevated(path, arguments, L"", SW_SHOWNORMAL);
    WriteLog("Finish and Close Setup!");
}
