// Whole installs of each product, the 64-bit and the 32-bit one, as the
// process-wide description picks it: the download pass against the loopback
// mirrors (manifest 501 names the 32-bit package, 502 the 64-bit one, as in a
// build for the local mirrors), then the package pass, the product's own
// steps with its companion files and the registration. What each product
// leaves is checked where the user and Windows see it: the setup file in
// Downloads, the uninstall entry, the drivers' folders, the stand-ins' log.
// The 32-bit product runs once more in a 32-bit Windows prefix, where the
// 64-bit product has no case.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "InstallStatsReporter.h"
#include "JFile.h"
#include "Log.h"
#include "Orvane.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "Registry.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "StandInControl.h"
#include "SystemInfo.h"
#include "TestSupport.h"
#include "Text.h"

using namespace testing_support;

namespace {

// The version text the installer carries; the setup file's name takes its
// first eight characters.
constexpr char kVersionText[] = "2.0.0.5 official (17/08/2021)";

std::wstring MirrorDir() { return FromUnixPath(INSTALL_MIRROR_DIR); }

std::wstring ServedPackage(bool x64) {
    return MirrorDir() + (x64 ? L"\\www\\download\\orvane_setup_x64.exe" : L"\\www\\download\\orvane_setup.exe");
}

std::wstring ProductDownloads() {
    std::wstring folder;
    GetDownloadsPath(folder, ProductConfig::GetProductFolderW(), nullptr, 0);
    return folder;
}

// A text value of the product's uninstall entry, read wide, as UTF-8.
std::string EntryText(const std::string& key, const char* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof(value);
    const std::wstring path = NarrowToWide(std::string(kUninstallKey) + key);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), NarrowToWide(name).c_str(), RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return "(none)";
    return WideToUtf8(value);
}

// -1 when the value is missing.
long long EntryDword(const std::string& key, const char* name) {
    DWORD value = 0, size = sizeof(value);
    const std::string path = std::string(kUninstallKey) + key;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return -1;
    return value;
}

bool EntryExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kUninstallKey) + key).c_str(), 0, KEY_READ, &handle) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::wstring ShellFolder(int (*get)(wchar_t*)) {
    wchar_t buffer[MAX_PATH] = {};
    get(buffer);
    return buffer;
}

// The products' uninstall keys and the Start-menu groups their shortcuts
// are made in.
const char* const kEntryKeys[] = {"Orvane", "Orvane (x64)"};

std::wstring DesktopLink(const char* displayName) {
    return PathJoin(ShellFolder(GetDesktopPath), NarrowToWide(displayName) + L".lnk");
}

void RemoveInstallTraces() {
    for (const char* key : kEntryKeys) {
        DeleteUninstallItem(key);
        DeleteFileW(DesktopLink(key).c_str());
        for (auto get : {GetProgramsPath, GetCommonProgramsPath})
            RemoveTree(PathJoin(ShellFolder(get), NarrowToWide(key)));
    }
    RemoveTree(PathJoin(ShellFolder(GetAppDataPath), ProductConfig::GetProductFolderW()));
    RemoveTree(ProductDownloads());
}

// The lines of text in order; the index of each of wanted in turn, searched
// from just past the one before. Missing lines give npos.
std::vector<size_t> PlacesInOrder(const std::string& text, const std::vector<std::string>& wanted) {
    std::vector<size_t> places;
    size_t from = 0;
    for (const auto& line : wanted) {
        const size_t at = from == std::string::npos ? std::string::npos : text.find(line, from);
        places.push_back(at);
        from = at == std::string::npos ? std::string::npos : at + line.size();
    }
    return places;
}

struct Product {
    const char* name;
    int is64;
    const wchar_t* setupFile;  // in the product's Downloads folder
    const char* iconsLine;
    const char* entryKey;
    const char* displayName;
};

const Product kProducts[] = {
    {"64-bit", 1, L"Orvane_x64(2.0.0.5 ).exe", "Create Icons for x64", "Orvane (x64)", "Orvane (x64) (2026-12-01)"},
    {"32-bit", 0, L"Orvane(2.0.0.5 ).exe", "Create Icons for x86", "Orvane", "Orvane (2026-12-01)"},
};

const Product& NativeProduct() { return Is64BitWindows() ? kProducts[0] : kProducts[1]; }

class ProductInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* bits = getenv("ORVANE_EXPECT_WINDOWS_BITS"))
            ASSERT_EQ(Is64BitWindows(), std::string(bits) == "64") << "this prefix is not the Windows it should be";
        log_ = scratch_ / L"install.log";
        GetLog()->Init(log_);
        std::ofstream(ToUnixPath(MirrorDir() + L"\\scenario.json"), std::ios::binary | std::ios::trunc) << "{}";
        RemoveInstallTraces();
        VersionText = kVersionText;
    }
    void TearDown() override {
        if (HasFailure()) printf("---- install log ----\n%s\n", ReadFileBytes(log_).c_str());
        // The description of the Windows this runs on, as the process had it.
        CreateProductInfo(GetProductInfo(), Is64BitWindows() ? 1 : 0);
        for (const wchar_t* name : {L"orvane.exe", L"winebrowser.exe"})
            for (int i = 0; i < 8 && KillProcessByName(name, 2000) > 0; ++i) {
            }
        RemoveInstallTraces();
    }

    // One whole install of the product into folder, as the dialog starts it:
    // the description of the product, its bitness in the header, the boxes'
    // settings in the flag. A stale manifest file sits beside the setup file.
    void Install(const Product& product, const std::wstring& folder, Orvane& dlg) {
        CreateProductInfo(GetProductInfo(), product.is64);
        g_bDownloadDone = false;
        g_bNoDownloadNeeded = false;
        CreateDirectories(ProductDownloads());
        ASSERT_TRUE(WriteFileBytes(PathJoin(ProductDownloads(), product.setupFile) + L".cfg", "<download/>"));
        InstallStatsReporter reporter("http://127.0.0.1:9/", InstallStatsParams{});
        dlg.pReporter = &reporter;
        dlg.packageHeader.isX64 = product.is64;
        dlg.eInstall = E_Install_Working;
        dlg.nCfgFlag = 3;
        CreateDirectories(folder);
        dlg.SetInstallFolder(folder);
        GetLog()->Init(log_);
        DeleteFileW(log_.c_str());
        dlg.DoInstall();
        dlg.pReporter = nullptr;
    }

    ScratchFolder scratch_{L"products"};
    std::wstring log_;
};

// Each product downloads its own package under its own setup file name,
// removes the manifest file beside it, makes its icons and registers under
// its own uninstall key and display name, and the product steps put its
// drivers in place (the library is registered only on a 64-bit Windows).
TEST_F(ProductInstallTest, EachProductDownloadsItsOwnPackageAndRegistersUnderItsOwnNames) {
    for (const Product& product : kProducts) {
        // A 64-bit product has no install on a 32-bit Windows: its checks refuse it.
        if (product.is64 && !Is64BitWindows()) continue;
        SCOPED_TRACE(product.name);
        standins::StandInSession session(scratch_ / (std::wstring(product.setupFile) + L".standins.log"));
        const std::wstring folder = scratch_ / (NarrowToWide(product.name) + L"\\Orvane");
        Orvane dlg;
        Install(product, folder, dlg);
        const std::string log = ReadFileBytes(log_);

        EXPECT_EQ(dlg.eInstall.load(), E_Install_Finished);
        // The setup file: the product's own package, under its own name.
        const std::wstring setupFile = PathJoin(ProductDownloads(), product.setupFile);
        EXPECT_TRUE(FileExists(setupFile)) << WideToUtf8(setupFile);
        EXPECT_TRUE(ReadFileBytes(setupFile) == ReadFileBytes(ServedPackage(product.is64 != 0)))
            << "the setup file is not the package " << WideToUtf8(ServedPackage(product.is64 != 0));
        EXPECT_EQ(dlg.GetPackagePath(), setupFile);
        EXPECT_FALSE(FileExists(setupFile + L".cfg")) << "the manifest file beside the setup file is removed";

        // The icons and the uninstall entry Windows lists the product by.
        EXPECT_NE(log.find(product.iconsLine), std::string::npos) << product.iconsLine;
        EXPECT_EQ(EntryText(product.entryKey, "DisplayName"), product.displayName);
        EXPECT_EQ(EntryText(product.entryKey, "InstallLocation"), WideToUtf8(folder));
        EXPECT_EQ(EntryDword(product.entryKey, "cfg_flag"), 3);
        EXPECT_NE(log.find(std::string("Write Setup Cfg Flag : 3, root(") + product.entryKey + "), key(cfg_flag)."),
                  std::string::npos);
        for (const char* key : kEntryKeys)
            if (std::string(key) != product.entryKey) EXPECT_FALSE(EntryExists(key)) << key;

        // The product steps with the companion files: the driver in the
        // Windows bitness's sub-folder, the second driver gone from the
        // folder, the library registered only where Windows is 64-bit.
        const wchar_t* sub = Is64BitWindows() ? L"x64" : L"x86";
        EXPECT_EQ(ReadFileBytes(folder + L"\\" + sub + L"\\orvane.sys"), "Orvane stand-in driver\r\n");
        EXPECT_FALSE(FileExists(folder + L"\\orvane.sys"));
        EXPECT_FALSE(FileExists(folder + L"\\tarvexio.sys"));
        const std::wstring otherSub = folder + (Is64BitWindows() ? L"\\x86" : L"\\x64");
        EXPECT_EQ(GetFileAttributesW(otherSub.c_str()), INVALID_FILE_ATTRIBUTES);
        bool registered = false, installRun = false;
        for (const auto& record : session.ReadRecords()) {
            if (record.Is("orvane32", "register")) registered = true;
            if (record.Is("orvane", "start") && record.Get("cmdline").find(L"/install /XI:") != std::wstring::npos)
                installRun = true;
        }
        EXPECT_EQ(registered, Is64BitWindows()) << "regsvr32 runs only on a 64-bit Windows";
        EXPECT_EQ(log.find("regsvr32 dll.") != std::string::npos, Is64BitWindows());
        EXPECT_TRUE(installRun) << "the product's install run";
        RemoveInstallTraces();
    }
}

