#include "Orvane.h"

#include <shlwapi.h>

#include <cwchar>

#include "DebugConfig.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ProductStepsSupport.h"
#include "Registry.h"
#include "SystemInfo.h"
#include "Text.h"

namespace {

// An older version's entry, written by its own installer.
constexpr char kOldVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvex Orvane_is1";
// The title of the product's tray window.
constexpr wchar_t kTrayWindowTitle[] = L"VIZAZIRIVIZEVIDU";
// The exit code with which the product's runs ask for a restart.
constexpr int kRestartExitCode = 100;
constexpr DWORD kQuitCheckMs = 1000;

bool FileExists(const std::wstring& path) { return !path.empty() && PathFileExistsW(path.c_str()); }

// The older version's folder: the native registry view first, then the
// default one, where the key is created (empty) when it is missing. Read
// wide, so a folder the ANSI code page cannot spell is still found.
std::wstring ReadOldVersionLocation() {
    std::wstring location;
    {
        CMyRegKey key;
        if (key.Open64(HKEY_LOCAL_MACHINE, kOldVersionKey) == ERROR_SUCCESS) {
            location = ReadWideRegString(key.Handle(), L"InstallLocation");
        }
    }
    if (location.empty()) {
        CMyRegKey key;
        if (key.Create(HKEY_LOCAL_MACHINE, kOldVersionKey) == ERROR_SUCCESS) {
            location = ReadWideRegString(key.Handle(), L"InstallLocation");
        }
    }
    return location;
}

// The tray window of a running product is asked to close. Its thread may
// hang, so the send has a bound instead of blocking the install worker.
void CloseTrayWindow(DWORD timeoutMs) {
    HWND tray = FindWindowW(nullptr, kTrayWindowTitle);
    if (tray == nullptr) return;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(tray, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &result)) {
        WriteLog("Tray window did not answer WM_CLOSE within %lu ms.\n", static_cast<unsigned long>(timeoutMs));
    }
}

// Deletes a set-aside file when it is there; false (with its log line) when
// that fails.
bool DeleteSetAside(const std::wstring& path, const char* failureFormat) {
    if (!FileExists(path) || DeleteFileW(path.c_str())) return true;
    WriteLog(failureFormat, reinterpret_cast<void*>(GetLastError()));
    return false;
}

// Moves a library to its set-aside name when it is there; failures are logged.
void SetAside(const std::wstring& from, const std::wstring& to, const char* failureFormat) {
    if (FileExists(from) && !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED)) {
        WriteLog(failureFormat, reinterpret_cast<void*>(GetLastError()));
    }
}

// A copy that replaces an existing file. The source is deleted afterwards
// only when asked and only when the copy succeeded: a failed copy must not
// lose the driver.
void CopyDriver(const std::wstring& folder, const wchar_t* name, const std::wstring& targetFolder,
                bool deleteSource) {
    const std::wstring source = PathJoin(folder, name);
    const std::wstring target = PathJoin(targetFolder, name);
    if (source.empty() || target.empty()) return;
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        if (FileExists(source)) {
            WriteLog("Copy %s to %s error : %lu.\n", WideToNarrow(source).c_str(), WideToNarrow(target).c_str(),
                     static_cast<unsigned long>(GetLastError()));
        }
        return;
    }
    if (deleteSource) DeleteFileW(source.c_str());
}

// Both drivers into the system's drivers folder; the second driver leaves the
// installation folder once it is there.
void CopyDriversToSystem(const std::wstring& installFolder) {
    WriteLog("copy sys file to system.\n");
    std::wstring system;
    const std::wstring drivers = PathJoin(GetSystemFolderPath(system, false), L"drivers");
    CopyDriver(installFolder, L"orvane.sys", drivers, false);
    CopyDriver(installFolder, L"tarvexio.sys", drivers, true);
}

// Runs the product's executable elevated and hidden and waits for it
// (bounded); true with its exit code when it ran to its end.
bool RunProductExe(const std::wstring& exePath, const std::wstring& parameters, DWORD timeoutMs, DWORD& exitCode) {
    ShellStartResult run = StartShellProgram(L"runas", exePath, parameters, SW_HIDE);
    if (!run.started) return false;
    return WaitForProgramEnd(run.process.get(), timeoutMs, "Main exe", exitCode);
}

