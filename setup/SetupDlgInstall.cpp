#include "SetupDlg.h"

unsigned InstallThreadProc(SetupDlg* dlg) { return dlg ? 0 : static_cast<unsigned>(-1); }
void SetupDlg::DoInstall() {}
int SetupDlg::OnDownloadEvent(int, unsigned, long) { return 1; }
int SetupDlg::OnInstallProgress(int, unsigned, long) { return 1; }
int SetupDlg::InstallFile(std::wstring, std::wstring) { return -1; }
void SetupDlg::LoadPackageHeader() {}
void KillProductProcesses() {}
