#include "SetupDlg.h"

#include "Text.h"

void SetupDlg::UpdateCtrlStatus(int) {}
void SetupDlg::ShowVersionLabel() {}
void SetupDlg::ShowOptionsPanel(bool) {}
void SetupDlg::OnBtnCustom() {}
void SetupDlg::OnBtnAccept() {}
void SetupDlg::OnBtnLicense() {}
void SetupDlg::OnBtnBrower() {}
void SetupDlg::OnBtnDesktopIcon() {}
void SetupDlg::OnBtnJoinUx() {}
void SetupDlg::OnBtnUxProgram() {}
void SetupDlg::OnBtnUninstall() {}
void SetupDlg::OnBtnClose() { SendMessageW(m_hWnd, WM_CLOSE, 0, 0); }
void SetupDlg::OnBtnMinimize() { ShowWindow(m_hWnd, SW_MINIMIZE); }
int SetupDlg::DispatchMouseMove(int, int) { return 0; }
int SetupDlg::DispatchLButtonDown(int, int) { return 0; }
int SetupDlg::DispatchLButtonUp(int, int) { return 0; }
void SetupDlg::CallOnTimer(UINT_PTR id) { OnTimer(id); }
int CALLBACK SetupDlg::BrowseFolderCallback(HWND, UINT, LPARAM, LPARAM) { return 0; }
void CopyWideToNarrow(std::string& out, const std::wstring& text) { WideToNarrow(text, out); }
