// The base product steps of the main dialog: the sibling files before an
// install and after an uninstall, the shortcuts, and the runs of the
// product's executable with its install and uninstall switches.
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ProductStepsSupport.h"
#include "SetupDlg.h"
#include "StartupOptions.h"
#include "Text.h"

namespace {

// Language texts of the shortcuts.
constexpr LangStringId kTextUninstallSuffix = 36;
constexpr LangStringId kTextAppSuffix = 37;
constexpr LangStringId kTextWebSuffix = 39;
constexpr LangStringId kTextOnlineName = 47;
constexpr LangStringId kTextUninstallName = 48;

// How long the polls of the install run sleep, and the longest any run of
// the product's executable is waited for once it is known to be ending.
constexpr DWORD kPollMs = 100;
constexpr DWORD kExitWaitMs = 10000;
// The uninstall run has no poll count of its own: it gets as long as the
// install run's polls take.
constexpr DWORD kUninstallWaitMs = 1800 * kPollMs;

bool FileExists(const std::wstring& path) { return !path.empty() && PathFileExistsW(path.c_str()); }

// Only an absolute folder: a relative or empty one would name files in
// whatever folder the process happens to stand in.
bool IsAbsoluteFolder(const std::wstring& folder) { return !folder.empty() && !PathIsRelativeW(folder.c_str()); }

// COM for the shell-link objects, on whatever thread calls the shortcut steps.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

// The product's three shortcuts in one Programs folder, in their order.
void CreateProgramsShortcuts(ShortcutLocation kind, const ShortcutInfo& info, const std::wstring& exePath,
                             const std::wstring& uninstallerPath) {
    const std::wstring& name = info.strDisplayName;
    const wchar_t* folder = info.strInstallFolder.c_str();
    CreateShortcut(exePath.c_str(), folder, name.c_str(), kind, name.c_str(),
                   (name + GetLangString(kTextAppSuffix)).c_str(), nullptr, nullptr);
    CreateShortcut(uninstallerPath.c_str(), folder, GetLangString(kTextUninstallName), kind, name.c_str(),
                   (name + GetLangString(kTextUninstallSuffix)).c_str(), nullptr, nullptr);
    CreateShortcut(info.strHomeUrl.c_str(), nullptr, GetLangString(kTextOnlineName), kind, name.c_str(),
                   (name + GetLangString(kTextWebSuffix)).c_str(), nullptr, nullptr);
}

}  // namespace

const wchar_t kSetAsideFolderName[] = L"InstallerTemp";

bool SetupDlg::ProcessBeforeInstall(std::wstring installFolder, bool* needRestart) {
    if (needRestart) *needRestart = false;
    const std::wstring temp = PathJoin(installFolder, kSetAsideFolderName);
    // What an earlier install set aside goes first.
    if (!temp.empty() && !installFolder.empty()) DeleteDirectory(temp);
    CreateDirectories(temp);
    for (const std::wstring& name : ProductConfig::GetHelperFileNames()) {
        const std::wstring from = PathJoin(installFolder, name);
        const std::wstring to = PathJoin(temp, name);
        if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED)) {
            WriteLog("MoveFileEx error : %p. old=%s, new=%s\n", reinterpret_cast<void*>(GetLastError()),
                     WideToNarrow(from).c_str(), WideToNarrow(to).c_str());
        }
    }
    return true;
}

void SetupDlg::DeleteHelperFiles(std::wstring installFolder) {
    if (!IsAbsoluteFolder(installFolder)) return;
    for (const std::wstring& name : ProductConfig::GetHelperFileNames()) {
        const std::wstring path = PathJoin(installFolder, name);
        // A file still in use: end the program that holds it. It is not
        // deleted again afterwards; the folder's removal takes it.
        if (FileExists(path) && !DeleteFileW(path.c_str())) KillProcessByName(name);
    }
}

void SetupDlg::CreateShortcuts(ShortcutInfo info) {
    ComScope com;
    const std::wstring exePath = PathJoin(info.strInstallFolder, info.strMainExeName);
    const std::wstring uninstallerPath = PathJoin(info.strInstallFolder, L"uninstall.exe");
    if (info.bDesktop) {
        CreateShortcut(exePath.c_str(), info.strInstallFolder.c_str(), info.strDisplayName.c_str(),
                       E_Shortcut_Desktop, nullptr, (info.strDisplayName + GetLangString(kTextAppSuffix)).c_str(),
                       nullptr, nullptr);
        WriteLog("Create DESKTOP Icons Finish.");
    }
    if (info.bStartMenu) {
        CreateProgramsShortcuts(E_Shortcut_Programs, info, exePath, uninstallerPath);
        WriteLog("Create START_MENU Icons Finish.");
    }
    if (info.bCommonPrograms) {
        CreateProgramsShortcuts(E_Shortcut_CommonPrograms, info, exePath, uninstallerPath);
        WriteLog("Create COMMON_MENU Icons Finish.");
    }
}

