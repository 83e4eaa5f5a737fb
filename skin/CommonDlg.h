// Base of every dialog: centring at a DPI-scaled design size, dragging of the
// borderless window, and dispatch of the message stream to overridables.
#pragma once

#include <windows.h>

// Waits up to timeoutMs for the handle while answering messages that other
// threads send to this one (a thread being waited for may be sending to a
// window of this thread). True when the handle was signalled.
bool WaitAnsweringSentMessages(HANDLE handle, DWORD timeoutMs);

class CommonDlg {
public:
    CommonDlg() = default;
    virtual ~CommonDlg();
    CommonDlg(const CommonDlg&) = delete;
    CommonDlg& operator=(const CommonDlg&) = delete;

    // WM_INITDIALOG: stores the window, sizes and centres it; returns 1.
    virtual int OnInitDialog(HWND wnd);
    // The value the dialog's plain dialog procedure hands back to the platform.
    virtual INT_PTR DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Sees every message first; its result answers every message DialogProc
    // does not answer itself. For WM_LBUTTONDOWN non-zero means a control took
    // the press.
    virtual int OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_COMMAND other than a closing IDOK or IDCANCEL.
    virtual int OnCommand(WPARAM wParam, LPARAM lParam);
    // Never called by DialogProc.
    virtual int OnSpare(WPARAM wParam, LPARAM lParam);
    virtual void OnPaint();
    virtual void OnCreate();
    // Horizontal DPI of the dialog's window; 96 when none can be read.
    virtual int GetDpi();
    // value x DPI / 96, truncated toward zero.
    virtual int Scale(int value);
    // Fills the rectangle with a temporary solid brush; the fill's result.
    virtual int FillSolid(HDC dc, const RECT* rect, COLORREF colour);

    // Painting at any display scale: every dialog draws in design pixels
    // into a memory DC and hands the result to the window through this one
    // call, which scales the design rectangle (x, y, cx, cy) to the window's
    // pixels. The copy's result.
    BOOL PresentDesign(HDC windowDc, HDC memoryDc, int x, int y, int cx, int cy);
    // A window pixel of the client area as a design pixel (value x 96 / DPI,
    // truncated toward zero); the inverse of Scale.
    int ToDesign(int value);
    // The mouse messages' lParam in design pixels: what OnMessage and the
    // controls receive at every display scale.
    LPARAM MouseToDesign(LPARAM lParam);

    HWND GetWindow() const { return m_hWnd; }

protected:
    // Closing flags: IDCANCEL ends the dialog when kCloseOnCancel is set,
    // IDOK when kCloseOnOk is set.
    static constexpr int kCloseOnCancel = 1;
    static constexpr int kCloseOnOk = 2;

    HWND m_hWnd = nullptr;
    int m_bFixedSize = 0;  // non-zero: OnInitDialog gives the window the scaled design size
    int m_nWidth = 0;      // design size in 96-DPI pixels
    int m_nHeight = 0;
    int m_nCloseFlags = kCloseOnCancel | kCloseOnOk;
};
