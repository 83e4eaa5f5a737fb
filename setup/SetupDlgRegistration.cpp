// The product's entry in Windows' list of installed programs, the test for a
// new installation, the thank-you page and the client parameter of every web
// page the installer opens.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "Digest.h"
#include "Log.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "ProductStepsSupport.h"
#include "Registry.h"
#include "SetupDlg.h"
#include "StartupOptions.h"
#include "SystemInfo.h"
#include "Text.h"
#include "UnpackPackage.h"

namespace {

// Figures Windows shows as the installed size.
constexpr int kEstimatedSize = 227016;
constexpr int kEstimatedSize2 = 229986;
constexpr char kCfgFlagName[] = "cfg_flag";

// "YYYY-MM-DD" without its dashes; a shorter text gives what it has.
std::string DateDigits(const std::string& date) {
    std::string digits;
    for (size_t index : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (index < date.size()) digits += date[index];
    }
    return digits;
}

// The header's texts come from the downloaded file: an empty name would
// address the Uninstall key itself and a backslash a key below another one.
bool IsUsableKeyName(const std::string& name) { return !name.empty() && name.find('\\') == std::string::npos; }

// A non-empty "InstallPath" under the key, read wide.
bool HasInstallPathValue(CMyRegKey& key) { return !ReadWideRegString(key.Handle(), L"InstallPath").empty(); }

}  // namespace

void SetupDlg::WriteUninstallInfo() {
    const std::string productName = PackageHeader::FieldText(packageHeader.productName);
    const std::string keyName = MakeUninstallKeyName(productName);
    if (!IsUsableKeyName(keyName)) {
        WriteLog("Uninstall key name is unusable: (%s).\n", keyName.c_str());
        return;
    }
    // The folder stays wide: a narrow form would misname a folder whose name
    // the code page cannot spell, and the uninstall would then miss it.
    const std::wstring folder = GetInstallPath();
    const std::wstring exeName =
        packageHeader.isX64 ? ProductConfig::GetMainExeNameX64W() : ProductConfig::GetMainExeNameW();
    const std::wstring uninstaller = PathJoin(folder, L"uninstall.exe");
    const std::string version = PackageHeader::FieldText(packageHeader.version);
    const std::string releaseDate = PackageHeader::FieldText(packageHeader.releaseDate);
    const std::string infoUrl = PackageHeader::FieldText(packageHeader.infoUrl);

    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + keyName) != ERROR_SUCCESS) {
        WriteLog("Create uninstall key error: (%s).\n", keyName.c_str());
        return;
    }
    // Failed writes are not reported: the install still counts as finished.
    key.SetWideStringValue("DisplayIcon", PathJoin(folder, exeName));
    key.SetStringValue("Version", version);
    key.SetStringValue("DisplayVersion", version);
    key.SetStringValue("DisplayName", MakeDisplayName(productName) + " (" + releaseDate + ")");
    key.SetDWORDValue("EstimatedSize", kEstimatedSize);
    key.SetStringValue("HelpLink", infoUrl);
    // The release date, as earlier versions wrote it; readers rely on it.
    key.SetStringValue("InstallDate", DateDigits(releaseDate));
    key.SetWideStringValue("InstallLocation", folder);
    key.SetDWORDValue("NoModify", 1);
    key.SetDWORDValue("NoRepair", 1);
    key.SetStringValue("Publisher", PackageHeader::FieldText(packageHeader.publisherText));
    key.SetWideStringValue("QuietUninstallString", L"\"" + uninstaller + L"\" /SILENT");
    key.SetDWORDValue("sEstimatedSize2", kEstimatedSize2);
    key.SetWideStringValue("UninstallString", L"\"" + uninstaller + L"\"");
    key.SetStringValue("URLInfoAbout", infoUrl);
    key.SetStringValue("URLUpdateInfo", infoUrl);
    if (!IsSilent()) {
        key.SetDWORDValue(kCfgFlagName, nCfgFlag.load());
        WriteLog("Write Setup Cfg Flag : %d, root(%s), key(%s).\n", nCfgFlag.load(), keyName.c_str(), kCfgFlagName);
    }
}

