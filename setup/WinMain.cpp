#include <windows.h>
#include <objbase.h>

#include <curl/curl.h>

#include "DebugConfig.h"
#include "InfoViewDlg.h"
#include "Log.h"
#include "ProductConfig.h"
#include "SetupApp.h"
#include "SkinBitmap.h"
#include "SystemInfo.h"
#include "WndShadow.h"

namespace {
// How long the end of the run waits for the dialog's threads before it
// keeps the dialog object alive instead of destroying it under them.
constexpr DWORD kExitThreadWaitMs = 10000;
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // libcurl's global set-up is not thread-safe: it runs before any thread
    // that may transfer (statistics, download engine) starts.
    curl_global_init(CURL_GLOBAL_ALL);
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
    // The dialog's threads end before static destruction reaches the object.
    EndSetupDlg(kExitThreadWaitMs);
    CoUninitialize();
    WriteLog("Exit app.");
    return 0;
}
