#include "SetupDlg.h"

bool SetupDlg::ProcessBeforeInstall(std::wstring, bool* needRestart) {
    if (needRestart) *needRestart = false;
    return true;
}
void SetupDlg::DeleteHelperFiles(std::wstring) {}
void SetupDlg::CreateShortcuts(ShortcutInfo) {}
void SetupDlg::DeleteShortcuts(std::wstring) {}
bool SetupDlg::RunMainExeInstall(std::wstring, std::wstring, bool, bool*) { return false; }
bool SetupDlg::RunMainExeUninstall(std::wstring, std::wstring, bool*) { return false; }
