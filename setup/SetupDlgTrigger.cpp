#include "SetupDlg.h"

#include <shlwapi.h>

#include "InstallFolder.h"
#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Process.h"
#include "ProductConfig.h"
#include "SetupApp.h"
#include "SkinMessageBox.h"
#include "SystemInfo.h"
#include "Text.h"

namespace {

constexpr UINT_PTR kCountdownTimer = 1;
// The edit box holds at most this many characters of the folder.
constexpr int kEditPathChars = 520;

}  // namespace

int OsVersionBit(DWORD major, DWORD minor) {
    if (major == 6) {
        switch (minor) {
        case 0: return 2;
        case 1: return 4;
        case 2: return 8;
        case 3: return 16;
        default: return 0;
        }
    }
    return major >= 10 ? 32 : 1;
}

uint64_t NeededFreeSpaceMB(uint64_t archiveSize, const std::wstring& path) {
    const double size = static_cast<double>(archiveSize);
    const double extra = path.find(L"C:\\") != std::wstring::npos ? size : 0.0;
    // The divisor is 0.1 x 3 as the machine computes it, not the double
    // nearest to 0.3: the figures must match what the product always asked.
    const uint64_t bytes = static_cast<uint64_t>(extra + size / (0.1 * 3) * 1.1);
    return static_cast<uint64_t>(static_cast<double>(bytes) / 1024.0 / 1024.0);
}

bool IsOsSupportedByMask(int mask) {
    if (!IsWin7OrLater()) return false;
    DWORD major = 0, minor = 0;
    GetWindowsVersion(major, minor);
    return (OsVersionBit(major, minor) & mask) != 0;
}

bool SetupDlg::IsOsSupported() { return IsOsSupportedByMask(ProductConfig::GetSupportedOsMask()); }

bool SetupDlg::IsSilent() { return GetStartupOptions().IsSilent() != 0; }

