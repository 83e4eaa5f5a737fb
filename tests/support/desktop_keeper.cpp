// Keeps the harness's Wine desktop alive for a whole test run.
//
// Wine starts its desktop process on demand, from the first program that
// needs one, and the desktop inherits that program's standard output and
// error. It lives while any program uses the desktop, so under a parallel
// run it would hold the starting test's output open, and CTest would wait
// for it until the test's time-out although the test had long ended. The
// harness starts this program first, detached from every output, so the
// desktop is started here and outlives every test. It owns one hidden
// window and ends on WM_CLOSE, on its bound, or when the harness ends it.
#include <windows.h>

namespace {

constexpr UINT_PTR kBoundTimer = 1;
constexpr UINT kBoundMs = 4u * 60u * 60u * 1000u;  // longer than any test run

LRESULT CALLBACK KeeperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kBoundTimer) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = KeeperProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"OrvaneHarnessDesktopKeeper";
    if (!RegisterClassW(&windowClass)) return 1;
    // A top-level window, never shown: it ties this program to the desktop.
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) return 1;
    SetTimer(window, kBoundTimer, kBoundMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
