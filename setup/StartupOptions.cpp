#include "StartupOptions.h"

StartupOptions::StartupOptions()
    : bSilent(0),
      nMode(0),
      bRunAppAfterSilentInstall(0),
      bShowWindow(1),
      bAllowDesktopIcon(1),
      bAllowFinishWebPage(1),
      bUseSharedMemory(0) {}
