#include "InstallRoad.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "IDownloader.h"
#include "InstallFolder.h"
#include "InstallStatsReporter.h"
#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "SetupApp.h"
#include "SkinMessageBox.h"
#include "Text.h"
#include "UnpackPackage.h"

namespace {

// Pause slices: the road looks at its stop flag between them.
constexpr DWORD kStopPollMs = 50;
// The engine's narrow (UTF-8) target path must fit its 260-byte field.
constexpr size_t kEngineTargetLimit = 259;

// The narrow form of the download target for the engine, which widens it
// again as UTF-8 before it opens the file, so every name survives. Empty when
// it does not fit the engine's field. The package phases keep the wide path.
std::string EngineTargetPath(const std::wstring& target) {
    const std::string narrow = WideToUtf8(target);
    if (target.empty() || narrow.empty() || narrow.size() > kEngineTargetLimit) return {};
    return narrow;
}

std::string Ansi(const std::wstring& text) { return WideToNarrow(text); }

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

bool IsDownloadFailure(RoadOutcome outcome) {
    switch (outcome) {
        case RoadOutcome::NoEngine:
        case RoadOutcome::TargetUnusable:
        case RoadOutcome::NoManifest:
        case RoadOutcome::DownloadFailed:
        case RoadOutcome::NeedUpdate:
            return true;
        default:
            return false;
    }
}

}  // namespace

const char* RoadOutcomeName(RoadOutcome outcome) {
    switch (outcome) {
        case RoadOutcome::Go: return "Go";
        case RoadOutcome::Stopped: return "Stopped";
        case RoadOutcome::NoEngine: return "NoEngine";
        case RoadOutcome::TargetUnusable: return "TargetUnusable";
        case RoadOutcome::NoManifest: return "NoManifest";
        case RoadOutcome::DownloadFailed: return "DownloadFailed";
        case RoadOutcome::NeedUpdate: return "NeedUpdate";
        case RoadOutcome::HeaderBad: return "HeaderBad";
        case RoadOutcome::FolderRefused: return "FolderRefused";
        case RoadOutcome::FolderTooLong: return "FolderTooLong";
        case RoadOutcome::RestartNeeded: return "RestartNeeded";
        case RoadOutcome::ExtractFailed: return "ExtractFailed";
        case RoadOutcome::Installed: return "Installed";
    }
    return "?";
}

InstallRoad::InstallRoad(Parts parts, InstallChoices choices, PackageHeader header, std::wstring packagePath)
    : parts_(parts), choices_(std::move(choices)), header_(header), package_(std::move(packagePath)) {}

RoadOutcome InstallRoad::Run() {
    if (parts_.reporter) parts_.reporter->MarkWorkStarted();
    // Each phase may end the road; a stop request ends it between phases
    // until the folder is touched. From then on the road completes the
    // install, so a close leaves the earlier state or a registered product.
    using Phase = RoadOutcome (InstallRoad::*)();
    const Phase phases[] = {&InstallRoad::Download,     &InstallRoad::ReadHeader,
                            &InstallRoad::PrepareFolder, &InstallRoad::BeforeInstall,
                            &InstallRoad::Extract,       &InstallRoad::ShortcutsAndProductSteps,
                            &InstallRoad::Register};
    RoadOutcome outcome = RoadOutcome::Go;
    bool folderTouched = false;
    for (Phase phase : phases) {
        if (!folderTouched && StopAsked()) {
            outcome = RoadOutcome::Stopped;
            break;
        }
        if (phase == &InstallRoad::BeforeInstall) folderTouched = true;
        outcome = (this->*phase)();
        if (outcome != RoadOutcome::Go) break;
    }
    Finish(outcome);
    return outcome;
}

bool InstallRoad::PauseUnlessStopped(unsigned ms) const {
    const DWORD start = GetTickCount();
    while (!StopAsked()) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        Sleep(std::min<DWORD>(kStopPollMs, ms - spent));
    }
    return true;
}

std::wstring InstallRoad::MainExeName() const {
    return header_.isX64 ? ProductConfig::GetMainExeNameX64W() : ProductConfig::GetMainExeNameW();
}

int InstallRoad::OnDownloadEvent(int event, unsigned value, long extra) {
    parts_.window.DownloadEvent(event, value, extra);
    if (event == E_Download_Succeed && extra == 1) {
        noDownloadNeeded_ = true;
        g_bNoDownloadNeeded = true;
    }
    if (event == E_Download_Succeed || event == E_Download_Fail) {
        g_bDownloadDone = true;
        downloadDone_ = true;
    }
    return 1;
}

