#include "Process.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "Handles.h"
#include "JFile.h"
#include "Log.h"
#include "Paths.h"
#include "Registry.h"
#include "SystemInfo.h"

namespace {

const char kWindowMetricsKey[] = "Control Panel\\Desktop\\WindowMetrics";
const char kShellIconSize[] = "Shell Icon Size";

// Calls visit(entry) for each process of the snapshot until it returns true;
// false when nothing matched or the snapshot failed.
template <typename Visit>
bool ForEachProcessNamed(const std::wstring& exeName, Visit visit) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0 && visit(entry)) return true;
    return false;
}

// "<folder>\<name>" into a MAX_PATH buffer, or false when it does not fit.
bool FormatInto(wchar_t* buffer, const wchar_t* format, const wchar_t* folder, const wchar_t* name) {
    const int written = _snwprintf(buffer, MAX_PATH, format, folder, name);
    if (written < 0 || written >= MAX_PATH) {
        buffer[0] = L'\0';
        return false;
    }
    return true;
}

// The icon size as the registry holds it; 32 when missing or unusable.
int ReadShellIconSize() {
    CMyRegKey key;
    std::string text;
    int size = 0;
    if (key.Open(HKEY_CURRENT_USER, kWindowMetricsKey, KEY_READ) == ERROR_SUCCESS &&
        key.QueryStringValue(kShellIconSize, text) == ERROR_SUCCESS)
        size = atoi(text.c_str());
    return size > 0 ? size : 32;
}

void WriteShellIconSize(int size) {
    CMyRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kWindowMetricsKey, KEY_SET_VALUE) != ERROR_SUCCESS) return;
    key.SetStringValue(kShellIconSize, std::to_string(size));
}

// A name below a shortcut folder: not empty, not absolute, no "..", so that
// the deletions below stay inside the folder.
bool IsNameBelowFolder(const wchar_t* name) {
    if (!name || !*name || name[0] == L'\\' || name[0] == L'/' || wcschr(name, L':')) return false;
    std::wstring text = name;
    for (auto& c : text)
        if (c == L'/') c = L'\\';
    text = L"\\" + text + L"\\";
    return text.find(L"\\..\\") == std::wstring::npos && text.find(L"\\.\\") == std::wstring::npos;
}

}  // namespace

int FindProcessId(const std::wstring& exeName, DWORD& processId) {
    return ForEachProcessNamed(exeName, [&](const PROCESSENTRY32W& entry) {
        processId = entry.th32ProcessID;
        return true;
    });
}

int IsProcessRunning(const std::wstring& exeName) {
    return ForEachProcessNamed(exeName, [](const PROCESSENTRY32W&) { return true; });
}

int KillProcessByName(const std::wstring& exeName, DWORD waitMs) {
    return ForEachProcessNamed(exeName, [waitMs](const PROCESSENTRY32W& entry) {
        // Termination is asynchronous: wait, bounded, until the process has
        // really ended and released its files.
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process) {
            TerminateProcess(process.get(), 0);
            WaitForSingleObject(process.get(), waitMs);
        }
        return true;
    });
}

int KillFirstProcessByName(const std::wstring& exeName) {
    return ForEachProcessNamed(exeName, [](const PROCESSENTRY32W& entry) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (process) TerminateProcess(process.get(), 0);
        return true;
    });
}

HANDLE GetShellUserToken() {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray) return nullptr;
    DWORD processId = 0;
    GetWindowThreadProcessId(tray, &processId);
    if (!processId) return nullptr;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process) return nullptr;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE, &token)) return nullptr;
    UniqueHandle shellToken(token);
    HANDLE duplicate = nullptr;
    if (!DuplicateTokenEx(shellToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          &duplicate))
        return nullptr;
    return duplicate;
}

int RunUnelevated(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder, int show) {
    if (!IsVistaOrLater() || !IsUserAdmin()) {
        const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", file.c_str(),
                                                                       parameters.c_str(),
                                                                       folder.empty() ? nullptr : folder.c_str(), show));
        return result >= 33 ? 1 : 0;
    }
    UniqueHandle token(GetShellUserToken());
    if (!token) return 0;

    using CreateProcessWithTokenWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                                    LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    // Looked up once per process; thread-safe by static initialisation.
    static const CreateProcessWithTokenWFn createWithToken = [] {
        HMODULE advapi = LoadLibraryW(L"ADVAPI32.dll");
        return advapi ? reinterpret_cast<CreateProcessWithTokenWFn>(
                            reinterpret_cast<void*>(GetProcAddress(advapi, "CreateProcessWithTokenW")))
                      : nullptr;
    }();
    if (!createWithToken) return 0;

    // The program sees its own quoted path as the first word, as when the
    // shell starts it; the buffer must be writable.
    std::wstring commandLine = L"\"" + file + L"\"";
    if (!parameters.empty()) commandLine += L" " + parameters;
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    ProcessInformation info;
    const BOOL started = createWithToken(token.get(), LOGON_WITH_PROFILE, file.c_str(), buffer.data(),
                                         NORMAL_PRIORITY_CLASS, nullptr, folder.empty() ? nullptr : folder.c_str(),
                                         &startup, info.put());
    return started ? 1 : 0;
}

int RunElevated(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder, int show) {
    std::wstring arguments = parameters;
    if (IsVistaOrLater() && !IsUserAdmin()) arguments += L" -Admin";
    const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, L"runas", file.c_str(), arguments.c_str(), folder.empty() ? nullptr : folder.c_str(), show));
    return result > 32 ? 1 : 0;
}

