// The installer's own main dialog as a modeless window on the calling thread:
// template 130 with the installer's resources, its own OnInitDialog, controls,
// painters and paint thread, as a user sees them. The countdown that would
// start the install by itself is stopped; the caller pumps the messages.
#pragma once

#include <windows.h>

#include "SetupApp.h"
#include "SetupDlg.h"
#include "SkinTestUtil.h"

namespace real_dialog {

template <class Dialog>
class Window {
public:
    Window() {
        Current() = &dialog;
        wnd_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, Proc, 0);
        if (!wnd_) return;
        KillTimer(wnd_, kCountdownTimer);
        ShowWindow(wnd_, SW_SHOW);
        skin_test::Pump(200);
    }
    ~Window() {
        Stop();
        if (wnd_) DestroyWindow(wnd_);
        Current() = nullptr;
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND wnd() const { return wnd_; }
    // Joins every thread the dialog started; true when none is left.
    bool Stop() {
        if (!stopped_) stopped_ = dialog.StopThreads(15000);
        return stopped_;
    }
    // Starts the render thread as the Install trigger does.
    void StartRenderThread() {
        if (!g_hRenderThread.joinable()) g_hRenderThread = std::thread(RenderThreadProc, &dialog);
    }

    Dialog dialog;

private:
    static constexpr UINT_PTR kCountdownTimer = 1;
    static Dialog*& Current() {
        static Dialog* current = nullptr;
        return current;
    }
    static INT_PTR CALLBACK Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
        Dialog* current = Current();
        return current ? current->DialogProc(wnd, message, wParam, lParam) : 0;
    }

    HWND wnd_ = nullptr;
    bool stopped_ = false;
};

}  // namespace real_dialog
