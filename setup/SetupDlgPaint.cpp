#include "SetupDlg.h"

unsigned PaintThreadProc(SetupDlg*) { return 0; }
void SetupDlg::OnPaint() {}
void SetupDlg::OnCreate() {}
void SetupDlg::PaintReadyPage() {}
void SetupDlg::PaintDownloadPage() {}
void SetupDlg::PaintInstallPage() {}
void SetupDlg::PaintFinishPage() {}
