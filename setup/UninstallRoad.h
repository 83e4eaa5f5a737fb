// The uninstall road: from the Uninstall button to the done page, as flat
// phases in order, each ending in an outcome, and one finish step that alone
// moves the page to its end and closes a silent run.
//
// The road runs on the uninstall worker. It reaches the window only through
// UninstallWindow (which the dialog implements by posting to its own thread)
// and the product's and the system's steps through UninstallSteps, so a test
// can run it against stand-ins.
#pragma once

#include <atomic>
#include <string>

#include "PackageHeader.h"
#include "SetupDlg.h"
#include "UninstallChoices.h"

// What the road shows. Every call returns at once.
class UninstallWindow {
public:
    virtual ~UninstallWindow() = default;
    // The bar at 0 and the working text.
    virtual void Start() = 0;
    // The bar at percent (0..100).
    virtual void Position(unsigned percent) = 0;
    // The done page: the bar and the keep label hidden, Cancel turned into
    // Finish, the thanks or (needRestart) the restart text.
    virtual void Done(bool needRestart) = 0;
    // The platform box that tells the uninstall failed.
    virtual void ShowFailed() = 0;
    // Ends the run. The window's close handler joins the worker, so this
    // only asks for the close and never waits for it.
    virtual void Close() = 0;
};

// The product's own steps (the dialog's overridables) and the system's, and
// what the dialog keeps of the road for its other threads.
class UninstallSteps {
public:
    virtual ~UninstallSteps() = default;
    virtual void QuitRunningApp(const std::wstring& folder, const std::wstring& exeName) = 0;
    virtual void KillProductProcesses() = 0;
    // False when the product's executable was not there to run.
    virtual bool RunMainExeUninstall(const std::wstring& folder, const std::wstring& exeName, bool* needRestart) = 0;
    virtual void DeleteHelperFiles(const std::wstring& folder) = 0;
    virtual std::string MakeDisplayName(const std::string& name) = 0;
    virtual void DeleteShortcuts(const std::wstring& displayName) = 0;
    virtual void RefreshIcons() = 0;
    // The product's folder in the application data; empty when there is no
    // application data folder or no product folder name.
    virtual std::wstring ConfigurationFolder() = 0;
    virtual std::string ProductName() = 0;
    virtual std::string MakeUninstallKeyName(const std::string& base) = 0;
    virtual bool DeleteUninstallItem(const std::string& keyName) = 0;
    // The restart flag after the product's own uninstall ran.
    virtual void UseNeedRestart(bool needRestart) = 0;
};

// How a phase ended. Go: on to the next phase.
enum class UninstallOutcome {
    Go,
    Stopped,        // the dialog asked the worker to stop; the close handler ends the run
    FolderRefused,  // the folder is not ours: the road goes on without it
    Uninstalled,
};
const char* UninstallOutcomeName(UninstallOutcome outcome);

// The road's settings that tests shorten; the defaults are the installer's.
struct UninstallRoadTiming {
    unsigned donePauseMs = 200;  // the full bar shows this long before the done page
};

class UninstallRoad {
public:
    struct Parts {
        UninstallWindow& window;
        UninstallSteps& steps;
        const std::atomic<bool>& stop;
    };
    UninstallRoad(Parts parts, UninstallChoices choices, PackageHeader header, std::wstring packagePath);

    // The phases, then the finish step. The outcome the road ended in:
    // Stopped, FolderRefused (the rest was removed all the same) or
    // Uninstalled.
    UninstallOutcome Run();

    // A restart the dialog already knows of (an earlier step asked for it).
    void SetNeedRestart(bool need) { needRestart_ = need; }

    UninstallRoadTiming timing;

private:
    UninstallOutcome JudgeFolder();
    UninstallOutcome QuitProduct();
    UninstallOutcome DeleteFolder();
    UninstallOutcome ShortcutsAndIcons();
    UninstallOutcome ApplicationData();
    UninstallOutcome UninstallEntry();
    void Finish(UninstallOutcome outcome);

    bool StopAsked() const { return parts_.stop.load(); }
    std::wstring MainExeName() const;

    Parts parts_;
    UninstallChoices choices_;
    PackageHeader header_;
    std::wstring package_;
    std::wstring folder_;  // the judged installation folder; empty when refused
    bool needRestart_ = false;
};

// The dialog's road: the road above with the dialog as its window and steps
// (SetupDlgUninstallWindow.cpp). UninstallWork runs it.
UninstallOutcome RunDialogUninstallRoad(SetupDlg& dlg);
