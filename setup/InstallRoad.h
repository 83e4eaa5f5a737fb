// The install road: from the Install trigger to the finished or failed page,
// as flat phases in order, each ending in an outcome, and one finish step
// that alone sets the last page, tells the statistics reporter how the road
// ended and closes a silent run.
//
// The road runs on the install worker. It reaches the window only through
// InstallWindow (which the dialog implements by posting to its own thread),
// the download engine through InstallEngines and the unpack step and the
// product's own steps through InstallSteps, so a test can run it against
// stand-ins.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "InstallChoices.h"
#include "PackageHeader.h"
#include "SetupDlg.h"

class IDownloader;
class InstallStatsReporter;

// What the road shows. Every call returns at once, except the two boxes,
// which return with the user's answer.
class InstallWindow {
public:
    virtual ~InstallWindow() = default;
    // The page, then its controls.
    virtual void ShowPage(InstallState page) = 0;
    virtual void SetRenderStage(int stage) = 0;
    virtual void SetFinishButton(bool enabled) = 0;
    virtual void SetUsingFallback(bool fallback) = 0;
    // The download engine's and the unpack step's events, as figures.
    virtual void DownloadEvent(int event, unsigned value, long extra) = 0;
    virtual void UnpackEvent(int event, unsigned value) = 0;
    // A platform box with "ERROR" as its caption; owned: by the dialog.
    virtual void ShowError(const std::wstring& text, bool owned) = 0;
    // The skinned restart question; the button that ended it.
    virtual int AskRestart() = 0;
    virtual void Close() = 0;
};

// The download engine's life: a new engine (null when none can be made), and
// its release; the dialog holds the engine meanwhile, so a close stops it.
class InstallEngines {
public:
    virtual ~InstallEngines() = default;
    virtual IDownloader* Create() = 0;
    virtual void Release(IDownloader* engine) = 0;
};

// The unpack step and the product's own steps (the dialog's overridables),
// and what the dialog keeps of the road for the other threads.
class InstallSteps {
public:
    virtual ~InstallSteps() = default;
    virtual int InstallFile(const std::wstring& package, const std::wstring& folder) = 0;
    // The folder the unpack step chose.
    virtual std::wstring InstalledFolder() = 0;
    virtual void KillProductProcesses() = 0;
    virtual void QuitRunningApp(const std::wstring& folder, const std::wstring& exeName) = 0;
    virtual bool IsNewInstall(const std::wstring& folder) = 0;
    virtual bool ProcessBeforeInstall(const std::wstring& folder, bool* needRestart) = 0;
    virtual void CreateShortcuts(const ShortcutInfo& info) = 0;
    virtual void RefreshIcons() = 0;
    virtual std::string MakeDisplayName(const std::string& name) = 0;
    virtual int ShowFinishWebPage(bool newInstall) = 0;
    virtual bool RunMainExeInstall(const std::wstring& folder, const std::wstring& exeName, bool newInstall,
                                   bool* needRestart) = 0;
    virtual void WriteUninstallInfo() = 0;
    virtual bool AddRunOnce(const std::string& name, const std::wstring& command) = 0;
    virtual void RestartWindows() = 0;
    virtual void RunProductApp(const std::wstring& arguments) = 0;
    // The road's figures the dialog keeps for its other threads.
    virtual void UsePackageHeader(const PackageHeader& header) = 0;
    virtual void UsePackagePath(const std::wstring& path) = 0;
    virtual void UseInstallFolder(const std::wstring& folder) = 0;
    virtual void UseOutcomeFlags(bool needRestart, bool showThankYou, const std::string& installId) = 0;
};

// How a phase ended. Go: on to the next phase.
enum class RoadOutcome {
    Go,
    Stopped,          // the dialog asked the worker to stop before the folder was touched
    NoEngine,
    TargetUnusable,
    NoManifest,
    DownloadFailed,
    NeedUpdate,
    HeaderBad,
    FolderRefused,
    FolderTooLong,
    RestartNeeded,
    ExtractFailed,
    Installed,
};
const char* RoadOutcomeName(RoadOutcome outcome);

// The road's settings that tests shorten; the defaults are the installer's.
struct InstallRoadTiming {
    unsigned pollMs = 1000;          // the download wait's polling interval
    unsigned afterDownloadMs = 2000; // the pause after the download
    unsigned beforePackageMs = 1000; // the pause before the package phases
    unsigned engineSilenceMs = 180 * 1000;
};

class InstallRoad {
public:
    struct Parts {
        InstallWindow& window;
        InstallEngines& engines;
        InstallSteps& steps;
        InstallStatsReporter* reporter = nullptr;
        const std::atomic<bool>& stop;
    };
    InstallRoad(Parts parts, InstallChoices choices, PackageHeader header, std::wstring packagePath);

    // The download (when there is no package yet), then the package phases
    // in the same run, then the finish step. The outcome the road ended in.
    RoadOutcome Run();

    // A restart the dialog already knows of (an earlier step asked for it).
    void SetNeedRestart(bool need) { needRestart_ = need; }

    // Bound to the engine as its callback (from the engine's threads).
    int OnDownloadEvent(int event, unsigned value, long extra);

    InstallRoadTiming timing;
    // The manifest: resource 502 (64-bit) or 501 in the installer.
    std::function<bool(bool x64, std::string& text)> loadManifest;
    // The download target (the setup file under Downloads).
    std::function<std::wstring()> downloadTarget;

private:
    RoadOutcome Download();
    RoadOutcome ReadHeader();
    RoadOutcome PrepareFolder();
    RoadOutcome BeforeInstall();
    RoadOutcome Extract();
    RoadOutcome ShortcutsAndProductSteps();
    RoadOutcome Register();
    void Finish(RoadOutcome outcome);

    bool StopAsked() const { return parts_.stop.load(); }
    bool PauseUnlessStopped(unsigned ms) const;
    void ReportDownloadFailure();
    void ReportInstallFailure(int code, const std::string& name);
    void EndOnFailedPage();
    std::wstring MainExeName() const;

    Parts parts_;
    InstallChoices choices_;
    PackageHeader header_;
    std::wstring package_;
    std::wstring folder_;
    bool downloadReported_ = false;
    bool newInstall_ = false;
    bool needRestart_ = false;
    bool showThankYou_ = false;
    std::atomic<bool> downloadDone_{false};
    std::atomic<bool> noDownloadNeeded_{false};
};

// The dialog's road: the road above with the dialog as its window, engines
// and steps (SetupDlgRoadWindow.cpp). DoInstall runs it.
RoadOutcome RunDialogInstallRoad(SetupDlg& dlg);