// ---- Phase: the download and its verification (the engine's) ----------
RoadOutcome InstallRoad::Download() {
    if (!package_.empty()) return RoadOutcome::Go;
    const std::wstring target = downloadTarget ? downloadTarget() : std::wstring();
    const std::string engineTarget = EngineTargetPath(target);
    if (engineTarget.empty()) {
        WriteLog("Download Failed. Target path unusable : %s\n", Ansi(target).c_str());
        return RoadOutcome::TargetUnusable;
    }
    IDownloader* engine = parts_.engines.Create();
    if (!engine) {
        WriteLog("SetupDlg::DoInstall pDownload = NULL.\n");
        return RoadOutcome::NoEngine;
    }

    if (parts_.reporter) parts_.reporter->OnDownloadStart();
    // Cleared before the engine starts: it may finish before the next line.
    g_bDownloadDone = false;
    g_bNoDownloadNeeded = false;
    downloadDone_ = false;
    noDownloadNeeded_ = false;
    parts_.window.DownloadEvent(E_Download_Progress, 0, 1);
    const std::string directUrl = GetProductInfo() ? GetProductInfo()->GetDownloadUrl() : "";
    ProgressCallback callback = [this](int event, unsigned value, long extra) {
        return OnDownloadEvent(event, value, extra);
    };
    engine->SetCallback(callback);

    // The engine reads the text until it has finished: it lives on this
    // frame for the whole download.
    std::string manifest;
    if (!loadManifest || !loadManifest(header_.isX64 != 0, manifest) || manifest.empty()) {
        WriteLog("Download Failed. No download manifest.\n");
        parts_.engines.Release(engine);
        return RoadOutcome::NoManifest;
    }
    engine->StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()), engineTarget);
    WriteLog("Url : %s\n", directUrl.c_str());
    g_dwDownloadStartTick = GetTickCount();

    // Wait for the end event with the engine idle; a silent engine and a
    // stop request end the wait too.
    bool silent = false;
    DownloadProgress last;
    bool lastDownloading = false;
    DWORD lastSign = GetTickCount();
    while (!StopAsked()) {
        const bool downloading = engine->IsDownloading();
        if (!downloading && downloadDone_) break;
        parts_.window.SetUsingFallback(engine->IsUsingFallback());
        DownloadProgress now;
        engine->GetProgress(&now);
        if (now.written != last.written || downloading != lastDownloading) lastSign = GetTickCount();
        last.written = now.written;
        lastDownloading = downloading;
        if (GetTickCount() - lastSign > timing.engineSilenceMs) {
            WriteLog("Download wait ended : the engine gave no sign for %u s.\n", timing.engineSilenceMs / 1000);
            silent = true;
            break;
        }
        if (PauseUnlessStopped(timing.pollMs)) break;
    }
    if (!StopAsked()) {
        g_nDownloadSeconds = static_cast<int32_t>((GetTickCount() - g_dwDownloadStartTick) / 1000);
        PauseUnlessStopped(timing.afterDownloadMs);
    }
    if (StopAsked()) {
        engine->StopDownload();
        parts_.engines.Release(engine);
        return RoadOutcome::Stopped;
    }
    if (noDownloadNeeded_) g_nDownloadSeconds = 1;

    const DownloadState state = silent ? E_State_Fail : engine->GetState();
    WriteLog("Download Finish Result : %s(%d).\n", state == E_State_Succeed ? "succeed" : "failed",
             static_cast<int>(state));
    if (parts_.reporter) parts_.reporter->OnDownloadFinished(CollectDownloadStats(*engine, state));
    downloadReported_ = true;

    parts_.window.SetUsingFallback(engine->IsUsingFallback());
    engine->StopDownload();
    parts_.engines.Release(engine);

    DeleteFileW((target + L".cfg").c_str());

    if (state == E_State_Succeed && PathExists(target)) {
        WriteLog("Begin install...\n");
        package_ = target;
        parts_.steps.UsePackagePath(target);
        parts_.window.ShowPage(E_Install_Working);
        parts_.window.SetRenderStage(1);
        if (PauseUnlessStopped(timing.beforePackageMs)) return RoadOutcome::Stopped;
        return RoadOutcome::Go;
    }
    if (state == E_State_NeedUpdate) {
        WriteLog("Download Failed. App need update.\n");
        return RoadOutcome::NeedUpdate;
    }
    WriteLog("Download Failed. Show retry.\n");
    return RoadOutcome::DownloadFailed;
}

// ---- Phase: the package's header and payload, checked before the folder
RoadOutcome InstallRoad::ReadHeader() {
    if (parts_.reporter) parts_.reporter->OnInstallStart();
    WriteLog("Do Install File : %s", Ansi(package_).c_str());
    // The unpack step would refuse this package only after the folder is
    // emptied: a package that cannot be installed must cost nothing.
    std::string why;
    PackageHeader read;
    if (FAILED(CheckPackage(package_.c_str(), read, why))) {
        WriteLog("Package check failed : %s.\n", why.c_str());
        return RoadOutcome::HeaderBad;
    }
    header_ = read;
    parts_.steps.UsePackageHeader(header_);
    parts_.steps.KillProductProcesses();
    return RoadOutcome::Go;
}

