#include <windows.h>
#include <objbase.h>

#include "DebugConfig.h"
#include "InfoViewDlg.h"
#include "Log.h"
#include "ProductConfig.h"
#include "SetupApp.h"
#include "SkinBitmap.h"
#include "SystemInfo.h"
#include "WndShadow.h"

// Static initialisation order is the order of definition in this file.
// VersionText, ProcessGuid and the start-up options live in the library
// (ProcessGlobals.cpp), so the dialog's code links into the tests too.
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

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    ShowInfoViewIfEnabled();

    std::wstring logPath;
    GetDocumentsPath(logPath, ProductConfig::GetProductFolderW() + L"\\Log\\", L"install.log", 1);
    GetLog()->Init(logPath);
    GetLog()->SetCallback(OnLogLine);

    WriteLog("Setup Init. Version %s", kSetupVersion);
    WriteLog(Is64BitWindows() ? "System Mode : x64" : "System Mode : x86");
    if (IsTestMode()) WriteLog("Test Mode : true\n");

    CoInitialize(nullptr);
    g_hModuleInstance = instance;
    SetSkinInstance(instance);
    CWndShadow::Initialize(instance);
    CreateSetupDlg();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, MainDlgProc, 0);
    CoUninitialize();
    WriteLog("Exit app.");
    return 0;
}
