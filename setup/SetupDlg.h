// The installer's main dialog object.
#pragma once

#include <windows.h>

class SetupDlg {
public:
    SetupDlg() = default;
    virtual ~SetupDlg() = default;
    SetupDlg(const SetupDlg&) = delete;
    SetupDlg& operator=(const SetupDlg&) = delete;

    // Receives every message of the main dialog.
    virtual INT_PTR DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// The product's own dialog.
class Orvane : public SetupDlg {};