// ---- Phase: the installation folder ----------------------------------------
RoadOutcome InstallRoad::PrepareFolder() {
    std::wstring folder = choices_.folder;
    if (folder.empty() || !PathExists(folder)) {
        wchar_t buffer[MAX_PATH] = {};
        const std::wstring sub = NarrowToWide(PackageHeader::FieldText(header_.installFolderName));
        if (GetProgramPath(buffer, sub, 0, header_.isX64)) folder = buffer;
        else WriteLog("Install Path : the default folder does not fit.\n");
    }
    // Emptying the folder must not reach a user's own data: a folder that
    // is not the product's gets the product's sub-folder instead.
    if (!IsProductsOwnFolder(folder, header_)) {
        const std::wstring sub =
            PathJoin(folder, NarrowToWide(PackageHeader::FieldText(header_.installFolderName)));
        WriteLog("Install Path holds other files : %s", Ansi(folder).c_str());
        if (sub.empty() || SamePath(sub, folder) || !IsProductsOwnFolder(sub, header_)) {
            WriteLog("Install stopped : no folder of the product's own in %s\n", Ansi(folder).c_str());
            return RoadOutcome::FolderRefused;
        }
        folder = sub;
    }
    // Checked before the folder is emptied: the install cannot finish there.
    if (!InstallFolderFits(folder)) {
        WriteLog("Install stopped : the folder is too long for the product's files (%u characters).\n",
                 static_cast<unsigned>(folder.size()));
        return RoadOutcome::FolderTooLong;
    }
    folder_ = folder;
    parts_.steps.UseInstallFolder(folder);

    parts_.steps.QuitRunningApp(folder, MainExeName());
    WriteLog("Install Path : %s", Ansi(folder).c_str());
    newInstall_ = parts_.steps.IsNewInstall(folder);
    parts_.steps.KillProductProcesses();
    return RoadOutcome::Go;
}

// ---- Phase: the folder emptied, the pre-install step -----------------------
RoadOutcome InstallRoad::BeforeInstall() {
    WriteLog("Begin depack file.\n");
    WriteLog("Begin delete file.(%s)", Ansi(folder_).c_str());
    if (IsFolder(folder_)) DeleteDirectory(folder_);
    WriteLog("End delete file.");

    bool restart = false;
    if (!parts_.steps.ProcessBeforeInstall(folder_, &restart)) WriteLog("process Before Install Error.\n");
    if (restart) needRestart_ = true;
    return needRestart_ ? RoadOutcome::RestartNeeded : RoadOutcome::Go;
}

// ---- Phase: extraction ----------------------------------------------------
RoadOutcome InstallRoad::Extract() {
    const int result = parts_.steps.InstallFile(package_, folder_);
    WriteLog("Install File Result %0X", result);
    if (result < 0) {
        WriteLog("Install File FAILED error code = %0X, last error = %d.\n", result, GetPackageError());
        return RoadOutcome::ExtractFailed;
    }
    parts_.window.UnpackEvent(3, 1000);
    return RoadOutcome::Go;
}

// ---- Phase: shortcuts, the finish web page, the product's own step ---------
RoadOutcome InstallRoad::ShortcutsAndProductSteps() {
    ShortcutInfo info;
    info.strInstallFolder = parts_.steps.InstalledFolder();
    info.strMainExeName = MainExeName();
    info.strDisplayName = NarrowToWide(parts_.steps.MakeDisplayName(ProductConfig::GetProductName()));
    info.strHomeUrl = NarrowToWide(ProductConfig::GetHomeUrl() + PackageHeader::FieldText(header_.version));
    const HRESULT com = CoInitialize(nullptr);
    WriteLog("Create Icons for %s", header_.isX64 ? "x64" : "x86");
    info.bDesktop = (choices_.silent && (choices_.cfgFlag & 1)) || choices_.desktop;
    if (GetStartupOptions().IsAllowDesktopIcon() == 0) info.bDesktop = false;
    info.bStartMenu = true;
    info.bCommonPrograms = true;
    parts_.steps.CreateShortcuts(info);
    for (int i = 0; i < 3; ++i) parts_.steps.RefreshIcons();
    WriteLog("Refresh Icons Finish.");
    const std::string installId = MakeRandomId();
    // After a close the road only completes what the product needs to run
    // and to be removed: nobody is left to read the thank-you page, and the
    // product's own first run would outlast the close's bound.
    const bool closing = StopAsked();
    showThankYou_ = !closing && parts_.steps.ShowFinishWebPage(newInstall_) != 0;
    WriteLog("New : %d\n", newInstall_ ? 1 : 0);
    bool restart = needRestart_;
    if (closing) WriteLog("Install completes without the product's own step : the window was closed.\n");
    else parts_.steps.RunMainExeInstall(info.strInstallFolder, MainExeName(), newInstall_, &restart);
    if (restart) needRestart_ = true;
    parts_.steps.UseOutcomeFlags(needRestart_, showThankYou_, installId);
    WriteLog("UpdateCtrlStatus(AfterInstall)");
    if (SUCCEEDED(com)) CoUninitialize();
    return RoadOutcome::Go;
}