bool RunElevatedAndWait(const std::wstring& file, const std::wstring& parameters, int show, DWORD timeoutMs) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error box of the shell's own: a failure is reported by the result,
    // and a box nobody answers (a silent install) would wait forever.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = show;
    if (!ShellExecuteExW(&info) || !info.hProcess) return false;
    UniqueHandle process(info.hProcess);
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD exitCode = STILL_ACTIVE;
    return GetExitCodeProcess(process.get(), &exitCode) && exitCode == 0;
}

int EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return 0;
    UniqueHandle owner(token);
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return 0;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(0);
    // Succeeds without enabling anything when the token lacks the privilege;
    // only the last error tells.
    if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) || GetLastError() != 0) return 0;
    return 1;
}

void RestartSystem(const ExitWindowsCall& exitWindows) {
    WriteLog("Do Restart ...");
    if (!EnableShutdownPrivilege()) WriteLog("Get privilege fail !");
    // Not EWX_FORCE: that would close programs with unsaved work unasked.
    exitWindows(kRestartFlags, kRestartReason);
}

int GetShortcutFolder(ShortcutLocation kind, wchar_t* buffer) {
    switch (kind) {
        case E_Shortcut_QuickLaunch: return GetQuickLaunchPath(buffer);
        case E_Shortcut_TaskBarPin: return GetTaskBarPinPath(buffer);
        case E_Shortcut_Programs: return GetProgramsPath(buffer);
        case E_Shortcut_CommonPrograms: return GetCommonProgramsPath(buffer);
        default: return GetDesktopPath(buffer);
    }
}

HRESULT CreateShortcut(const wchar_t* target, const wchar_t* workingFolder, const wchar_t* name, ShortcutLocation kind,
                       const wchar_t* subFolder, const wchar_t* description, const wchar_t* iconPath,
                       const wchar_t* arguments) {
    if (!target || !name) return E_POINTER;
    wchar_t folder[MAX_PATH] = {};
    if (kind == E_Shortcut_Folder) {
        if (!workingFolder || wcslen(workingFolder) >= MAX_PATH) return E_FAIL;
        wcscpy(folder, workingFolder);
    } else if (!GetShortcutFolder(kind, folder)) {
        return E_FAIL;
    }
    if (!PathFileExistsW(folder)) return E_FAIL;
    if (subFolder && *subFolder) {
        const std::wstring joined = PathJoin(folder, subFolder);
        if (joined.empty()) return E_FAIL;
        wcscpy(folder, joined.c_str());
        CreateDirectories(folder);
    }
    return MakeShortcut(target, folder, name, workingFolder, 0, description, iconPath, arguments, SW_SHOWNORMAL)
               ? S_OK
               : E_FAIL;
}

bool MakeShortcut(const wchar_t* target, const wchar_t* folder, const wchar_t* name, const wchar_t* workingFolder,
                  WORD hotKey, const wchar_t* description, const wchar_t* iconPath, const wchar_t* arguments,
                  int show) {
    if (!folder || !target || !name) return false;
    // A cut path could lose ".lnk" or land in another folder.
    wchar_t linkPath[MAX_PATH];
    if (!FormatInto(linkPath, L"%ls\\%ls.lnk", folder, name)) return false;

    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return false;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;

    link->SetPath(target);
    link->SetIconLocation(iconPath ? iconPath : target, 0);
    if (arguments) link->SetArguments(arguments);
    if (workingFolder) link->SetWorkingDirectory(workingFolder);
    if (hotKey) link->SetHotkey(hotKey);
    if (description) link->SetDescription(description);
    link->SetShowCmd(show);
    return SUCCEEDED(file->Save(linkPath, TRUE));
}

namespace {

// The path of a name inside the kind's existing folder; empty when the folder
// is missing or the name would reach outside it (an empty name would be the
// whole folder).
std::wstring PathInShortcutFolder(ShortcutLocation kind, const wchar_t* name) {
    if (!IsNameBelowFolder(name)) return std::wstring();
    wchar_t folder[MAX_PATH] = {};
    if (!GetShortcutFolder(kind, folder) || !PathFileExistsW(folder)) return std::wstring();
    return PathJoin(folder, name);
}

}  // namespace

bool DeleteShortcut(ShortcutLocation kind, const wchar_t* fileName) {
    const std::wstring path = PathInShortcutFolder(kind, fileName);
    if (path.empty()) return false;
    DeleteFileW(path.c_str());
    return true;
}

bool DeleteShortcutFolder(ShortcutLocation kind, const wchar_t* folderName) {
    const std::wstring path = PathInShortcutFolder(kind, folderName);
    if (path.empty()) return false;
    DeleteDirectory(path);
    return true;
}

bool RemoveProgramsGroup(const wchar_t* folderName) {
    if (!folderName || !*folderName) return false;
    DeleteShortcutFolder(E_Shortcut_Programs, folderName);
    DeleteShortcutFolder(E_Shortcut_CommonPrograms, folderName);
    return true;
}

namespace {

// Posts the metrics change to every top-level window. A system that takes
// WM_SETTINGCHANGE for a message with a pointer refuses to post it
// (ERROR_MESSAGE_SYNC_ONLY); it is then sent, with a bound per window and
// skipping hung ones, so a hung program cannot stop the install.
void BroadcastMetricsChange() {
    if (PostMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0)) return;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                        200, &result);
}

}  // namespace

void RefreshIcons() {
    const int size = ReadShellIconSize();
    WriteShellIconSize(size + 1);
    BroadcastMetricsChange();
    Sleep(200);
    WriteShellIconSize(size);
    BroadcastMetricsChange();
}
