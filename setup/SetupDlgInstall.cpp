// The install worker's entry points: the thread procedure, DoInstall over
// the install road (InstallRoad.h), the engine's and the unpack step's
// callbacks, which keep the dialog's figures, and the unpack step itself.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "IDownloader.h"
#include "InstallFolder.h"
#include "InstallRoad.h"
#include "Log.h"
#include "Process.h"
#include "ProductConfig.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "Text.h"
#include "UnpackPackage.h"

namespace {

// The longest path the road writes below the installation folder.
size_t LongestPathBelowInstallFolder() {
    size_t longest = wcslen(kUninstallerHeaderName);
    for (const std::wstring& name : ProductConfig::GetHelperFileNames())
        longest = std::max(longest, wcslen(kSetAsideFolderName) + 1 + name.size());
    longest = std::max({longest, ProductConfig::GetMainExeNameW().size(), ProductConfig::GetMainExeNameX64W().size()});
    return longest;
}

}  // namespace

bool InstallFolderFits(const std::wstring& folder) {
    return !folder.empty() && folder.size() + 1 + LongestPathBelowInstallFolder() < MAX_PATH;
}

unsigned InstallThreadProc(SetupDlg* dlg) {
    if (!dlg) return static_cast<unsigned>(-1);
    dlg->DoInstall();
    return 0;
}

void KillProductProcesses() {
    for (const auto& name : ProductConfig::GetProductProcessNames()) KillProcessByName(name);
}

void SetupDlg::LoadPackageHeader() { ReadPackageHeader(GetPackagePath().c_str(), packageHeader); }

int SetupDlg::OnDownloadEvent(int event, unsigned value, long extra) {
    switch (event) {
        case E_Download_Progress: {
            // The engine sends the low 32 bits of the figures; a size that
            // does not read as a positive number gives no percent.
            const int32_t size = static_cast<int32_t>(extra);
            if (size <= 0) break;
            const double percent = std::clamp(value * 100.0 / size, 0.0, 100.0);
            nDownloadPercent = static_cast<int>(percent);
            char text[260];
            snprintf(text, sizeof(text), "Current Download Pos : %d.\n", nDownloadPercent.load());
            OutputDebugStringA(text);
            break;
        }
        case E_Download_Fail:
            g_bDownloadDone = true;
            fputs("\nDownload Failed!!\n", stdout);
            break;
        case E_Download_Succeed:
            fputs("\nDownload Finish!!\n", stdout);
            bDownloadFinished = true;
            if (extra == 1) g_bNoDownloadNeeded = true;
            g_bDownloadDone = true;
            break;
        default:
            break;
    }
    return 1;
}

int SetupDlg::OnInstallProgress(int event, unsigned value, long) {
    switch (event) {
        case E_Unpack_Start:
            nInstallProgress = 0;
            break;
        case E_Unpack_Succeed:
            nInstallProgress = 1000;
            bFinishButtonEnabled = 1;
            Sleep(200);
            break;
        case E_Unpack_Fail:
            // Nobody answers a box in a silent run. The unpack step calls
            // from the worker: the window's thread opens the box.
            if (!IsSilent())
                OpenBoxOnWindowThread([this] { return MessageBoxW(m_hWnd, L"Install Failed!", L"ERROR", MB_OK); },
                                      IDCANCEL);
            bFinishButtonEnabled = 0;
            Sleep(200);
            break;
        case 3:
            if (value <= 1000) nInstallProgress = static_cast<int>(value);
            break;
        case E_Unpack_Progress:
            // The archiver's percent; a total it does not know gives MiB
            // counts, which must not run the bar past its end.
            nInstallProgress = std::clamp(static_cast<int>(std::min<unsigned>(value, 100)) * 10, 0, 1000);
            break;
        default:
            break;
    }
    if (GetStartupOptions().IsUseSharedMemory() == 1) {
        char text[32];
        snprintf(text, sizeof(text), "pos:%d", nInstallProgress.load());
        WriteSharedMemory(text);
    }
    return 1;
}

int SetupDlg::InstallFile(std::wstring, std::wstring installFolder) {
    if (installFolder.size() >= MAX_PATH) {
        WriteLog("Install File : folder too long (%u characters).\n", static_cast<unsigned>(installFolder.size()));
        // The same ending as a failed extraction: the box, no finish button.
        OnInstallProgress(E_Unpack_Fail, DirWriteError, 0);
        return E_FAIL;
    }
    wchar_t folder[MAX_PATH] = {};
    installFolder.copy(folder, MAX_PATH - 1);
    ProgressCallback callback = [this](int event, unsigned value, long extra) {
        return OnInstallProgress(event, value, extra);
    };
    // The dialog's own package path is the one unpacked, as it always was.
    const std::wstring package = GetPackagePath();
    const int result = UnpackPackage(package.c_str(), callback, folder, true, true);
    WriteLog("Install File Result %0X", result);
    return result;
}

void SetupDlg::DoInstall() { RunDialogInstallRoad(*this); }
