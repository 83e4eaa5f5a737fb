#include "SetupDlg.h"

unsigned UninstallThreadProc(SetupDlg* dlg) { return dlg ? 0 : static_cast<unsigned>(-1); }
void SetupDlg::UninstallWork() {}
int SetupDlg::OnUninstallProgress(int, unsigned, long) { return 1; }
