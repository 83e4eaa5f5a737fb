#include "SetupDlg.h"

int SetupDlg::OnBtnInstall() { return 0; }
int SetupDlg::CheckInstallConditions() { return 0; }
bool SetupDlg::IsOsSupported() { return true; }