void SetupDlg::DeleteShortcuts(std::wstring displayName) {
    const std::wstring linkName = displayName + L".lnk";
    // Three passes, as the product always did: a shell that holds a link
    // for a moment lets go of it by a later pass.
    for (int pass = 0; pass < 3; ++pass) {
        RemoveProgramsGroup(displayName.c_str());
        DeleteShortcut(E_Shortcut_Desktop, linkName.c_str());
        DeleteShortcut(E_Shortcut_QuickLaunch, linkName.c_str());
        DeleteShortcut(E_Shortcut_TaskBarPin, linkName.c_str());
    }
    WriteLog("End delete Icon.");
}

bool SetupDlg::RunMainExeInstall(std::wstring installFolder, std::wstring exeName, bool bNewFlag,
                                 bool* needRestart) {
    const std::wstring exePath = PathJoin(installFolder, exeName);
    WriteLog("Run MainExe.exe /install");
    if (!FileExists(exePath)) {
        WriteLog("Run exe failed. main exe con't found\n.");
        return false;
    }

    std::wstring parameters;
    if (IsSilent()) {
        parameters = L"/install  /add_plan";
    } else {
        parameters = L"/install";
        if (pChkJoin != nullptr && pChkJoin->GetCheck()) parameters += L" /add_plan";
        if (!strInstallId.empty()) parameters += L" /ID:" + NarrowToWide(strInstallId);
    }
    if (bNewFlag) parameters += L" /new ";
    if (!strOption.empty()) parameters += L" /option:" + NarrowToWide(strOption);
    if (!strSource.empty()) parameters += L" /source:" + NarrowToWide(strSource);
    const int seconds = g_nDownloadSeconds.load();
    if (seconds != 0) {
        wchar_t time[64] = {};
        _snwprintf(time, 63, L" /time:%d ", seconds);
        parameters += time;
    }
    WriteLog("Run Install Params: %s.\n", WideToNarrow(parameters).c_str());

    // A count of -1 meant "no limit"; nothing here waits forever, so any
    // count that is not positive gets the product's usual one.
    int waitLimit = ProductConfig::GetMainExeWaitCount();
    if (waitLimit <= 0) waitLimit = 1800;
    DWORD exitCode = 0;
    int waits = 0;
    bool ranOut = false;
    ShellStartResult run = StartShellProgram(L"runas", exePath, parameters, SW_HIDE);
    if (run.started) {
        for (;;) {
            DWORD processId = 0;
            if (!FindProcessId(exeName, processId) || processId == 0) {
                // The name is gone from the process list, but the started
                // process may not have ended yet: its exit code would read
                // STILL_ACTIVE. Wait for it, bounded, before reading.
                if (run.process && !WaitForProgramEnd(run.process.get(), kExitWaitMs, "Main exe", exitCode)) {
                    exitCode = 0;
                }
                break;
            }
            Sleep(kPollMs);
            if (++waits >= waitLimit) {
                ranOut = true;
                break;
            }
        }
    }
    WriteLog("Run main exe install : ExitCode(%d), nWaitCount(%d).\n", static_cast<int>(exitCode), waits);
    if (ranOut && run.process) {
        TerminateProcess(run.process.get(), 0);
        WaitForSingleObject(run.process.get(), kExitWaitMs);
        WriteLog("Main exe still running after %d waits; ended.\n", waits);
    }
    if (needRestart) *needRestart = IsRestartExitCode(static_cast<int>(exitCode));
    return true;
}

bool SetupDlg::RunMainExeUninstall(std::wstring installFolder, std::wstring exeName, bool* needRestart) {
    const std::wstring name = packageHeader.isX64 ? ProductConfig::GetMainExeNameX64W() : exeName;
    const std::wstring exePath = PathJoin(installFolder, name);
    if (!FileExists(exePath)) return false;
    const bool keepConfig = GetUninstallChoices().keepConfiguration;
    DWORD exitCode = 0;
    ShellStartResult run =
        StartShellProgram(L"runas", exePath, keepConfig ? L"/uninstall" : L"/full_uninstall", SW_HIDE);
    if (run.started && run.process && !WaitForProgramEnd(run.process.get(), kUninstallWaitMs, "Main exe", exitCode)) {
        exitCode = 0;
    }
    if (needRestart) *needRestart = IsRestartExitCode(static_cast<int>(exitCode));
    return true;
}
