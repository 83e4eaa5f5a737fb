#include "SetupDlg.h"

void SetupDlg::CreateControls() {}
void SetupDlg::CreateOptionControls() {}
