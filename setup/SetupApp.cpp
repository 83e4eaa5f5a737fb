#include "SetupApp.h"

#include "WndShadow.h"

// The main window's objects, in the library so the dialog's tests link them
// (the version and process texts are ProcessGlobals.cpp's, the start-up
// options StartupOptions.cpp's). Static initialisation order is the order of
// definition in this file; the objects are destroyed in the reverse order.
CWndShadow MainWindowShadow;
std::unique_ptr<SetupDlg> SetupDlgHolder;
HINSTANCE g_hModuleInstance = nullptr;

void CreateSetupDlg() { SetupDlgHolder = std::make_unique<Orvane>(); }

INT_PTR CALLBACK MainDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (GetStartupOptions().IsShowWindow()) {
        MainWindowShadow.Create(wnd, true);
    } else {
        MainWindowShadow.Create(wnd, false);
        // Hiding an already hidden window would send WM_SHOWWINDOW back here
        // again and again; hide only while it is visible.
        if (IsWindowVisible(wnd)) ShowWindow(wnd, SW_HIDE);
    }
    if (!SetupDlgHolder) return 0;
    return SetupDlgHolder->DialogProc(wnd, message, wParam, lParam);
}

bool EndSetupDlg(DWORD timeoutMs) {
    if (!SetupDlgHolder) return true;
    if (SetupDlgHolder->StopThreads(timeoutMs)) {
        SetupDlgHolder.reset();
        return true;
    }
    // A thread still runs inside the object: destroying it would pull its
    // fields away under that thread. The process ends with it still alive.
    WriteLog("Setup threads still running at exit; dialog kept.");
    SetupDlgHolder->DetachThreads();
    SetupDlgHolder.release();
    return false;
}