// File-system redirection off for this thread for the life of the object.
class RedirectionOff {
public:
    explicit RedirectionOff(const FsRedirectionCalls& calls) : calls_(calls), off_(calls.disable(&old_) != FALSE) {}
    ~RedirectionOff() {
        if (off_) calls_.revert(old_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;
    bool off() const { return off_; }
    // Turns it back on now; false (and logged) when that failed.
    bool Restore() {
        if (!off_) return true;
        off_ = false;
        if (calls_.revert(old_)) return true;
        WriteLog("Revert file system redirection failed : %lu.\n", static_cast<unsigned long>(GetLastError()));
        return false;
    }

private:
    const FsRedirectionCalls& calls_;
    PVOID old_ = nullptr;
    bool off_;
};

}  // namespace

Orvane::~Orvane() = default;

std::wstring Orvane::IntToWString(int value) {
    wchar_t text[16] = {};
    _snwprintf(text, 15, L"%d", value);
    return text;
}

bool Orvane::IsRestartExitCode(int exitCode) { return exitCode == kRestartExitCode; }

bool Orvane::IsArchitectureMatch() { return Is64BitWindows() == (packageHeader.isX64 != 0); }

bool Orvane::RegisterServerDll(const std::wstring& switches, const std::wstring& dllPath) {
    std::wstring system;
    const std::wstring program = PathJoin(GetSystemFolderPath(system, true), L"regsvr32.exe");
    ShellStartResult run = StartShellProgram(L"runas", program, switches + L" \"" + dllPath + L"\"", SW_HIDE);
    if (!run.started) return false;
    DWORD exitCode = 0;
    WaitForProgramEnd(run.process.get(), waitBounds.regsvr32Ms, "regsvr32", exitCode);
    return true;
}

bool Orvane::ProcessBeforeInstall(std::wstring installFolder, bool* needRestart) {
    WriteLog("Check old version.\n");
    const std::wstring location = ReadOldVersionLocation();
    if (!location.empty()) {
        CloseTrayWindow(waitBounds.trayCloseMs);
        WriteLog("Find inno version.\n");
        const std::wstring uninstaller = PathJoin(location, L"unins000.exe");
        if (FileExists(uninstaller)) {
            ShellStartResult run =
                StartShellProgram(L"open", uninstaller, L" /silent /norestart /suppressmsgboxes", SW_SHOW);
            DWORD exitCode = 0;
            if (run.started) WaitForProgramEnd(run.process.get(), waitBounds.oldUninstallerMs, "Old uninstaller",
                                               exitCode);
            // The older version's files may still be in use until Windows
            // restarts, so a restart is asked for whatever happened.
            WriteLog("need restart.\n");
            if (needRestart) *needRestart = true;
            return false;
        }
    }
    WriteLog("Not find inno version.\n");

    if (IsTestRestart()) {
        if (!DeleteSetAside(PathJoin(installFolder, L"orvane.tmp"), "DeleteFile orvane.tmp error : %p.\n")) {
            if (needRestart) *needRestart = true;
            return false;
        }
        WriteLog("remove temp1 file success.\n");
        if (!DeleteSetAside(PathJoin(installFolder, L"orvane32.tmp"), "DeleteFile orvane32.tmp error : %p.\n")) {
            if (needRestart) *needRestart = true;
            return false;
        }
        WriteLog("remove temp2 file success.\n");
        SetAside(PathJoin(installFolder, L"orvane32.dll"), PathJoin(installFolder, L"orvane32.tmp"),
                 "MoveFile orvane32.dll error : %p.\n");
        SetAside(PathJoin(installFolder, L"orvane.dll"), PathJoin(installFolder, L"orvane.tmp"),
                 "MoveFile orvane.dll error : %p.\n");
    }
    return SetupDlg::ProcessBeforeInstall(installFolder, needRestart);
}

bool Orvane::RunMainExeInstall(std::wstring installFolder, std::wstring exeName, bool, bool* needRestart) {
    const bool is64 = Is64BitWindows();
    if (is64) {
        RedirectionOff redirection(fsRedirection);
        if (redirection.off()) {
            CopyDriversToSystem(installFolder);
            // The 32-bit regsvr32 loads libraries, which fails while
            // redirection is off: it starts only once redirection is back.
            if (!redirection.Restore()) return false;
            WriteLog("regsvr32 dll.\n");
            const std::wstring library = PathJoin(installFolder, L"orvane32.dll");
            if (FileExists(library)) RegisterServerDll(L"/s", library);
            WriteLog("regsvr32 dll finish.\n");
        }
    } else {
        CopyDriversToSystem(installFolder);
    }

    WriteLog("copy sys file to install path.\n");
    const std::wstring driverFolder = PathJoin(installFolder, is64 ? L"x64" : L"x86");
    if (!driverFolder.empty()) CreateDirectoryW(driverFolder.c_str(), nullptr);
    CopyDriver(installFolder, L"orvane.sys", driverFolder, true);

    const std::wstring exePath = PathJoin(installFolder, exeName);
    if (!FileExists(exePath)) {
        WriteLog("Run exe failed. main exe con't found\n.");
        return false;
    }
    WriteLog("Run MainExe.exe /install");
    const std::wstring parameters =
        L"/install /XI:" + IntToWString(static_cast<int>(reinterpret_cast<INT_PTR>(GetWindow())));
    WriteLog("Run Install Params: %s.\n", WideToNarrow(parameters).c_str());
    DWORD exitCode = 0;
    // A run that did not end by itself gave no answer: the flag keeps its value.
    if (RunProductExe(exePath, parameters, waitBounds.productRunMs, exitCode) && needRestart) {
        *needRestart = IsRestartExitCode(static_cast<int>(exitCode));
    }
    WriteLog("Run MainExe.exe finish");
    return true;
}

bool Orvane::RunMainExeUninstall(std::wstring installFolder, std::wstring exeName, bool* needRestart) {
    const std::wstring name = packageHeader.isX64 ? ProductConfig::GetMainExeNameX64W() : exeName;
    const std::wstring exePath = PathJoin(installFolder, name);
    bool result = false;
    if (FileExists(exePath)) {
        WriteLog("Run MainExe.exe /uninstall \n");
        const bool keepConfig = GetUninstallChoices().keepConfiguration;
        DWORD exitCode = 0;
        if (!RunProductExe(exePath, keepConfig ? L"/uninstall /XU" : L"/full_uninstall /XU", waitBounds.productRunMs,
                           exitCode)) {
            exitCode = 0;
        }
        WriteLog("Run MainExe.exe finish. \n");
        if (needRestart) *needRestart = IsRestartExitCode(static_cast<int>(exitCode));
        result = true;
    }

    // The 32-bit regsvr32 needs no change of redirection (loading libraries
    // fails while it is off).
    if (Is64BitWindows()) {
        WriteLog("regSvr32 dll. /s  \n");
        const std::wstring library = PathJoin(installFolder, L"orvane32.dll");
        if (FileExists(library)) {
            WriteLog("Run regsvr32 orvane32.dll %s\n", RegisterServerDll(L"/s /u", library) ? "success" : "failed");
        }
        WriteLog("regsvr32 dll finish.\n");
    }

    WriteLog("remove temp file.  \n");
    DeleteSetAside(PathJoin(installFolder, L"orvane.tmp"), "DeleteFile orvane.tmp error : %p.\n");
    WriteLog("move temp  file.  \n");
    SetAside(PathJoin(installFolder, L"orvane.dll"), PathJoin(installFolder, L"orvane.tmp"),
             "MoveFile orvane.dll error : %p.\n");
    WriteLog("remove temp 32 file.  \n");
    DeleteSetAside(PathJoin(installFolder, L"orvane32.tmp"), "DeleteFile orvane32.tmp error : %p.\n");
    WriteLog("move temp 32 file.  \n");
    SetAside(PathJoin(installFolder, L"orvane32.dll"), PathJoin(installFolder, L"orvane32.tmp"),
             "MoveFile orvane32.dll error : %p.\n");
    return result;
}

void Orvane::QuitRunningApp(std::wstring installFolder, std::wstring exeName) {
    const std::wstring exePath = PathJoin(installFolder, exeName);
    if (!FileExists(exePath)) {
        WriteLog("Run exe failed. main exe con't found\n.");
        return;
    }
    WriteLog("Run Install Params: %s.\n", "/quit_by_setup");
    // Only the product's processes ending matter here; the started one's
    // handle is closed when this returns.
    ShellStartResult run = StartShellProgram(L"runas", exePath, L"/quit_by_setup", SW_HIDE);
    if (!run.started) return;
    for (int check = 0; check < waitBounds.quitChecks; ++check) {
        if (!IsProcessRunning(exeName)) break;
        Sleep(kQuitCheckMs);
    }
}
