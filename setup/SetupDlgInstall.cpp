// The install worker: one road from the Install trigger to the finished or
// failed page. The first pass downloads the setup package with the download
// engine; the second (on the same thread) reads the package, prepares the
// installation folder, extracts the product, makes the shortcuts, runs the
// product's own steps and registers the product.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "IDownloader.h"
#include "InstallFolder.h"
#include "InstallStatsReporter.h"
#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "Registry.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "SkinMessageBox.h"
#include "Text.h"
#include "UnpackPackage.h"

namespace {

// How long the engine may go without a sign of life (bytes written, its
// downloading flag changing, an end event) before the worker gives up on it.
// Probing a dead mirror takes well under a minute; a transfer that moves no
// byte for this long is as good as failed.
constexpr DWORD kEngineSilenceLimitMs = 180 * 1000;
// Pause slices: the worker looks at bStopWork between them.
constexpr DWORD kStopPollMs = 50;

// The engine's narrow (UTF-8) target path must fit its 260-byte field.
constexpr size_t kEngineTargetLimit = 259;

// The narrow form of the download target for the engine, which widens it
// again as UTF-8 before it opens the file, so every name survives. Empty when
// it does not fit the engine's field. The package pass keeps the wide path.
std::string EngineTargetPath(const std::wstring& target) {
    const std::string narrow = WideToUtf8(target);
    if (target.empty() || narrow.empty() || narrow.size() > kEngineTargetLimit) return {};
    return narrow;
}

// Sleeps ms in slices; true when the dialog asked the worker to stop.
bool PauseUnlessStopped(SetupDlg& dlg, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!dlg.bStopWork.load()) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        Sleep(std::min<DWORD>(kStopPollMs, ms - spent));
    }
    return true;
}

std::string Ansi(const std::wstring& text) { return WideToNarrow(text); }

std::wstring MainExeName(const PackageHeader& header) {
    return header.isX64 ? ProductConfig::GetMainExeNameX64W() : ProductConfig::GetMainExeNameW();
}

// The setup file's name: the internal name, the version text's first eight
// characters in parentheses when the text is longer, ".exe".
std::wstring SetupFileName() {
    std::string name = GetProductInfo() ? GetProductInfo()->GetInternalName() : "";
    if (VersionText.size() > 8) name += "(" + VersionText.substr(0, 8) + ")";
    name += ".exe";
    return NarrowToWide(name);
}

UrlStatsRecord ToStatsRecord(const UrlCfg& cfg) {
    UrlStatsRecord record;
    record.strUrl = cfg.url;
    record.bValid = cfg.valid;
    record.nPingMs = static_cast<int32_t>(cfg.pingMs);
    record.strHost = cfg.host;
    record.bNetworkNotFull = cfg.networkNotFull;
    record.bPingOk = cfg.pingOk;
    record.llCfgSize = cfg.cfgSize;
    record.llWebSize = cfg.webSize;
    return record;
}

DownloadStatsRecord CollectDownloadStats(IDownloader& engine, DownloadState state) {
    DownloadStatsRecord stats;
    for (const auto& cfg : engine.GetCheckedUrlList()) stats.vecAllUrls.push_back(ToStatsRecord(cfg));
    const std::vector<HostSizeRecord> sizes = engine.GetHostSizeList();
    const std::vector<UrlSwitchRecord> switches = engine.GetUrlSwitchList();
    for (const auto& cfg : engine.GetUsedUrlList()) {
        UrlStatsRecord record = ToStatsRecord(cfg);
        for (const auto& size : sizes) {
            if (size.host == record.strHost) {
                record.llDownloadKB = size.sizeKB;
                break;
            }
        }
        for (const auto& move : switches) {
            if (move.host != record.strHost) continue;
            const char* word = nullptr;
            switch (move.reason) {
                case E_Switch_Repair: word = "repair"; stats.bSwitchRepair = true; break;
                case E_Switch_Timeout: word = "timeOut"; stats.bSwitchTimeout = true; break;
                case E_Switch_Fail: word = "fail"; stats.bSwitchFail = true; break;
                case E_Switch_Split: word = "success_new"; stats.bSwitchSplit = true; break;
                default: break;
            }
            if (word && record.strSwitchReasons.find(word) == std::string::npos)
                record.strSwitchReasons += std::string(word) + ",";
        }
        stats.vecUsedUrls.push_back(record);
    }
    stats.dFallbackSizeKB = engine.GetFallbackSizeKB();
    stats.bSucceeded = state == E_State_Succeed;
    stats.nErrorCode = engine.GetErrorCode();
    stats.strErrorName = engine.GetErrorName();
    stats.nCurlError = engine.GetCurlError();
    stats.strLastFailLink = engine.GetLastFailLink();
    stats.strRepairLink = engine.GetRepairLink();
    return stats;
}