// ---- Phase: the uninstall registration ----------------------------------------
RoadOutcome InstallRoad::Register() {
    parts_.steps.WriteUninstallInfo();
    return RoadOutcome::Installed;
}

// ---- The finish step ---------------------------------------------------------
void InstallRoad::ReportDownloadFailure() {
    // A road that never reached the engine's end still failed its download;
    // left unreported it would read as a cancel.
    if (!parts_.reporter || downloadReported_) return;
    if (!g_bDownloadDone) parts_.reporter->OnDownloadStart();
    DownloadStatsRecord failed;
    failed.bSucceeded = false;
    parts_.reporter->OnDownloadFinished(failed);
    downloadReported_ = true;
}

void InstallRoad::ReportInstallFailure(int code, const std::string& name) {
    if (parts_.reporter) parts_.reporter->OnInstallFinished({false, code, name, false});
}

void InstallRoad::EndOnFailedPage() { parts_.window.ShowPage(E_Install_Failed); }

void InstallRoad::Finish(RoadOutcome outcome) {
    InstallWindow& window = parts_.window;
    if (outcome == RoadOutcome::Stopped) return;  // the close handler ends the run
    if (IsDownloadFailure(outcome)) {
        ReportDownloadFailure();
        if (outcome == RoadOutcome::NeedUpdate && !choices_.silent) window.ShowError(GetLangString(43), false);
        EndOnFailedPage();
        if (choices_.silent) window.Close();
        return;
    }
    switch (outcome) {
        case RoadOutcome::HeaderBad:
            // As a failed extraction ends: the box, the finished page with no
            // button; the folder is as it was.
            window.UnpackEvent(E_Unpack_Fail, SetupFileError);
            window.SetFinishButton(false);
            window.ShowPage(E_Install_Finished);
            ReportInstallFailure(OffsetError, GetPackageErrorName(OffsetError));
            break;
        case RoadOutcome::FolderRefused:
        case RoadOutcome::FolderTooLong:
            ReportInstallFailure(DirWriteError, "DirWriteError");
            EndOnFailedPage();
            if (!choices_.silent) window.ShowError(GetLangString(31), true);
            break;
        case RoadOutcome::RestartNeeded: {
            // A silent run has nobody to ask: it restarts nothing, and the
            // package runs once when Windows next starts.
            const int answer = choices_.silent ? 0 : window.AskRestart();
            window.UnpackEvent(E_Unpack_Succeed, 1000);
            window.ShowPage(E_Install_Finished);
            parts_.steps.UseOutcomeFlags(true, showThankYou_, std::string());
            std::string valueName = ProductConfig::GetProductName();
            ReplaceAll(valueName, " ", "_");
            valueName += "_Once";
            // RunOnce data is a command line: a path with blanks is quoted.
            std::wstring command = package_;
            if (command.find(L' ') != std::wstring::npos) command = L"\"" + command + L"\"";
            const bool added = parts_.steps.AddRunOnce(valueName, command);
            WriteLog("Add Run Once : Rel = %d, path(%s)", added ? 1 : 0, Ansi(command).c_str());
            if (parts_.reporter)
                parts_.reporter->OnInstallFinished({true, GetPackageError(), GetPackageErrorName(), showThankYou_});
            // Only the box's own button confirms; Enter, Escape and the close
            // button leave the restart to the user.
            if (answer == kSkinMsgButton1) parts_.steps.RestartWindows();
            window.Close();
            return;
        }
        case RoadOutcome::ExtractFailed:
            // Nothing to start: the finished page shows no button.
            window.SetFinishButton(false);
            window.ShowPage(E_Install_Finished);
            ReportInstallFailure(GetPackageError(), GetPackageErrorName());
            break;
        case RoadOutcome::Installed:
            window.SetRenderStage(3);
            window.ShowPage(E_Install_Finished);
            WriteLog("Finish(AfterInstall)");
            if (parts_.reporter)
                parts_.reporter->OnInstallFinished({true, GetPackageError(), GetPackageErrorName(), showThankYou_});
            if (choices_.silent && GetStartupOptions().IsRunAppAfterSilentInstall() == 1)
                parts_.steps.RunProductApp(L" --installmode --runapp");
            break;
        default:
            break;
    }
    if (choices_.silent) window.Close();
}
