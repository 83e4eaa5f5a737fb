// Stand-in for an older installation's uninstaller "unins000.exe", for tests
// only: records its start and exits 0.
#include <windows.h>

#include "StandInLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standins::AppendRecord("unins000", "start", standins::StartFields());
    standins::AppendRecord("unins000", "exit", {{"code", L"0"}});
    return 0;
}