// A good install writes its steps in the order they happen: the download
// before the package, the folder emptied before the extraction, the icons
// before the product's steps, the registration last.
TEST_F(ProductInstallTest, AGoodInstallLogsItsStepsInOrder) {
    const Product& product = NativeProduct();
    standins::StandInSession session(scratch_ / L"order.standins.log");
    Orvane dlg;
    Install(product, scratch_ / L"order\\Orvane", dlg);
    ASSERT_EQ(dlg.eInstall.load(), E_Install_Finished);

    std::vector<std::string> steps = {"Url : ", "Download Finish Result : succeed(5).", "Begin install...",
                                      "Do Install File : ", "Install Path : ", "Begin depack file.",
                                      "Begin delete file.(", "End delete file.", "Check old version.",
                                      "Not find inno version.", "Install File Result 0", product.iconsLine,
                                      "Refresh Icons Finish.", "New : ", "copy sys file to system."};
    if (Is64BitWindows()) {
        steps.push_back("regsvr32 dll.");
        steps.push_back("regsvr32 dll finish.");
    }
    for (const char* line : {"copy sys file to install path.", "Run MainExe.exe /install", "Run MainExe.exe finish",
                             "UpdateCtrlStatus(AfterInstall)", "Write Setup Cfg Flag : ", "Finish(AfterInstall)"})
        steps.push_back(line);
    const std::string log = ReadFileBytes(log_);
    const std::vector<size_t> places = PlacesInOrder(log, steps);
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_NE(places[i], std::string::npos) << "\"" << steps[i] << "\" missing or out of order (after \""
                                                << (i ? steps[i - 1] : std::string()) << "\")";
        if (places[i] == std::string::npos) break;
    }
}

// A product dialog whose run is silent or not, as the test says: the
// start-up options never make a silent run (the command line is not read).
class SilenceDialog : public Orvane {
public:
    explicit SilenceDialog(bool silent) : silent_(silent) {}
    bool IsSilent() override { return silent_; }

private:
    bool silent_;
};

// A silent run has no boxes to read: the desktop shortcut follows the flag
// the last install stored (bit 1), and the run stores no flag of its own.
TEST_F(ProductInstallTest, ASilentRunTakesTheStoredSettingsAndStoresNone) {
    const Product& product = NativeProduct();
    struct Case {
        bool silent;
        int flag;
        bool desktopLink;
        long long storedFlag;  // -1: none written
    };
    const Case cases[] = {{true, 1, true, -1}, {true, 3, true, -1}, {true, 2, false, -1}, {false, 1, false, 1}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.silent ? "silent" : "shown") + ", flag " + std::to_string(c.flag));
        RemoveInstallTraces();
        SilenceDialog dlg(c.silent);
        dlg.nCfgFlag = c.flag;
        dlg.eInstall = E_Install_Working;
        const std::wstring folder = scratch_ / (L"silence" + std::to_wstring(++n) + L"\\Orvane");
        CreateDirectories(folder);
        dlg.SetInstallFolder(folder);
        dlg.SetPackagePath(ServedPackage(product.is64 != 0));
        dlg.DoInstall();
        EXPECT_EQ(dlg.eInstall.load(), E_Install_Finished);
        EXPECT_EQ(EntryText(product.entryKey, "DisplayName"), product.displayName);
        const std::wstring link = DesktopLink(product.entryKey);
        EXPECT_EQ(FileExists(link), c.desktopLink) << WideToUtf8(link);
        EXPECT_EQ(EntryDword(product.entryKey, "cfg_flag"), c.storedFlag);
    }
}

}  // namespace
