#include "SetupDlg.h"

void SetupDlg::WriteUninstallInfo() {}
bool SetupDlg::IsNewInstall(std::wstring) { return true; }
std::string SetupDlg::GetOldInstallPath() { return {}; }
bool SetupDlg::HasRegisteredInstallPath() { return false; }
int SetupDlg::ShowFinishWebPage(bool) { return 0; }
std::string SetupDlg::AppendClientParams(std::string url) { return url; }
