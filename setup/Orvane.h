// The product's own main dialog: the steps this product needs around
// extraction (older version, drivers, library registration, the product's
// executable and its switches).
#pragma once

#include <windows.h>

#include <string>

#include "SetupDlg.h"

// How long the product steps wait on other programs. A program still running
// at its bound is ended and logged, so no step waits forever. Tests shorten
// them; the installer keeps the defaults.
struct OrvaneWaitBounds {
    DWORD productRunMs = 10 * 60 * 1000;      // the product's install and uninstall runs
    DWORD oldUninstallerMs = 10 * 60 * 1000;  // an older version's uninstaller
    DWORD regsvr32Ms = 30000;                 // "regsvr32.exe"
    DWORD trayCloseMs = 5000;                 // WM_CLOSE to the product's tray window
    int quitChecks = 11;                      // 1 s checks after "/quit_by_setup"
};

// The thread's file-system redirection switches, turned off only around the
// copies into the native drivers folder. Tests watch them; the installer
// keeps the system's own.
struct FsRedirectionCalls {
    BOOL(WINAPI* disable)(PVOID* oldValue) = Wow64DisableWow64FsRedirection;
    BOOL(WINAPI* revert)(PVOID oldValue) = Wow64RevertWow64FsRedirection;
};

class Orvane : public SetupDlg {
public:
    Orvane() = default;
    ~Orvane() override;

    bool RunMainExeInstall(std::wstring installFolder, std::wstring exeName, bool bNewFlag,
                           bool* needRestart) override;
    bool RunMainExeUninstall(std::wstring installFolder, std::wstring exeName, bool* needRestart) override;
    bool ProcessBeforeInstall(std::wstring installFolder, bool* needRestart) override;
    void QuitRunningApp(std::wstring installFolder, std::wstring exeName) override;
    bool IsRestartExitCode(int exitCode) override;
    bool IsArchitectureMatch() override;

    // Starts the 32-bit "regsvr32.exe" elevated and hidden with the switches
    // and the quoted library path and waits for it (bounded); true when it
    // started. Its exit code is not returned. Called with the thread's
    // file-system redirection on.
    virtual bool RegisterServerDll(const std::wstring& switches, const std::wstring& dllPath);
    // The decimal text of value.
    static std::wstring IntToWString(int value);

    OrvaneWaitBounds waitBounds;
    FsRedirectionCalls fsRedirection;
};
