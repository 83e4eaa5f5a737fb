// Stand-in for an older installation's uninstaller "unins000.exe", for tests
// only: records its start, waits "UninstallerDelayMs" (so a test can make it
// outlive the installer's bound) and exits 0.
#include <windows.h>

#include "StandInConfig.h"
#include "StandInLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standins::AppendRecord("unins000", "start", standins::StartFields());
    DWORD delay = standins::ReadConfigDword(standins::kUninstallerDelayValue, 0);
    if (delay == standins::kNeverExit || delay > standins::kLifeBoundMs) delay = standins::kLifeBoundMs;
    if (delay > 0) Sleep(delay);
    standins::AppendRecord("unins000", "exit", {{"code", L"0"}});
    return 0;
}
