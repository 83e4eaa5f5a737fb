#include "CommonDlg.h"

#include "Handles.h"

CommonDlg::~CommonDlg() = default;

int CommonDlg::OnInitDialog(HWND wnd) {
    m_hWnd = wnd;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    RECT rect{};
    GetWindowRect(wnd, &rect);
    if (m_bFixedSize) rect = RECT{0, 0, Scale(m_nWidth), Scale(m_nHeight)};
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    MoveWindow(wnd, (screenWidth - width) / 2, (screenHeight - height) / 2, width, height, FALSE);
    return 1;
}

bool WaitAnsweringSentMessages(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
        const DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1 || left == 0) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

INT_PTR CommonDlg::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Controls stand at design pixels; the pointer is in the window's pixels.
    const bool mouse = message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP;
    const int r = OnMessage(message, wParam, mouse ? MouseToDesign(lParam) : lParam);
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(wnd);
        return 1;
    case WM_CREATE:
        OnCreate();
        return 1;
    case WM_PAINT:
        OnPaint();
        return r;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if ((id == IDOK && (m_nCloseFlags & kCloseOnOk)) || (id == IDCANCEL && (m_nCloseFlags & kCloseOnCancel))) {
            EndDialog(wnd, 0);
            return 1;
        }
        return OnCommand(wParam, lParam);
    }
    case WM_LBUTTONDOWN:
        if (r) {
            OutputDebugStringA("WM_LBUTTONDOWN  SetCapture\n");
            SetCapture(m_hWnd);
        } else {
            // A press on no control moves the borderless window: hand the
            // platform a press on a caption so its own move loop runs.
            POINT pt{LOWORD(lParam), HIWORD(lParam)};
            ClientToScreen(wnd, &pt);
            SendMessageW(wnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
        }
        return r;
    case WM_LBUTTONUP:
        OutputDebugStringA("WM_LBUTTONDOWN  ReleaseCapture\n");
        ReleaseCapture();
        return r;
    default:
        return r;
    }
}

int CommonDlg::OnMessage(UINT, WPARAM, LPARAM) { return 0; }
int CommonDlg::OnCommand(WPARAM, LPARAM) { return 0; }
int CommonDlg::OnSpare(WPARAM, LPARAM) { return 0; }
void CommonDlg::OnPaint() {}
void CommonDlg::OnCreate() {}

int CommonDlg::GetDpi() {
    int dpi = 0;
    if (m_hWnd && IsWindow(m_hWnd)) {
        WindowDc dc(m_hWnd);
        if (dc) dpi = GetDeviceCaps(dc.get(), LOGPIXELSX);
    }
    // Without a readable value the window would get size 0; design pixels
    // are the sound fallback.
    return dpi > 0 ? dpi : 96;
}

int CommonDlg::Scale(int value) { return value * GetDpi() / 96; }

int CommonDlg::ToDesign(int value) { return value * 96 / GetDpi(); }

LPARAM CommonDlg::MouseToDesign(LPARAM lParam) {
    const int dpi = GetDpi();
    if (dpi == 96) return lParam;
    const int x = static_cast<unsigned short>(lParam & 0xFFFF);
    const int y = static_cast<short>(static_cast<unsigned short>((lParam >> 16) & 0xFFFF));
    return MAKELPARAM(x * 96 / dpi, y * 96 / dpi);
}

BOOL CommonDlg::PresentDesign(HDC windowDc, HDC memoryDc, int x, int y, int cx, int cy) {
    const int dpi = GetDpi();
    if (dpi == 96) return BitBlt(windowDc, x, y, cx, cy, memoryDc, x, y, SRCCOPY);
    const int left = x * dpi / 96, top = y * dpi / 96;
    const int right = (x + cx) * dpi / 96, bottom = (y + cy) * dpi / 96;
    SetStretchBltMode(windowDc, HALFTONE);
    SetBrushOrgEx(windowDc, 0, 0, nullptr);
    return StretchBlt(windowDc, left, top, right - left, bottom - top, memoryDc, x, y, cx, cy, SRCCOPY);
}

int CommonDlg::FillSolid(HDC dc, const RECT* rect, COLORREF colour) {
    UniqueGdi<HBRUSH> brush(CreateSolidBrush(colour));
    return FillRect(dc, rect, brush.get());
}
