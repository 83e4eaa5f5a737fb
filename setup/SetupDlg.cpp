#include "SetupDlg.h"

// Until the pages exist the dialog ends itself right after it opens, so a
// run starts, logs and exits in order.
INT_PTR SetupDlg::DialogProc(HWND wnd, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            PostMessageW(wnd, WM_CLOSE, 0, 0);
            return TRUE;
        case WM_CLOSE:
            EndDialog(wnd, 0);
            return TRUE;
        default:
            return FALSE;
    }
}
