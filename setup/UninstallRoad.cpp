#include "UninstallRoad.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "InstallFolder.h"
#include "JFile.h"
#include "Log.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "Text.h"

namespace {

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

struct FolderJudgement {
    std::wstring path;   // resolved; empty when refused
    const char* refusal = nullptr;
};

// The installation folder is the folder of the package path (the installed
// uninstaller). Only a folder an install of ours made may be deleted: the
// judgement is made on the resolved full path, and a plain "uninstall.exe"
// is not enough, since many programs have one: the folder must also be the
// product's own, as the install judges it.
FolderJudgement FindInstallFolder(const std::wstring& packagePath, const PackageHeader& header) {
    FolderJudgement result;
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

void LogStepFailure(const char* step, const std::wstring& detail) {
    WriteLog("Uninstall step failed: %s.(%s)", step, WideToNarrow(detail).c_str());
}

}  // namespace

const char* UninstallOutcomeName(UninstallOutcome outcome) {
    switch (outcome) {
        case UninstallOutcome::Go: return "Go";
        case UninstallOutcome::Stopped: return "Stopped";
        case UninstallOutcome::FolderRefused: return "FolderRefused";
        case UninstallOutcome::Uninstalled: return "Uninstalled";
    }
    return "?";
}

UninstallRoad::UninstallRoad(Parts parts, UninstallChoices choices, PackageHeader header, std::wstring packagePath)
    : parts_(parts), choices_(choices), header_(header), package_(std::move(packagePath)) {}

UninstallOutcome UninstallRoad::Run() {
    WriteLog("Begin Uninstall Work. x64mode = %s", header_.isX64 ? "true" : "false");
    parts_.window.Start();
    parts_.window.Position(0);

    // A stop request ends the road before the folder is judged and before
    // it is deleted. Once the folder is gone the road completes, so a close
    // leaves the product installed or removed with its entry; a refused
    // folder skips the folder phases and the rest runs as for any other.
    using Phase = UninstallOutcome (UninstallRoad::*)();
    const struct {
        Phase run;
        bool looksAtStop;
        bool needsFolder;
    } phases[] = {
        {&UninstallRoad::JudgeFolder, true, false},
        {&UninstallRoad::QuitProduct, false, true},
        {&UninstallRoad::DeleteFolder, true, true},
        {&UninstallRoad::ShortcutsAndIcons, false, false},
        {&UninstallRoad::ApplicationData, false, false},
        {&UninstallRoad::UninstallEntry, false, false},
    };
    UninstallOutcome ending = UninstallOutcome::Uninstalled;
    for (const auto& phase : phases) {
        if (phase.needsFolder && folder_.empty()) continue;
        if (phase.looksAtStop && StopAsked()) {
            ending = UninstallOutcome::Stopped;
            break;
        }
        const UninstallOutcome outcome = (this->*phase.run)();
        if (outcome == UninstallOutcome::FolderRefused) ending = outcome;
        else if (outcome != UninstallOutcome::Go) {
            ending = outcome;
            break;
        }
    }
    Finish(ending);
    return ending;
}

std::wstring UninstallRoad::MainExeName() const {
    return header_.isX64 ? ProductConfig::GetMainExeNameX64W() : ProductConfig::GetMainExeNameW();
}

// ---- Phase: the installation folder, judged -----------------------------------
UninstallOutcome UninstallRoad::JudgeFolder() {
    const FolderJudgement folder = FindInstallFolder(package_, header_);
    if (folder.refusal) {
        WriteLog("Uninstall refused to delete the installation folder: %s.(%s)", folder.refusal,
                 WideToNarrow(package_).c_str());
        return UninstallOutcome::FolderRefused;
    }
    folder_ = folder.path;
    return UninstallOutcome::Go;
}

// ---- Phase: the product quit, its own uninstall run -----------------------------
UninstallOutcome UninstallRoad::QuitProduct() {
    UninstallSteps& steps = parts_.steps;
    const std::wstring exeName = MainExeName();
    steps.QuitRunningApp(folder_, exeName);
    steps.KillProductProcesses();
    if (!steps.RunMainExeUninstall(folder_, exeName, &needRestart_))
        LogStepFailure("the product's uninstall did not run", PathJoin(folder_, exeName));
    steps.UseNeedRestart(needRestart_);
    steps.DeleteHelperFiles(folder_);
    steps.KillProductProcesses();
    return UninstallOutcome::Go;
}

// ---- Phase: the installation folder, deleted --------------------------------------
UninstallOutcome UninstallRoad::DeleteFolder() {
    WriteLog("Begin delete file.(%s)", WideToNarrow(folder_).c_str());
    DeleteDirectory(folder_);
    WriteLog("End delete file.");
    if (PathIsDirectoryW(folder_.c_str())) LogStepFailure("the installation folder is still there", folder_);
    return UninstallOutcome::Go;
}

// ---- Phase: the shortcuts and the shell's icons -------------------------------------
UninstallOutcome UninstallRoad::ShortcutsAndIcons() {
    UninstallSteps& steps = parts_.steps;
    const std::wstring displayName =
        NarrowToWide(steps.MakeDisplayName(PackageHeader::FieldText(header_.productName)));
    steps.DeleteShortcuts(displayName);
    steps.RefreshIcons();
    WriteLog("RefreshIcons.");
    return UninstallOutcome::Go;
}

// ---- Phase: the application data, unless the user keeps it ---------------------------
UninstallOutcome UninstallRoad::ApplicationData() {
    if (!choices_.keepConfiguration) {
        const std::wstring configFolder = parts_.steps.ConfigurationFolder();
        if (!configFolder.empty()) {
            for (int attempt = 0; attempt < kAppDataDeleteAttempts; ++attempt) DeleteDirectory(configFolder);
            if (PathIsDirectoryW(configFolder.c_str()))
                LogStepFailure("the application data folder is still there", configFolder);
        }
    }
    WriteLog("End Remove AppConfig.");
    return UninstallOutcome::Go;
}

// ---- Phase: the uninstall entry ----------------------------------------------------------
UninstallOutcome UninstallRoad::UninstallEntry() {
    UninstallSteps& steps = parts_.steps;
    const std::string keyName = steps.MakeUninstallKeyName(steps.ProductName());
    if (keyName.empty() || !steps.DeleteUninstallItem(keyName))
        LogStepFailure("the uninstall entry was not deleted", NarrowToWide(keyName));
    WriteLog("End DeleteUninstallItem. szProgram(%s)", keyName.c_str());
    return UninstallOutcome::Go;
}

// ---- The finish step ------------------------------------------------------------------------
void UninstallRoad::Finish(UninstallOutcome outcome) {
    // The dialog is closing: its close handler ends the run.
    if (outcome == UninstallOutcome::Stopped) {
        WriteLog("Uninstall work stopped.");
        return;
    }
    UninstallWindow& window = parts_.window;
    window.Position(100);
    // The full bar stays a moment before the done page replaces it.
    Sleep(timing.donePauseMs);
    window.Done(needRestart_);
    if (choices_.silent) window.Close();
    WriteLog("Uninstall work SUCCEE.");
}
