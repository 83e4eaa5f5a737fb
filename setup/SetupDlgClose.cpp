#include "SetupDlg.h"

void SetupDlg::OnTimer(UINT_PTR) {}
int SetupDlg::OnAutoInstallTimer() { return 0; }
unsigned StartReportThreadProc(InstallStatsReporter*) { return 0; }

int SetupDlg::OnClose() {
    EndDialog(m_hWnd, 0);
    return 0;
}

int SetupDlg::SendFinishReport() { return 0; }
bool SetupDlg::OpenSharedMemory(std::wstring) { return false; }
void SetupDlg::WriteSharedMemory(const char*) {}
void SetupDlg::CloseSharedMemory() {}
void SetupDlg::RunProductApp(std::wstring) {}
