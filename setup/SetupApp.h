// Process-wide objects of the installer application.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Log.h"
#include "Orvane.h"
#include "StartupOptions.h"
#include "WndShadow.h"

// The version-text resource, filled once by the version label.
extern std::string VersionText;
// A new GUID text per run, set by the main dialog's initialisation.
extern std::string ProcessGuid;
// The unique owner of the one main-dialog object.
extern std::unique_ptr<SetupDlg> SetupDlgHolder;
// The module instance; skinned controls and bitmaps load resources through it.
extern HINSTANCE g_hModuleInstance;

// The start-up code's own version constant.
inline constexpr char kSetupVersion[] = "1.0.6.0";
// Dialog template of the main dialog.
inline constexpr int kMainDialogTemplate = 130;

// The main window's drop shadow.
extern CWndShadow MainWindowShadow;

// Replaces the held dialog object with a new product dialog.
void CreateSetupDlg();
INT_PTR CALLBACK MainDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
// After the modal loop: stops the dialog's threads within timeoutMs and
// destroys the object; when a thread is still running the object is kept
// (leaked on purpose) and false is returned.
bool EndSetupDlg(DWORD timeoutMs);