// The failed page, whose button tries again; a silent run ends there.
void EndOnFailedPage(SetupDlg& dlg) {
    dlg.eInstall = E_Install_Failed;
    dlg.UpdateCtrlStatus(3);
    if (dlg.IsSilent()) dlg.OnBtnClose();
}

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
            // Nobody answers a box in a silent run.
            if (!IsSilent()) MessageBoxW(m_hWnd, L"Install Failed!", L"ERROR", MB_OK);
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

namespace {

// Ends the package pass before anything in the folder was touched: the
// failed page with a message, and the failure for the statistics.
void StopBeforeTheFolder(SetupDlg& dlg) {
    if (dlg.pReporter) dlg.pReporter->OnInstallFinished({false, DirWriteError, "DirWriteError", false});
    EndOnFailedPage(dlg);
    if (!dlg.IsSilent()) MessageBoxW(dlg.GetWindow(), GetLangString(31), L"ERROR", MB_OK);
}

// The package pass: header, folder, pre-install step, extraction, shortcuts
// and the product's own step. True when the closing steps follow.
bool RunPackagePass(SetupDlg& dlg) {
    if (dlg.pReporter) dlg.pReporter->OnInstallStart();
    WriteLog("Do Install File : %s", Ansi(dlg.GetPackagePath()).c_str());
    dlg.LoadPackageHeader();
    KillProductProcesses();
    const std::wstring exeName = MainExeName(dlg.packageHeader);

    std::wstring folder = dlg.GetInstallFolder();
    if (folder.empty() || !PathExists(folder)) {
        wchar_t buffer[MAX_PATH] = {};
        const std::wstring sub = NarrowToWide(PackageHeader::FieldText(dlg.packageHeader.installFolderName));
        if (GetProgramPath(buffer, sub, 0, dlg.packageHeader.isX64)) folder = buffer;
        else WriteLog("Install Path : the default folder does not fit.\n");
    }
    // Emptying the folder must not reach a user's own data: a folder
    // that is not the product's gets the product's sub-folder instead.
    if (!IsProductsOwnFolder(folder, dlg.packageHeader)) {
        const std::wstring sub = PathJoin(
            folder, NarrowToWide(PackageHeader::FieldText(dlg.packageHeader.installFolderName)));
        WriteLog("Install Path holds other files : %s", Ansi(folder).c_str());
        if (sub.empty() || SamePath(sub, folder) || !IsProductsOwnFolder(sub, dlg.packageHeader)) {
            WriteLog("Install stopped : no folder of the product's own in %s\n", Ansi(folder).c_str());
            StopBeforeTheFolder(dlg);
            return false;
        }
        folder = sub;
    }
    // Checked before the folder is emptied: the install cannot finish there.
    if (!InstallFolderFits(folder)) {
        WriteLog("Install stopped : the folder is too long for the product's files (%u characters).\n",
                 static_cast<unsigned>(folder.size()));
        StopBeforeTheFolder(dlg);
        return false;
    }
    dlg.SetInstallFolder(folder);

    dlg.QuitRunningApp(folder, exeName);
    WriteLog("Install Path : %s", Ansi(folder).c_str());
    const bool bNewFlag = dlg.IsNewInstall(folder);
    KillProductProcesses();
    if (dlg.bStopWork) return false;

    WriteLog("Begin depack file.\n");
    WriteLog("Begin delete file.(%s)", Ansi(folder).c_str());
    if (IsFolder(folder)) DeleteDirectory(folder);
    WriteLog("End delete file.");

    bool needRestart = false;
    if (!dlg.ProcessBeforeInstall(folder, &needRestart)) WriteLog("process Before Install Error.\n");
    if (needRestart) dlg.bNeedRestart = true;
    if (dlg.bNeedRestart) {
        // A silent run has nobody to ask: it restarts nothing, and the
        // package runs once when Windows next starts.
        int answer = 0;
        if (!dlg.IsSilent())
            answer = ShowSkinMessageBox(dlg.GetWindow(), ProductConfig::GetProductNameW().c_str(), GetLangString(40),
                                        GetLangString(11));
        dlg.OnInstallProgress(E_Unpack_Succeed, 1000, 0);
        // The page first: the renderer hides the controls only while the
        // page is the working one.
        dlg.eInstall = E_Install_Finished;
        dlg.UpdateCtrlStatus(2);
        std::string valueName = ProductConfig::GetProductName();
        ReplaceAll(valueName, " ", "_");
        valueName += "_Once";
        // RunOnce data is a command line: a path with blanks is quoted.
        std::wstring command = dlg.GetPackagePath();
        if (command.find(L' ') != std::wstring::npos) command = L"\"" + command + L"\"";
        const bool added = SetRunOnceValueW(valueName, command) != 0;
        WriteLog("Add Run Once : Rel = %d, path(%s)", added ? 1 : 0, Ansi(command).c_str());
        if (dlg.pReporter)
            dlg.pReporter->OnInstallFinished({true, GetPackageError(), GetPackageErrorName(), dlg.bShowThankYou});
        // Only the box's own button confirms; Enter, Escape and the close
        // button leave the restart to the user.
        if (answer == kSkinMsgButton1) dlg.RestartWindows();
        dlg.OnBtnClose();
        return false;
    }

    const int result = dlg.InstallFile(dlg.GetPackagePath(), folder);
    WriteLog("Install File Result %0X", result);
    if (result < 0) {
        WriteLog("Install File FAILED error code = %0X, last error = %d.\n", result, GetPackageError());
        // Nothing to start: the finished page shows no button, whoever failed.
        dlg.bFinishButtonEnabled = 0;
        dlg.eInstall = E_Install_Finished;
        dlg.UpdateCtrlStatus(2);
        if (dlg.pReporter) dlg.pReporter->OnInstallFinished({false, GetPackageError(), GetPackageErrorName(), false});
        if (dlg.IsSilent()) dlg.OnBtnClose();  // a silent run ends with its failure
        return false;
    }
    dlg.nInstallProgress = 1000;

    ShortcutInfo info;
    info.strInstallFolder = GetInstallPath();
    info.strMainExeName = exeName;
    info.strDisplayName = NarrowToWide(dlg.MakeDisplayName(ProductConfig::GetProductName()));
    info.strHomeUrl = NarrowToWide(ProductConfig::GetHomeUrl() + PackageHeader::FieldText(dlg.packageHeader.version));
    const HRESULT com = CoInitialize(nullptr);
    WriteLog("Create Icons for %s", dlg.packageHeader.isX64 ? "x64" : "x86");
    info.bDesktop = (dlg.IsSilent() && (dlg.nCfgFlag.load() & 1)) || (dlg.pChkDesktop && dlg.pChkDesktop->GetCheck());
    if (GetStartupOptions().IsAllowDesktopIcon() == 0) info.bDesktop = false;
    info.bStartMenu = true;
    info.bCommonPrograms = true;
    dlg.CreateShortcuts(info);
    for (int i = 0; i < 3; ++i) RefreshIcons();
    WriteLog("Refresh Icons Finish.");
    dlg.strInstallId = MakeRandomId();
    dlg.bShowThankYou = dlg.ShowFinishWebPage(bNewFlag) != 0;
    WriteLog("New : %d\n", bNewFlag ? 1 : 0);
    bool restart = dlg.bNeedRestart;
    dlg.RunMainExeInstall(info.strInstallFolder, exeName, bNewFlag, &restart);
    if (restart) dlg.bNeedRestart = true;
    WriteLog("UpdateCtrlStatus(AfterInstall)");
    dlg.eInstall = E_Install_Finished;
    dlg.UpdateCtrlStatus(2);
    if (SUCCEEDED(com)) CoUninitialize();
    return true;
}

// The download pass: fetches the package with a new engine and, when it
// arrived whole, runs the package pass on this thread.
void RunDownloadPass(SetupDlg& dlg) {
    std::wstring target;
    GetDownloadsPath(target, ProductConfig::GetProductFolderW(), SetupFileName().c_str(), 1);
    const std::string engineTarget = EngineTargetPath(target);
    if (engineTarget.empty()) {
        WriteLog("Download Failed. Target path unusable : %s\n", Ansi(target).c_str());
        EndOnFailedPage(dlg);
        return;
    }

    IDownloader* engine = nullptr;
    {
        std::lock_guard<std::mutex> lock(dlg.m_downloadLock);
        if (dlg.pDownload) {
            IDownloader* old = dlg.pDownload;
            dlg.pDownload = nullptr;
            ReleaseDownloaderAsync(old);
        }
        CreateDownloader(&dlg.pDownload);
        engine = dlg.pDownload;
    }
    if (!engine) {
        // Nothing was downloaded: the failed page, whose button tries again.
        WriteLog("SetupDlg::DoInstall pDownload = NULL.\n");
        EndOnFailedPage(dlg);
        return;
    }
    const auto releaseEngine = [&dlg, engine]() {
        std::lock_guard<std::mutex> lock(dlg.m_downloadLock);
        if (dlg.pDownload == engine) dlg.pDownload = nullptr;
        ReleaseDownloaderAsync(engine);
    };

    if (dlg.pReporter) dlg.pReporter->OnDownloadStart();
    // Cleared before the engine starts: it may finish before the next line.
    g_bDownloadDone = false;
    g_bNoDownloadNeeded = false;
    dlg.nDownloadPercent = 0;
    const std::string directUrl = GetProductInfo() ? GetProductInfo()->GetDownloadUrl() : "";
    ProgressCallback callback = [&dlg](int event, unsigned value, long extra) {
        return dlg.OnDownloadEvent(event, value, extra);
    };
    engine->SetCallback(callback);

    // The engine reads the text until it has finished: it lives on this
    // frame for the whole download.
    std::string manifest;
    if (!LoadResourceText(dlg.packageHeader.isX64 ? 502 : 501, L"xml", manifest) || manifest.empty()) {
        WriteLog("Download Failed. No download manifest.\n");
        releaseEngine();
        EndOnFailedPage(dlg);
        return;
    }
    engine->StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()), engineTarget);
    WriteLog("Url : %s\n", directUrl.c_str());
    g_dwDownloadStartTick = GetTickCount();

    // Wait for the end event with the engine idle; a silent engine and
    // a stop request end the wait too.
    bool silent = false;
    DownloadProgress last;
    bool lastDownloading = false;
    DWORD lastSign = GetTickCount();
    while (!dlg.bStopWork) {
        const bool downloading = engine->IsDownloading();
        if (!downloading && g_bDownloadDone) break;
        dlg.bUsingFallback = engine->IsUsingFallback();
        DownloadProgress now;
        engine->GetProgress(&now);
        if (now.written != last.written || downloading != lastDownloading) lastSign = GetTickCount();
        last.written = now.written;
        lastDownloading = downloading;
        if (GetTickCount() - lastSign > kEngineSilenceLimitMs) {
            WriteLog("Download wait ended : the engine gave no sign for %u s.\n",
                     static_cast<unsigned>(kEngineSilenceLimitMs / 1000));
            silent = true;
            break;
        }
        if (PauseUnlessStopped(dlg, 1000)) break;
    }
    if (dlg.bStopWork) {
        engine->StopDownload();
        releaseEngine();
        return;
    }

    g_nDownloadSeconds = static_cast<int32_t>((GetTickCount() - g_dwDownloadStartTick) / 1000);
    if (PauseUnlessStopped(dlg, 2000)) {
        engine->StopDownload();
        releaseEngine();
        return;
    }
    if (g_bNoDownloadNeeded) g_nDownloadSeconds = 1;

    const DownloadState state = silent ? E_State_Fail : engine->GetState();
    WriteLog("Download Finish Result : %s(%d).\n", state == E_State_Succeed ? "succeed" : "failed",
             static_cast<int>(state));
    if (dlg.pReporter) dlg.pReporter->OnDownloadFinished(CollectDownloadStats(*engine, state));

    dlg.bUsingFallback = engine->IsUsingFallback();
    engine->StopDownload();
    releaseEngine();
    engine = nullptr;

    DeleteFileW((target + L".cfg").c_str());

    if (state == E_State_Succeed && PathExists(target)) {
        WriteLog("Begin install...\n");
        dlg.SetPackagePath(target);
        dlg.UpdateCtrlStatus(1);
        dlg.eInstall = E_Install_Working;
        dlg.nRenderStage = 1;
        if (PauseUnlessStopped(dlg, 1000)) return;
        dlg.DoInstall();
        return;
    }
    if (state == E_State_NeedUpdate) {
        WriteLog("Download Failed. App need update.\n");
        if (!dlg.IsSilent()) MessageBoxW(nullptr, GetLangString(43), L"ERROR", MB_OK);
    } else {
        WriteLog("Download Failed. Show retry.\n");
    }
    EndOnFailedPage(dlg);
}

}  // namespace

void SetupDlg::DoInstall() {
    if (pReporter) pReporter->MarkWorkStarted();
    if (bStopWork) return;
    if (GetPackagePath().empty()) {
        RunDownloadPass(*this);
        return;
    }
    if (!RunPackagePass(*this)) return;

    // ---- Closing steps ----
    WriteUninstallInfo();
    nRenderStage = 3;
    for (int i = 0; i < 3; ++i) UpdateCtrlStatus(2);
    WriteLog("Finish(AfterInstall)");
    if (pReporter) pReporter->OnInstallFinished({true, GetPackageError(), GetPackageErrorName(), bShowThankYou});
    if (IsSilent()) {
        if (GetStartupOptions().IsRunAppAfterSilentInstall() == 1) RunProductApp(L" --installmode --runapp");
        OnBtnClose();
    }
}
