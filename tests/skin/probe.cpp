// Child process of the skin tests, for what a process reads once when it
// starts (its DPI, its Windows version). It writes what it measured to OUT:
//   probe OUT          fixed-size dialogs and the message box at this DPI:
//                      "dpi w1 h1 x1 y1 w2 h2 x2 y2 boxW boxH header footer corner result"
//   probe OUT shadow   a shadowed window told that composition changed:
//                      "composition shadowVisible status"
//   probe OUT show MS  a sample message box, closed after MS milliseconds
//                      (for screenshots): "result"
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "CommonDlg.h"
#include "SkinMessageBox.h"
#include "SkinTestUtil.h"
#include "WndShadow.h"

#include <dwmapi.h>

namespace {

class ProbeDlg : public CommonDlg {
public:
    ProbeDlg(int width, int height) {
        m_bFixedSize = 1;
        m_nWidth = width;
        m_nHeight = height;
    }
};

ProbeDlg* g_dlg = nullptr;

INT_PTR CALLBACK ProbeProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_dlg ? g_dlg->DialogProc(wnd, message, wParam, lParam) : 0;
}

RECT Measure(int width, int height, int* dpi) {
    ProbeDlg dlg(width, height);
    g_dlg = &dlg;
    HWND wnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(173), nullptr, ProbeProc, 0);
    RECT r{};
    GetWindowRect(wnd, &r);
    if (dpi) *dpi = dlg.GetDpi();
    DestroyWindow(wnd);
    g_dlg = nullptr;
    return r;
}

COLORREF PixelOf(HWND wnd, int x, int y) {
    HDC dc = GetDC(wnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(wnd, dc);
    return c;
}

unsigned Rgb(COLORREF c) { return GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c); }

}  // namespace

int ProbeShadow(const wchar_t* out) {
    CWndShadow::Initialize(GetModuleHandleW(nullptr));
    skin_test::OwnerWindow parent(200, 150, 300, 200);
    CWndShadow shadow;
    shadow.Create(parent.hwnd(), true);
    SendMessageW(parent.hwnd(), WM_DWMCOMPOSITIONCHANGED, 0, 0);
    BOOL composition = FALSE;
    DwmIsCompositionEnabled(&composition);
    FILE* f = _wfopen(out, L"w");
    if (!f) return 3;
    fprintf(f, "%d %d %d\n", composition ? 1 : 0, IsWindowVisible(shadow.GetShadowWindow()) ? 1 : 0,
            shadow.GetStatus());
    fclose(f);
    return 0;
}

int ProbeShow(const wchar_t* out, DWORD ms) {
    const DWORD threadId = GetCurrentThreadId();
    std::thread closer([=] {
        HWND box = skin_test::FindThreadDialog(threadId, 5000);
        Sleep(ms);
        if (box) PostMessageW(box, WM_CLOSE, 0, 0);
    });
    const int result = ShowSkinMessageBox(nullptr, L"Orvane",
                                          L"Not enough free space on the disk. Free some space or choose another "
                                          L"folder, then try again.",
                                          L"OK");
    closer.join();
    FILE* f = _wfopen(out, L"w");
    if (!f) return 3;
    fprintf(f, "%d\n", result);
    fclose(f);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    if (argc > 3 && lstrcmpW(argv[2], L"show") == 0) return ProbeShow(argv[1], _wtoi(argv[3]));
    if (argc > 2 && lstrcmpW(argv[2], L"shadow") == 0) return ProbeShadow(argv[1]);
    int dpi = 0;
    const RECT a = Measure(622, 405, &dpi);
    const RECT b = Measure(420, 210, nullptr);

    int boxW = 0, boxH = 0;
    unsigned header = 0, footer = 0, corner = 0;
    const DWORD threadId = GetCurrentThreadId();
    std::thread driver([&] {
        HWND box = skin_test::FindThreadDialog(threadId, 5000);
        if (!box) return;
        Sleep(400);  // a few frames of the redraw thread
        RECT r{};
        GetWindowRect(box, &r);
        boxW = r.right - r.left;
        boxH = r.bottom - r.top;
        header = Rgb(PixelOf(box, boxW - 2, 30));
        // The box is drawn at design size and scaled: the footer under the
        // button sits at the scaled design point.
        footer = Rgb(PixelOf(box, 150 * dpi / 96, 183 * dpi / 96));
        corner = Rgb(PixelOf(box, boxW - 1, boxH - 1));
        skin_test::Canvas picture(boxW, boxH);
        skin_test::CaptureClient(box, picture);
        picture.SaveBmp(std::wstring(argv[1]) + L".bmp");
        // A click on the button where the display shows it: the box turns
        // the window's pixels back into its design pixels.
        const LPARAM at = MAKELPARAM(210 * dpi / 96, 183 * dpi / 96);
        PostMessageW(box, WM_MOUSEMOVE, 0, at);
        PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(box, WM_LBUTTONUP, 0, at);
        for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
        if (IsWindow(box)) PostMessageW(box, WM_CLOSE, 0, 0);
    });
    const int result = ShowSkinMessageBox(nullptr, L"Probe", L"Measuring the box.", L"OK");
    driver.join();

    FILE* f = _wfopen(argv[1], L"w");
    if (!f) return 3;
    fprintf(f, "%d %ld %ld %ld %ld %ld %ld %ld %ld %d %d %06x %06x %06x %d\n", dpi, a.right - a.left, a.bottom - a.top,
            a.left, a.top, b.right - b.left, b.bottom - b.top, b.left, b.top, boxW, boxH, header, footer, corner,
            result);
    fclose(f);
    return 0;
}
