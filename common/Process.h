// Processes by name, starting programs as the desktop user or elevated,
// restarting Windows, shortcuts and the desktop icon refresh.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The folder kind of a shortcut.
enum ShortcutLocation : int {
    E_Shortcut_QuickLaunch = 0,
    E_Shortcut_TaskBarPin = 1,
    E_Shortcut_Programs = 2,
    E_Shortcut_CommonPrograms = 3,
    E_Shortcut_Desktop = 4,
    E_Shortcut_Folder = 5,  // a folder the caller gives (CreateShortcut only)
};

// Executable file names are compared without regard to case.
int FindProcessId(const std::wstring& exeName, DWORD& processId);
int IsProcessRunning(const std::wstring& exeName);
// Terminates the first process of that name and waits (at most waitMs) for
// it to end, so its files are no longer locked. 1 when one was found and
// asked to terminate.
int KillProcessByName(const std::wstring& exeName, DWORD waitMs = 5000);
// Terminates the first process of that name without waiting.
int KillFirstProcessByName(const std::wstring& exeName);

// Starts a program as the desktop shell's user when this process is an
// elevated administrator, else through the shell's "open". The program
// receives its quoted path, a blank and the parameters as its command line.
// Non-zero on success; 0 when there is no desktop shell to take the user from.
int RunUnelevated(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder, int show);
// The primary token of the user of the "Shell_TrayWnd" window, or null.
HANDLE GetShellUserToken();
// Starts a program with the "runas" verb; " -Admin" is appended to the
// parameters on Vista or later when this process is not an administrator.
int RunElevated(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder, int show);
// "runas", then waits (at most timeoutMs); true only when the program
// started and ended with exit code 0.
bool RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters, int show,
                        DWORD timeoutMs = 30 * 60 * 1000);

int EnableShutdownPrivilege();
// What hands a restart to Windows: ExitWindowsEx's flags and reason, its result.
using ExitWindowsCall = std::function<BOOL(UINT flags, DWORD reason)>;
// Restarts Windows. Programs that do not answer are closed, the others may
// still save their work. exitWindows makes the last call; a caller that must
// not restart the machine (a test) stands in for it.
void RestartSystem(const ExitWindowsCall& exitWindows = ExitWindowsEx);
// The flags and the reason RestartSystem hands to ExitWindowsEx.
constexpr UINT kRestartFlags = EWX_REBOOT | EWX_FORCEIFHUNG;
constexpr DWORD kRestartReason = SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED;

// The folder of a kind, into a MAX_PATH buffer (0 to 3, else the desktop).
int GetShortcutFolder(ShortcutLocation kind, wchar_t* buffer);

// A link "<folder>\<name>.lnk" to target in the kind's folder (kind 5: the
// working folder itself), optionally in a sub-folder that is created. The
// icon is the target's own when none is given. S_OK, E_POINTER without target
// or name, E_FAIL when the folder is missing or the link cannot be made.
HRESULT CreateShortcut(const wchar_t* target, const wchar_t* workingFolder, const wchar_t* name, ShortcutLocation kind,
                       const wchar_t* subFolder, const wchar_t* description, const wchar_t* iconPath,
                       const wchar_t* arguments);
// Writes "<folder>\<name>.lnk"; false when that path does not fit MAX_PATH.
// COM must be initialised on the calling thread.
bool MakeShortcut(const wchar_t* target, const wchar_t* folder, const wchar_t* name, const wchar_t* workingFolder,
                  WORD hotKey, const wchar_t* description, const wchar_t* iconPath, const wchar_t* arguments,
                  int show);
// Deletes a file (name with extension) of the kind's folder; true whether or
// not it was there, false when the folder is missing.
bool DeleteShortcut(ShortcutLocation kind, const wchar_t* fileName);
// Deletes a named sub-folder of the kind's folder. An empty name is refused:
// it would name the whole Programs folder.
bool DeleteShortcutFolder(ShortcutLocation kind, const wchar_t* folderName);
// The sub-folder from the user's and all users' Programs; false for an empty name.
bool RemoveProgramsGroup(const wchar_t* folderName);

// Makes Explorer redraw the desktop icons by raising "Shell Icon Size" by
// one for 200 ms.
void RefreshIcons();
