// The uninstall worker: asks the running product to quit, runs the product's
// own uninstall, removes the installation folder, the shortcuts, the
// application data (unless the user keeps it) and the uninstall entry, and
// moves the uninstall page along.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "InstallFolder.h"
#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "Registry.h"
#include "SetupDlg.h"
#include "StartupOptions.h"
#include "Text.h"

namespace {

constexpr int kUninstallStart = 0;
constexpr int kUninstallDone = 1;
constexpr int kUninstallFailed = 2;
constexpr int kUninstallPosition = 3;

constexpr int kFinishCommand = 1627;
constexpr int kAppDataDeleteAttempts = 5;

// The uninstaller the install writes into its folder: a folder without it
// was not made by an install of ours.
constexpr wchar_t kUninstallerName[] = L"uninstall.exe";

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// The absolute form of a path, with "." and ".." resolved and short names
// made long where the path exists; empty when it cannot be resolved.
std::wstring ResolveFullPath(const std::wstring& path) {
    if (path.empty()) return {};
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return {};
    wchar_t longForm[MAX_PATH] = {};
    const DWORD longLength = GetLongPathNameW(full, longForm, MAX_PATH);
    if (longLength > 0 && longLength < MAX_PATH) return WithoutTrailingSeparators(longForm);
    return WithoutTrailingSeparators(full);
}

// The native Program Files folder, where the 64-bit product installs: this
// 32-bit process is shown the x86 one by its folder ids under WOW64, so the
// native one comes from the environment or the 64-bit registry view.
std::wstring NativeProgramFilesFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return buffer;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return {};
    const UniqueHKey key(opened);
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const LONG read =
        RegQueryValueExW(key.get(), L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    buffer[size / sizeof(wchar_t)] = L'\0';
    return buffer;
}

// Folders whose loss would reach far past the product: the user's own
// folders, the shared ones and the system's. The uninstall never deletes one
// of them or a folder that holds one.
std::vector<std::wstring> ProtectedFolders() {
    static const int kFolders[] = {
        CSIDL_PROFILE,        CSIDL_PERSONAL,      CSIDL_DESKTOPDIRECTORY, CSIDL_APPDATA,
        CSIDL_LOCAL_APPDATA,  CSIDL_COMMON_APPDATA, CSIDL_PROGRAMS,        CSIDL_COMMON_PROGRAMS,
        CSIDL_PROGRAM_FILES,  CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_WINDOWS,
        CSIDL_SYSTEM,         CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_DESKTOPDIRECTORY,
    };
    std::vector<std::wstring> folders;
    for (int id : kFolders) {
        wchar_t buffer[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, buffer)) && buffer[0])
            folders.push_back(ResolveFullPath(buffer));
    }
    const std::wstring native = NativeProgramFilesFolder();
    if (!native.empty()) folders.push_back(ResolveFullPath(native));
    std::wstring downloads;
    GetDownloadsPath(downloads, L"", nullptr, 0);
    folders.push_back(ResolveFullPath(downloads));
    return folders;
}

// folder is protected or lies above a protected folder.
bool ReachesProtectedFolder(const std::wstring& folder) {
    for (const std::wstring& guarded : ProtectedFolders()) {
        if (guarded.empty()) continue;
        if (SameText(folder, guarded)) return true;
        const std::wstring prefix = folder + L"\\";
        if (guarded.size() > prefix.size() && SameText(guarded.substr(0, prefix.size()), prefix)) return true;
    }
    return false;
}

bool IsFile(const std::wstring& path) { return PathFileExistsW(path.c_str()) && !PathIsDirectoryW(path.c_str()); }

struct InstallFolder {
    std::wstring path;   // resolved; empty when refused
    const char* refusal = nullptr;
};

// The installation folder is the folder of the package path (the installed
// uninstaller). Only a folder an install of ours made may be deleted: the
// judgement is made on the resolved full path, and a plain "uninstall.exe"
// is not enough, since many programs have one: the folder must also be the
// product's own, as the install judges it.
InstallFolder FindInstallFolder(const std::wstring& packagePath, const PackageHeader& header) {
    InstallFolder result;
    if (packagePath.size() >= MAX_PATH) {
        result.refusal = "the path is too long";
        return result;
    }
    wchar_t buffer[MAX_PATH] = {};
    lstrcpynW(buffer, packagePath.c_str(), MAX_PATH);
    PathRemoveFileSpecW(buffer);
    const std::wstring folder = buffer;
    if (folder.empty()) {
        result.refusal = "no folder";
        return result;
    }
    if (PathIsRelativeW(folder.c_str())) {
        result.refusal = "a relative folder";
        return result;
    }
    // The folder deletion's own judgement first (roots, device paths,
    // wildcards), then the long form of its answer for the comparisons.
    const std::wstring deletable = ResolveDeletableFolder(folder);
    const std::wstring resolved = deletable.empty() ? std::wstring() : ResolveFullPath(deletable);
    if (resolved.empty()) {
        result.refusal = "a drive root or no folder that may be deleted";
    } else if (ReachesProtectedFolder(resolved)) {
        result.refusal = "a folder of the user or of the system";
    } else if (!IsFile(PathJoin(resolved, kUninstallerName))) {
        result.refusal = "the folder holds no uninstall.exe";
    } else if (!IsProductsOwnFolder(resolved, header)) {
        result.refusal = "the folder is not the product's";
    } else {
        result.path = resolved;
    }
    return result;
}