bool SetupDlg::IsNewInstall(std::wstring installFolder) {
    const std::wstring uninstaller = PathJoin(installFolder, L"uninstall.exe");
    const bool hasUninstaller = !uninstaller.empty() && PathFileExistsW(uninstaller.c_str());
    WriteLog("Begin IsNewInstall : bHasOldVersion (%d)\n", hasUninstaller ? 1 : 0);
    bool hasOldVersion = hasUninstaller;
    if (!hasOldVersion) {
        const std::wstring oldFolder = Utf8ToWide(GetOldInstallPath());
        hasOldVersion = !oldFolder.empty() && PathFileExistsW(oldFolder.c_str());
    }
    if (hasOldVersion) {
        WriteLog("IsNewInstall : bHasOldVersion(%d).\n", hasUninstaller ? 1 : 0);
        return false;
    }
    bool isNew = !HasRegisteredInstallPath();

    wchar_t appData[MAX_PATH] = {};
    if (GetAppDataPath(appData)) {
        const std::wstring productData = PathJoin(appData, ProductConfig::GetProductFolderW());
        if (!productData.empty() && PathFileExistsW(productData.c_str())) {
            WriteLog("IsNewInstall : appdata folder\n");
            return false;
        }
    }
    return isNew;
}

// UTF-8, like every narrow path handed around inside the process: the value
// is read wide, so a folder the ANSI code page cannot spell is found too.
std::string SetupDlg::GetOldInstallPath() {
    const std::string keyName = MakeUninstallKeyName(GetProductName());
    std::wstring folder;
    if (!IsUsableKeyName(keyName) || !GetUninstallItemLocationW(keyName, folder)) folder.clear();
    if (folder.empty()) {
        WriteLog("Don't find install path for old version.\n");
        return {};
    }
    WriteLog("Find install path: (%s)\n", WideToNarrow(folder).c_str());
    return WideToUtf8(folder);
}

bool SetupDlg::HasRegisteredInstallPath() {
    const std::string keyName = "Software\\" + ProductConfig::GetMakerRegistryName() + "\\" +
                                MakeDisplayName(ProductConfig::GetProductName());
    bool found = false;
    CMyRegKey defaultView;
    if (defaultView.Create(HKEY_LOCAL_MACHINE, keyName) == ERROR_SUCCESS && HasInstallPathValue(defaultView)) {
        found = true;
        WriteLog("IsNewInstall : Username false\n");
    }
    defaultView.Close();
    CMyRegKey nativeView;
    if (nativeView.Open(HKEY_LOCAL_MACHINE, keyName, KEY_READ | KEY_WOW64_64KEY) == ERROR_SUCCESS &&
        HasInstallPathValue(nativeView)) {
        found = true;
        WriteLog("IsNewInstall : WOW6432Node Username false\n");
    }
    return found;
}

int SetupDlg::ShowFinishWebPage(bool bNewFlag) {
    if (!GetStartupOptions().IsAllowFinishWebPage()) return 0;
    WriteLog("ShowFinishWebPage bNewFlag(%d)", bNewFlag ? 1 : 0);
    if (!bNewFlag) return 0;

    // A related product of the family chooses other thank-you pages. With no
    // related key configured the "(x64)" probe still runs, as it always has.
    const std::string related = ProductConfig::GetRelatedUninstallKey();
    std::string location;
    bool hasRelated = !related.empty() && GetUninstallItemLocation(related, location);
    if (!hasRelated) hasRelated = GetUninstallItemLocation(related + "(x64)", location) != 0;

    const bool isX64 = packageHeader.isX64 != 0;
    const bool downloadMode = true;
    std::string url;
    if (hasRelated) {
        url = isX64 ? ProductConfig::GetRelatedThankYouUrlX64(downloadMode)
                    : ProductConfig::GetRelatedThankYouUrl(downloadMode);
    } else {
        url = isX64 ? ProductConfig::GetThankYouUrlX64(downloadMode) : ProductConfig::GetThankYouUrlX86(downloadMode);
    }
    url += PackageHeader::FieldText(packageHeader.version);
    WriteLog("ShowFinishWebPage : bNewFlag.\n");
    url = AppendClientParams(url);
    ShellExecuteW(nullptr, L"open", NarrowToWide(url).c_str(), nullptr, nullptr, SW_SHOW);
    return 1;
}

// The id goes in as Base64 without URL encoding: the statistics service
// reads it that way.
std::string SetupDlg::AppendClientParams(std::string url) {
    const std::string machineId = GetMachineId();
    const std::string id = Base64Encode(machineId.data(), machineId.size());
    if (url.find('?') != std::string::npos) {
        ReplaceAll(url, "?", "?client_m=" + id + "&");
        return url;
    }
    return url + "?client_m=" + id;
}
