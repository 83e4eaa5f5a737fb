// The start-up options: built once during static initialisation and never
// changed afterwards (the command line is not read), so every reader sees the
// defaults. Readers still test each field.
#pragma once

#include <string>

class StartupOptions {
public:
    StartupOptions();

    int GetInstallMode() const { return nMode; }
    int IsSilent() const { return bSilent; }
    int IsRunAppAfterSilentInstall() const { return bRunAppAfterSilentInstall; }
    int IsShowWindow() const { return bShowWindow; }
    int IsAllowFinishWebPage() const { return bAllowFinishWebPage; }
    int IsAllowDesktopIcon() const { return bAllowDesktopIcon; }
    int IsUseSharedMemory() const { return bUseSharedMemory; }
    const wchar_t* GetPackagePath() const { return strPackagePath.c_str(); }
    std::wstring GetSharedMemoryName() const { return strSharedMemoryName; }

private:
    int bSilent;
    int nMode;  // 0 install, 1 uninstall
    std::wstring strPackagePath;
    int bRunAppAfterSilentInstall;
    int bShowWindow;
    int bAllowDesktopIcon;
    int bAllowFinishWebPage;
    int bUseSharedMemory;
    std::wstring strSharedMemoryName;
};

// The one process-wide instance.
const StartupOptions& GetStartupOptions();