// The keep-configurations box. A run without the uninstall page has no box:
// nothing is kept, as the product's own uninstall run is told then too.
bool KeepConfiguration(SetupDlg& dlg) { return dlg.pChkKeepConfig && dlg.pChkKeepConfig->GetCheck() != 0; }

// The dialog is closing: the worker ends at its next step.
void StopUninstall() { WriteLog("Uninstall work stopped."); }

void LogStepFailure(const char* step, const std::wstring& detail) {
    WriteLog("Uninstall step failed: %s.(%s)", step, WideToNarrow(detail).c_str());
}

}  // namespace

unsigned UninstallThreadProc(SetupDlg* dlg) {
    if (!dlg) return static_cast<unsigned>(-1);
    dlg->UninstallWork();
    return 0;
}

void SetupDlg::UninstallWork() {
    const bool isX64 = packageHeader.isX64 != 0;
    WriteLog("Begin Uninstall Work. x64mode = %s", isX64 ? "true" : "false");
    OnUninstallProgress(kUninstallStart, 0, 0);
    OnUninstallProgress(kUninstallPosition, 0, 0);

    const std::wstring exeName =
        isX64 ? ProductConfig::GetMainExeNameX64W() : ProductConfig::GetMainExeNameW();
    const std::wstring packagePath = GetPackagePath();
    const InstallFolder folder = FindInstallFolder(packagePath, packageHeader);

    if (bStopWork) return StopUninstall();
    if (!folder.refusal) {
        const std::wstring& installFolder = folder.path;
        QuitRunningApp(installFolder, exeName);
        KillProductProcesses();
        bool needRestart = bNeedRestart.load();
        if (!RunMainExeUninstall(installFolder, exeName, &needRestart))
            LogStepFailure("the product's uninstall did not run", PathJoin(installFolder, exeName));
        bNeedRestart.store(needRestart);
        DeleteHelperFiles(installFolder);
        KillProductProcesses();
        if (bStopWork) return StopUninstall();

        std::string narrowFolder;
        WideToNarrow(installFolder, narrowFolder);
        WriteLog("Begin delete file.(%s)", narrowFolder.c_str());
        DeleteDirectory(installFolder);
        WriteLog("End delete file.");
        if (PathIsDirectoryW(installFolder.c_str()))
            LogStepFailure("the installation folder is still there", installFolder);
    } else {
        WriteLog("Uninstall refused to delete the installation folder: %s.(%s)", folder.refusal,
                 WideToNarrow(packagePath).c_str());
    }

    const std::wstring displayName = NarrowToWide(MakeDisplayName(PackageHeader::FieldText(packageHeader.productName)));
    DeleteShortcuts(displayName);
    RefreshIcons();
    WriteLog("RefreshIcons.");

    if (!KeepConfiguration(*this)) {
        wchar_t appData[MAX_PATH] = {};
        const std::wstring productFolder = ProductConfig::GetProductFolderW();
        if (GetAppDataPath(appData) && PathFileExistsW(appData) && !productFolder.empty()) {
            const std::wstring configFolder = PathJoin(appData, productFolder);
            if (!configFolder.empty()) {
                for (int attempt = 0; attempt < kAppDataDeleteAttempts; ++attempt) DeleteDirectory(configFolder);
                if (PathIsDirectoryW(configFolder.c_str()))
                    LogStepFailure("the application data folder is still there", configFolder);
            }
        }
    }
    WriteLog("End Remove AppConfig.");

    const std::string keyName = MakeUninstallKeyName(GetProductName());
    if (keyName.empty() || !DeleteUninstallItem(keyName))
        LogStepFailure("the uninstall entry was not deleted", NarrowToWide(keyName));
    WriteLog("End DeleteUninstallItem. szProgram(%s)", keyName.c_str());

    for (int i = 0; i < 3; ++i) OnUninstallProgress(kUninstallDone, 0, 0);
    // The dialog belongs to the user-interface thread: it closes itself
    // there. A post, since that thread's close handler joins this worker.
    if (IsSilent() && m_hWnd) PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    WriteLog("Uninstall work SUCCEE.");
}

int SetupDlg::OnUninstallProgress(int event, unsigned value, long) {
    switch (event) {
    case kUninstallStart:
        if (pProgress) pProgress->SetPos(0);
        if (pStaticQuestion) pStaticQuestion->SetText(GetLangString(25));
        break;
    case kUninstallDone:
        if (pProgress) pProgress->SetPos(100);
        Sleep(200);
        if (pProgress) pProgress->SetVisible(false);
        if (pStaticKeepConfig) pStaticKeepConfig->SetVisible(false);
        if (pBtnCancel) {
            pBtnCancel->SetId(kFinishCommand);
            pBtnCancel->SetText(GetLangString(27));
            pBtnCancel->SetVisible(true);
        }
        if (pStaticQuestion) pStaticQuestion->SetText(GetLangString(bNeedRestart ? 41 : 26));
        break;
    case kUninstallFailed:
        MessageBoxW(m_hWnd, L"UnInstall Failed!", L"ERROR", MB_OK);
        break;
    case kUninstallPosition:
        if (value <= 100 && pProgress) pProgress->SetPos(static_cast<int>(value));
        break;
    default:
        break;
    }
    return 1;
}
