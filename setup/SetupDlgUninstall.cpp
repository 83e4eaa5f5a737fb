// The uninstall worker's entry points: the thread procedure, the work (the
// uninstall road, UninstallRoad.cpp, with the dialog as its window and
// steps) and the uninstall page's events.
#include <windows.h>

#include "SetupDlg.h"
#include "UninstallRoad.h"

namespace {

constexpr int kUninstallStart = 0;
constexpr int kUninstallDone = 1;
constexpr int kUninstallFailed = 2;
constexpr int kUninstallPosition = 3;

// The full bar stays this long before the done page replaces it.
constexpr DWORD kDonePauseMs = 200;

}  // namespace

unsigned UninstallThreadProc(SetupDlg* dlg) {
    if (!dlg) return static_cast<unsigned>(-1);
    dlg->UninstallWork();
    return 0;
}

void SetupDlg::UninstallWork() { RunDialogUninstallRoad(*this); }

int SetupDlg::OnUninstallProgress(int event, unsigned value, long) {
    switch (event) {
    case kUninstallStart:
        ShowUninstallStart();
        break;
    case kUninstallDone:
        ShowUninstallPosition(100);
        Sleep(kDonePauseMs);
        ShowUninstallDone(bNeedRestart);
        break;
    case kUninstallFailed:
        ShowUninstallFailed();
        break;
    case kUninstallPosition:
        ShowUninstallPosition(value);
        break;
    default:
        break;
    }
    return 1;
}
