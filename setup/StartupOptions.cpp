#include "StartupOptions.h"

StartupOptions::StartupOptions()
    : bSilent(0),
      nMode(0),
      bRunAppAfterSilentInstall(0),
      bShowWindow(1),
      bAllowDesktopIcon(1),
      bAllowFinishWebPage(1),
      bUseSharedMemory(0) {}

// In the library rather than beside the entry point, so the steps that read
// the options link into the tests as they do into the installer.
const StartupOptions& GetStartupOptions() {
    static const StartupOptions options;
    return options;
}