int SetupDlg::OnBtnInstall() {
    KillTimer(m_hWnd, kCountdownTimer);
    const InstallState page = eInstall;
    WriteLog("SetupDlg::OnBtnInstall, eInstall(%d).\n", static_cast<int>(page));

    if (page == E_Install_Finished) {
        if (bNeedRestart) {
            RestartWindows();
        } else {
            std::wstring arguments = L" --installmode";
            if (!strOption.empty()) arguments += L" --option " + NarrowToWide(strOption);
            if (!strSource.empty()) arguments += L" --installsource " + NarrowToWide(strSource);
            g_bAppLaunched = true;
            RunProductApp(arguments);
        }
        SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    if (page != E_Install_Ready && page != E_Install_Failed) {
        WriteLog("OnBtnInstall(what ?\?\?)");
        return 0;
    }
    if (!CheckInstallConditions()) {
        if (IsSilent()) OnBtnClose();
        return 0;
    }

    WriteLog("OnBtnInstall(OnInstall)");
    // What the page showed, for the case that no worker starts.
    const bool optionsShown = hEditPath && IsWindowVisible(hEditPath);
    const bool customShown = pChkCustom && pChkCustom->IsVisible();
    const bool versionShown = pStaticVersion && pStaticVersion->IsVisible();
    const bool statusShown = pStaticStatus && pStaticStatus->IsVisible();
    SetupDlg::ShowOptionsPanel(false);
    if (pChkCustom) pChkCustom->SetVisible(false);
    if (pStaticVersion) pStaticVersion->SetVisible(false);
    if (!IsSilent()) {
        int flag = 0;
        if (pChkDesktop && pChkDesktop->GetCheck()) flag |= 1;
        if (pChkJoin && pChkJoin->GetCheck()) flag |= 2;
        nCfgFlag = flag;
    }
    // The choices as the window shows them, once, for the road; the finish
    // report tells what the boxes showed.
    const InstallChoices choices = ReadInstallChoices();
    g_bCreateDesktopIcon = choices.desktop;
    g_bJoinUxProgram = choices.join;
    SetInstallChoices(choices);
    if (page == E_Install_Failed) UpdateCtrlStatus(E_Install_Working);
    // The ready page's other controls go with the renderer's first frames;
    // the countdown's text goes at once.
    if (pStaticStatus) pStaticStatus->SetVisible(false);
    eInstall = E_Install_Working;
    nRenderStage = 0;
    if (!StartWorker(InstallThreadProc)) {
        // No road runs: the page the press came from, usable as it was.
        WriteLog("OnBtnInstall: the install worker did not start.");
        eInstall = page;
        if (page == E_Install_Failed) UpdateCtrlStatus(page);
        if (pChkCustom) pChkCustom->SetVisible(customShown);
        if (pStaticVersion) pStaticVersion->SetVisible(versionShown);
        if (pStaticStatus) pStaticStatus->SetVisible(statusShown);
        if (optionsShown) SetupDlg::ShowOptionsPanel(true);
        // Nobody presses again in a silent run: it ends.
        if (IsSilent()) OnBtnClose();
        return 0;
    }
    // One render thread per process; a retry reuses it.
    if (!g_hRenderThread.joinable()) g_hRenderThread = std::thread(RenderThreadProc, this);
    return 0;
}

int SetupDlg::CheckInstallConditions() {
    const std::wstring title = NarrowToWide(PackageHeader::FieldText(packageHeader.productName));
    // Nobody answers a box in a silent run: it closes instead.
    auto refuse = [&](LangStringId text, bool logged) {
        if (logged) WriteLog("OnBtnInstall(MySkinMessagxBox)");
        if (!IsSilent()) ShowSkinMessageBox(m_hWnd, title.c_str(), GetLangString(text), GetLangString(11));
        return 0;
    };
    if (packageHeader.isX64 && !Is64BitWindows()) return refuse(33, true);
    if (!IsOsSupported()) return refuse(30, true);
    if (!IsArchitectureMatch()) return refuse(30, true);

    std::wstring path;
    if (IsSilent() || !hEditPath) {
        path = GetInstallFolder();
    } else {
        std::wstring text(kEditPathChars + 1, L'\0');
        const int length = GetWindowTextW(hEditPath, &text[0], kEditPathChars + 1);
        text.resize(length > 0 ? length : 0);
        path = text;
    }
    // The edit box takes more than the road's path buffers hold. The room
    // left covers the product's sub-folder too, which the road takes when
    // the chosen folder holds other data.
    const std::wstring subFolder = NarrowToWide(PackageHeader::FieldText(packageHeader.installFolderName));
    const bool fits = InstallFolderFits(subFolder.empty() ? path : path + L"\\" + subFolder);
    // Judged before anything is made: the road could not use these folders,
    // and would say so only after the whole download.
    const char* unusable = nullptr;
    if (fits && !path.empty()) {
        if (!IsFullFolderPath(path)) unusable = "not a full path";
        else if (PathExists(path) && !IsFolder(path)) unusable = "a file, not a folder";
        else if (!ProductCanUseFolder(path, packageHeader)) unusable = "holds other files, and so does its product folder";
    }
    if (fits && !unusable) CreateDirectories(path);
    const std::string narrowPath = WideToNarrow(path);
    WriteLog("Install Path Info : %s .", narrowPath.c_str());
    if (!fits) {
        WriteLog("Install Path too long : %u characters.", static_cast<unsigned>(path.size()));
        return refuse(31, false);
    }
    if (unusable) {
        WriteLog("Install Path refused : %s .", unusable);
        return refuse(31, false);
    }
    if (path.empty() || !PathFileExistsW(path.c_str())) return refuse(31, false);

    const std::wstring oldFolder = GetInstallFolder();
    SetInstallFolder(path);
    const uint64_t neededMB = NeededFreeSpaceMB(packageHeader.archiveSize, path);
    const int64_t freeMB = GetDiskFreeSpaceMB(narrowPath.empty() ? '\0' : narrowPath[0]);
    WriteLog("FreeSpace Info : %lld MB in %s .", static_cast<long long>(freeMB), narrowPath.c_str());
    if (static_cast<uint64_t>(freeMB) <= neededMB) return refuse(32, false);

    if (oldFolder != path) g_bInstallPathChanged = true;
    return 1;
}
