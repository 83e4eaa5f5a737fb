// What the tests and the stand-in product programs agree on: the registry key
// that steers the stand-ins and the names of its values. The key belongs to
// the tests; the stand-ins only read it.
#pragma once

#include <windows.h>

namespace standins {

// Under HKEY_CURRENT_USER.
inline constexpr wchar_t kConfigKey[] = L"Software\\OrvaneTests\\StandIns";
// REG_SZ: the file every stand-in appends its records to. Without it nothing
// is recorded; it never lies inside an installation folder.
inline constexpr wchar_t kLogFileValue[] = L"LogFile";
// REG_DWORD: exit code of the product's starts (default 0; 100 asks for a restart).
inline constexpr wchar_t kExitCodeValue[] = L"ExitCode";
// REG_DWORD: the exit code of one mode's starts, before "ExitCode": the value
// name is kExitCodeValue followed by "Install" ("/install"), "Uninstall"
// ("/uninstall" and "/full_uninstall") or "Quit" ("/quit_by_setup").
inline constexpr wchar_t kInstallMode[] = L"Install";
inline constexpr wchar_t kUninstallMode[] = L"Uninstall";
inline constexpr wchar_t kQuitMode[] = L"Quit";
// REG_DWORD: how long a product start waits before it exits (default 0);
// kNeverExit waits until the test ends it, at most kLifeBoundMs.
inline constexpr wchar_t kExitDelayValue[] = L"ExitDelayMs";
// REG_DWORD: 1 makes every plain product start resident (the tray window).
inline constexpr wchar_t kResidentValue[] = L"Resident";
// REG_DWORD: how long a resident copy lives at most (default 60 s).
inline constexpr wchar_t kResidentBoundValue[] = L"ResidentMs";

// REG_DWORD: 1 makes a resident copy ignore "/quit_by_setup" (it records
// "quit_ignored" and keeps running until WM_CLOSE or its bound).
inline constexpr wchar_t kIgnoreQuitValue[] = L"IgnoreQuit";
// REG_DWORD: how long a resident copy's tray window keeps its thread busy
// when it gets WM_CLOSE, before it quits (default 0): a hung tray window.
inline constexpr wchar_t kCloseHangValue[] = L"CloseHangMs";
// REG_DWORD: how long unins000.exe waits before it exits (default 0;
// kNeverExit: until ended, at most kLifeBoundMs).
inline constexpr wchar_t kUninstallerDelayValue[] = L"UninstallerDelayMs";

inline constexpr DWORD kNeverExit = 0xFFFFFFFF;
// No stand-in outlives this, whatever it was told.
inline constexpr DWORD kLifeBoundMs = 300000;
inline constexpr DWORD kDefaultResidentMs = 60000;

// The product's tray window.
inline constexpr wchar_t kTrayWindowTitle[] = L"VIZAZIRIVIZEVIDU";
inline constexpr wchar_t kTrayWindowClass[] = L"OrvaneStandInTray";
// Posted by a "/quit_by_setup" start to every resident copy; wParam: its pid.
inline constexpr wchar_t kQuitMessageName[] = L"OrvaneStandInQuitBySetup";

}  // namespace standins
