// The product steps against the stand-ins: the uninstall entry, the
// new-install test, the thank-you page, the sibling files, the shortcuts, the
// runs of the product's executable, an older version's removal, the library
// registration and the bounds on every wait.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Digest.h"
#include "Handles.h"
#include "JFile.h"
#include "LogCapture.h"
#include "LangStrings.h"
#include "Log.h"
#include "Orvane.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "Process.h"
#include "StandInControl.h"
#include "SystemInfo.h"
#include "TestSupport.h"
#include "Text.h"
#include "UnpackPackage.h"

using namespace standins;
using namespace testing_support;

namespace {

// ---- The install log, as the steps write it -------------------------------

using log_capture::Contains;

std::vector<std::string> TakeLog() { return log_capture::Take(); }

bool ContainsPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const auto& l : lines) {
        if (l.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

// Index of the first line equal to line, or -1.
int IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == line) return static_cast<int>(i);
    }
    return -1;
}

// ---- Small helpers -----------------------------------------------------------

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The parameters as the started program saw them after its own path.
bool CommandLineCarries(const std::wstring& commandLine, const std::wstring& parameters) {
    return commandLine == parameters || EndsWith(commandLine, L" " + parameters) ||
           EndsWith(commandLine, L"\"" + parameters);
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

void WriteFile(const std::wstring& path, const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(path, bytes)); }

// Where the install folder of the registration comes from: the unpack step's
// choice. A package whose payload is empty makes it choose the folder and
// then fail, which is all this needs.
void ChooseInstallFolder(const std::wstring& scratch, const std::wstring& folder) {
    std::string bytes(64, '\0');
    const uint64_t offset = 64;
    memcpy(&bytes[32], &offset, sizeof(offset));
    PackageHeader header;
    bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
    const std::wstring package = scratch + L"\\choose.bin";
    WriteFile(package, bytes);
    UnpackPackage(package.c_str(), nullptr, folder.c_str(), true, false);
    ASSERT_STREQ(GetInstallPath(), folder.c_str());
}

std::wstring UninstallKey(const std::wstring& name) {
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
}

bool ReadValue(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view, DWORD& type,
               std::vector<BYTE>& data) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return false;
    UniqueHKey owner(opened);
    DWORD size = 0;
    if (RegQueryValueExW(opened, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    return RegQueryValueExW(opened, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
}

// A REG_SZ value as text; "<missing>" or "<type N>" otherwise.
std::wstring ReadText(HKEY root, const std::wstring& key, const wchar_t* name, REGSAM view = 0) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(root, key, name, view, type, data)) return L"<missing>";
    if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()));
}

// A REG_DWORD value; -1 when missing or of another type.
long long ReadDword(HKEY root, const std::wstring& key, const wchar_t* name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(root, key, name, 0, type, data) || type != REG_DWORD || data.size() != 4) return -1;
    return *reinterpret_cast<const DWORD*>(data.data());
}

void SetText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text, REGSAM view = 0) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &opened, nullptr),
              ERROR_SUCCESS);
    UniqueHKey owner(opened);
    ASSERT_EQ(RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void DeleteKey(HKEY root, const std::wstring& key, REGSAM view = 0) {
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyExW(root, key.c_str(), view, 0);
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

// The dialog with its window reachable by tests: a hidden real window stands
// in for the dialog's own where the product must see a live handle.
class TestOrvane : public Orvane {
public:
    void UseWindow(HWND window) { m_hWnd = window; }
};

struct HiddenWindow {
    HiddenWindow() : window(CreateWindowExW(0, L"STATIC", L"orvane-test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                            nullptr, GetModuleHandleW(nullptr), nullptr)) {}
    ~HiddenWindow() {
        if (window) DestroyWindow(window);
    }
    HWND window;
};

// The shortest wait bounds that still let a stand-in start and end under
// emulation.
OrvaneWaitBounds ShortBounds() {
    OrvaneWaitBounds bounds;
    bounds.productRunMs = 60000;
    bounds.oldUninstallerMs = 60000;
    bounds.regsvr32Ms = 60000;
    return bounds;
}

class ProductStepsTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_capture::Start();
        SelectLanguage(L"Orvane", 0x0409);
        TakeLog();
        dlg_.waitBounds = ShortBounds();
        PackageHeader::SetFieldText(dlg_.packageHeader.productName, "Orvane Steps Test");
        PackageHeader::SetFieldText(dlg_.packageHeader.version, "2.3.4.5");
    }
    void TearDown() override {
        log_capture::Stop();
        // No stand-in outlives its test.
        for (int i = 0; i < 20 && KillProcessByName(L"orvane.exe"); ++i) {
        }
        for (int i = 0; i < 5 && KillProcessByName(L"unins000.exe"); ++i) {
        }
    }

    // The records of role and event, in log order.
    std::vector<Record> RecordsOf(const char* role, const char* event) const {
        std::vector<Record> found;
        for (const Record& r : session_.ReadRecords()) {
            if (r.Is(role, event)) found.push_back(r);
        }
        return found;
    }
    Record WaitFor(const char* role, const char* event, DWORD timeoutMs = 20000) const {
        return session_.WaitForRecord([&](const Record& r) { return r.Is(role, event); }, timeoutMs);
    }

    ScratchFolder scratch_{L"product-steps"};
    ScratchFolder logFolder_{L"product-steps-log"};
    StandInSession session_{logFolder_ / L"standins.log"};
    TestOrvane dlg_;
};

// ---- Registration ---------------------------------------------------------------

// Every value of the entry, read back in the view this 32-bit process wrote
// (the 32-bit one), for a plain folder and for one whose name the ANSI code
// page cannot spell: the values holding paths must name the real folder.
TEST_F(ProductStepsTest, UninstallEntryReadBackValueByValue) {
    const std::wstring folders[] = {L"Orvane Plain", L"Orvane \u0416\u00e9\u4e2d\u03a9"};
    for (const std::wstring& name : folders) {
        SCOPED_TRACE(WideToUtf8(name));
        const std::wstring folder = scratch_ / name;
        ChooseInstallFolder(scratch_.path(), folder);
        PackageHeader& header = dlg_.packageHeader;
        PackageHeader::SetFieldText(header.productName, "Orvane Entry Test");
        // A field filled to its last byte has no NUL of its own: the text must
        // end with the field, not run into the next one.
        memset(header.version, '7', sizeof(header.version));
        PackageHeader::SetFieldText(header.displayName, "NEXTFIELD");
        PackageHeader::SetFieldText(header.releaseDate, "2026-11-05");
        PackageHeader::SetFieldText(header.infoUrl, "http://www.tarvex.com/orvane/info");
        PackageHeader::SetFieldText(header.publisherText, "Tarvex Software");
        header.isX64 = 0;
        dlg_.nCfgFlag = 6;
        const std::wstring key = UninstallKey(L"Orvane Entry Test");
        DeleteKey(HKEY_LOCAL_MACHINE, key);

        dlg_.WriteUninstallInfo();

        const std::wstring version(32, L'7');
        const std::wstring uninstaller = L"\"" + folder + L"\\uninstall.exe\"";
        const struct {
            const wchar_t* name;
            std::wstring text;
        } texts[] = {
            {L"DisplayIcon", folder + L"\\orvane.exe"},
            {L"Version", version},
            {L"DisplayVersion", version},
            {L"DisplayName", L"Orvane Entry Test (2026-11-05)"},
            {L"HelpLink", L"http://www.tarvex.com/orvane/info"},
            {L"InstallDate", L"20261105"},
            {L"InstallLocation", folder},
            {L"Publisher", L"Tarvex Software"},
            {L"QuietUninstallString", uninstaller + L" /SILENT"},
            {L"UninstallString", uninstaller},
            {L"URLInfoAbout", L"http://www.tarvex.com/orvane/info"},
            {L"URLUpdateInfo", L"http://www.tarvex.com/orvane/info"},
        };
        for (const auto& t : texts) {
            EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, key, t.name, KEY_WOW64_32KEY), t.text) << WideToUtf8(t.name);
        }
        const struct {
            const wchar_t* name;
            long long value;
        } numbers[] = {{L"EstimatedSize", 227016}, {L"NoModify", 1}, {L"NoRepair", 1},
                       {L"sEstimatedSize2", 229986}, {L"cfg_flag", 6}};
        for (const auto& n : numbers) {
            EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, key, n.name), n.value) << WideToUtf8(n.name);
        }
        // The path the entry names is the folder itself.
        EXPECT_TRUE(PathFileExistsW(ReadText(HKEY_LOCAL_MACHINE, key, L"InstallLocation").c_str()));
        if (Is64BitWindows()) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
        }
        EXPECT_TRUE(Contains(TakeLog(), "Write Setup Cfg Flag : 6, root(Orvane Entry Test), key(cfg_flag).\n"));
        DeleteKey(HKEY_LOCAL_MACHINE, key);
    }
}

// A header whose product name is empty would write the values straight into
// the Uninstall key itself.
TEST_F(ProductStepsTest, EmptyProductNameWritesNoEntry) {
    ChooseInstallFolder(scratch_.path(), scratch_ / L"Orvane");
    PackageHeader::SetFieldText(dlg_.packageHeader.productName, "");
    dlg_.WriteUninstallInfo();
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, UninstallKey(L""), L"DisplayIcon"), L"<missing>");
    EXPECT_TRUE(ContainsPrefix(TakeLog(), "Uninstall key name is unusable"));
}

// ---- New installation -------------------------------------------------------

TEST_F(ProductStepsTest, NewInstallDetectedThroughEachRoad) {
    const std::wstring oldKey = UninstallKey(L"Orvane NewInstall Test");
    const std::wstring makerKey = L"Software\\Tarvex\\Orvane";
    wchar_t appData[MAX_PATH] = {};
    ASSERT_NE(GetAppDataPath(appData), 0);
    const std::wstring productData = PathJoin(appData, ProductConfig::GetProductFolderW());
    ASSERT_FALSE(FolderExists(productData)) << "the prefix already holds the product's data folder";
    const std::wstring oldFolder = scratch_ / L"\u00c4lter \u0416 Orvane";
    PackageHeader::SetFieldText(dlg_.packageHeader.productName, "Orvane NewInstall Test");

    const struct {
        const char* road;
        std::function<void(const std::wstring& folder)> arrange;
        bool isNew;
        const char* logLine;
    } roads[] = {
        {"nothing at all", [](const std::wstring&) {}, true, nullptr},
        {"an uninstaller in the folder",
         [](const std::wstring& folder) { WriteFile(folder + L"\\uninstall.exe", "MZ"); }, false,
         "IsNewInstall : bHasOldVersion(1).\n"},
        {"the old entry names an existing folder",
         [&](const std::wstring&) {
             CreateDirectoryW(oldFolder.c_str(), nullptr);
             SetText(HKEY_LOCAL_MACHINE, oldKey, L"InstallLocation", oldFolder);
         },
         false, "IsNewInstall : bHasOldVersion(0).\n"},
        {"the old entry names a folder that is gone",
         [&](const std::wstring&) {
             SetText(HKEY_LOCAL_MACHINE, oldKey, L"InstallLocation", scratch_ / L"gone");
         },
         true, nullptr},
        {"a registered install path",
         [&](const std::wstring&) { SetText(HKEY_LOCAL_MACHINE, makerKey, L"InstallPath", L"C:\\Orvane"); }, false,
         "IsNewInstall : Username false\n"},
        {"a registered install path in the 64-bit view",
         [&](const std::wstring&) {
             SetText(HKEY_LOCAL_MACHINE, makerKey, L"InstallPath", L"C:\\Orvane", KEY_WOW64_64KEY);
         },
         !Is64BitWindows(), Is64BitWindows() ? "IsNewInstall : WOW6432Node Username false\n" : nullptr},
        {"the product's application-data folder",
         [&](const std::wstring&) { CreateDirectories(productData); }, false, "IsNewInstall : appdata folder\n"},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.road);
        const std::wstring folder = scratch_ / L"Install";
        CreateDirectories(folder);
        road.arrange(folder);
        TakeLog();
        EXPECT_EQ(dlg_.IsNewInstall(folder), road.isNew);
        const auto log = TakeLog();
        if (road.logLine) {
            EXPECT_TRUE(Contains(log, road.logLine)) << road.logLine;
        }
        // Undo the road.
        RemoveTree(folder);
        DeleteKey(HKEY_LOCAL_MACHINE, oldKey);
        DeleteKey(HKEY_LOCAL_MACHINE, makerKey);
        DeleteKey(HKEY_LOCAL_MACHINE, makerKey, KEY_WOW64_64KEY);
        RemoveDirectoryW(productData.c_str());
    }
    // The folder of an old entry is handed on wide-safe.
    CreateDirectoryW(oldFolder.c_str(), nullptr);
    SetText(HKEY_LOCAL_MACHINE, oldKey, L"InstallLocation", oldFolder);
    EXPECT_EQ(Utf8ToWide(dlg_.GetOldInstallPath()), oldFolder);
    DeleteKey(HKEY_LOCAL_MACHINE, oldKey);
    EXPECT_EQ(dlg_.GetOldInstallPath(), "");
    EXPECT_TRUE(Contains(TakeLog(), "Don't find install path for old version.\n"));
}

// ---- Thank-you page and client parameter ---------------------------------------------

std::string ExpectedClientId() {
    const std::string id = GetMachineId();
    return Base64Encode(id.data(), id.size());
}

TEST_F(ProductStepsTest, ClientParameterComesFirstInTheQuery) {
    const std::string id = ExpectedClientId();
    EXPECT_EQ(dlg_.AppendClientParams("http://www.tarvex.com/a.htm?s=orvane&v=1"),
              "http://www.tarvex.com/a.htm?client_m=" + id + "&s=orvane&v=1");
    EXPECT_EQ(dlg_.AppendClientParams("http://www.tarvex.com/a.htm"), "http://www.tarvex.com/a.htm?client_m=" + id);
}

TEST_F(ProductStepsTest, FinishPageOpensTheThankYouAddressWithTheClientParameter) {
    UrlRecorderRegistration registration;
    ASSERT_TRUE(registration.ok());
    for (int isX64 : {0, 1}) {
        SCOPED_TRACE(isX64);
        dlg_.packageHeader.isX64 = isX64;
        std::string expected =
            (isX64 ? ProductConfig::GetThankYouUrlX64(true) : ProductConfig::GetThankYouUrlX86(true)) + "2.3.4.5";
        ReplaceAll(expected, "?", "?client_m=" + ExpectedClientId() + "&");
        const std::wstring url = NarrowToWide(expected);
        EXPECT_EQ(dlg_.ShowFinishWebPage(true), 1);
        const Record opened = session_.WaitForRecord(
            [&](const Record& r) { return r.Is("url", "open") && r.Get("url") == url; }, 30000);
        EXPECT_EQ(opened.Get("url"), url);
        const auto log = TakeLog();
        EXPECT_TRUE(Contains(log, "ShowFinishWebPage bNewFlag(1)"));
        EXPECT_TRUE(Contains(log, "ShowFinishWebPage : bNewFlag.\n"));
    }
    // An update opens nothing.
    const size_t before = RecordsOf("url", "open").size();
    EXPECT_EQ(dlg_.ShowFinishWebPage(false), 0);
    Sleep(2000);
    EXPECT_EQ(RecordsOf("url", "open").size(), before);
    EXPECT_TRUE(Contains(TakeLog(), "ShowFinishWebPage bNewFlag(0)"));
}

// ---- Sibling files -------------------------------------------------------------------

TEST_F(ProductStepsTest, SiblingFilesMovedAsideAndBack) {
    const std::wstring folder = scratch_ / L"Orvane \u0416";
    const std::wstring temp = folder + L"\\InstallerTemp";
    const auto names = ProductConfig::GetHelperFileNames();
    ASSERT_EQ(names.size(), 4u);

    // A clean machine: the folder is made, each missing file is logged.
    bool restart = true;
    EXPECT_TRUE(dlg_.SetupDlg::ProcessBeforeInstall(folder, &restart));
    EXPECT_FALSE(restart);
    EXPECT_TRUE(FolderExists(temp));
    int errors = 0;
    for (const auto& line : TakeLog()) errors += line.compare(0, 18, "MoveFileEx error :") == 0 ? 1 : 0;
    EXPECT_EQ(errors, 4);

    // Files left from a run (one still open, as a running program holds it)
    // go aside; what an earlier install set aside is removed first.
    WriteFile(temp + L"\\stale.txt", "old");
    for (const auto& name : names) WriteFile(folder + L"\\" + name, WideToUtf8(name));
    UniqueHandle held(CreateFileW((folder + L"\\" + names[1]).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(held && held.get() != INVALID_HANDLE_VALUE);
    EXPECT_TRUE(dlg_.SetupDlg::ProcessBeforeInstall(folder, &restart));
    held.reset();
    EXPECT_FALSE(FileExists(temp + L"\\stale.txt"));
    for (const auto& name : names) {
        EXPECT_FALSE(FileExists(folder + L"\\" + name)) << WideToUtf8(name);
        EXPECT_EQ(ReadFileBytes(temp + L"\\" + name), WideToUtf8(name));
    }
    EXPECT_FALSE(ContainsPrefix(TakeLog(), "MoveFileEx error"));

    // Back in the folder after an install, the uninstall deletes them.
    for (const auto& name : names) {
        ASSERT_TRUE(MoveFileW((temp + L"\\" + name).c_str(), (folder + L"\\" + name).c_str()));
    }
    dlg_.DeleteHelperFiles(folder);
    for (const auto& name : names) EXPECT_FALSE(FileExists(folder + L"\\" + name)) << WideToUtf8(name);
    // Never a relative or empty folder.
    dlg_.DeleteHelperFiles(L"");
}

// A sibling program still running holds its file: the uninstall ends it.
TEST_F(ProductStepsTest, RunningSiblingProgramIsEndedByTheUninstall) {
    const auto names = ProductConfig::GetHelperFileNames();
    const std::wstring updater = scratch_ / names[0];
    ASSERT_TRUE(CopyFileW(ProductExePath().c_str(), updater.c_str(), FALSE));
    session_.SetExitDelayMs(kNeverExit);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring line = L"\"" + updater + L"\" /install";
    ASSERT_TRUE(CreateProcessW(updater.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &info));
    CloseHandle(info.hThread);
    UniqueHandle process(info.hProcess);
    WaitFor("orvane", "start");

    dlg_.DeleteHelperFiles(scratch_.path());
    if (FileExists(updater)) {
        // Windows refuses to delete a running program's file: the program is ended.
        EXPECT_EQ(WaitForSingleObject(process.get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    } else {
        // Wine lets a running program's file be deleted, so nothing needs ending.
        TerminateProcess(process.get(), 1);
        GTEST_SKIP() << "Wine deleted the running program's file; the process road is not reached";
    }
}

// ---- Shortcuts -----------------------------------------------------------------------

struct LinkFacts {
    bool exists = false;
    std::wstring target, folder, description;
};

LinkFacts ReadLink(const std::wstring& path) {
    LinkFacts facts;
    if (!PathFileExistsW(path.c_str())) return facts;
    facts.exists = true;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return facts;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(path.c_str(), STGM_READ)))
        return facts;
    wchar_t text[1024] = {};
    link->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
    facts.target = text;
    // Wine keeps the link's path text in the ANSI code page only (its saved
    // location information is narrow), so a character that code page lacks
    // comes back as "?"; the item list the link also saves names the file in
    // full, so the target is read from there when it can be.
    PIDLIST_ABSOLUTE items = nullptr;
    if (SUCCEEDED(link->GetIDList(&items)) && items != nullptr) {
        wchar_t fromItems[MAX_PATH] = {};
        if (SHGetPathFromIDListW(items, fromItems) && fromItems[0] != L'\0') facts.target = fromItems;
        CoTaskMemFree(items);
    }
    text[0] = 0;
    link->GetWorkingDirectory(text, 1024);
    facts.folder = text;
    text[0] = 0;
    link->GetDescription(text, 1024);
    facts.description = text;
    return facts;
}

std::wstring FolderOf(ShortcutLocation kind) {
    wchar_t buffer[MAX_PATH] = {};
    GetShortcutFolder(kind, buffer);
    return buffer;
}

TEST_F(ProductStepsTest, ShortcutsOnTheDesktopAndInBothProgramsGroups) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ShortcutInfo info;
    info.strInstallFolder = scratch_ / L"Orvane \u0416";
    info.strMainExeName = L"orvane.exe";
    info.strDisplayName = L"Orvane Link Test";
    info.strHomeUrl = L"http://www.tarvex.com/?s=orvane&v=2.3.4.5";
    CreateDirectories(info.strInstallFolder);
    const std::wstring name = info.strDisplayName;
    const std::wstring exe = info.strInstallFolder + L"\\orvane.exe";
    const std::wstring uninstaller = info.strInstallFolder + L"\\uninstall.exe";
    // The shortcuts are made after extraction: their targets exist.
    WriteFile(exe, "MZ");
    WriteFile(uninstaller, "MZ");
    const std::wstring desktop = FolderOf(E_Shortcut_Desktop) + L"\\" + name + L".lnk";

    // With every flag clear nothing is made and nothing logged.
    ShortcutInfo none = info;
    none.bDesktop = none.bStartMenu = none.bCommonPrograms = false;
    dlg_.CreateShortcuts(none);
    EXPECT_FALSE(PathFileExistsW(desktop.c_str()));
    EXPECT_TRUE(TakeLog().empty());

    dlg_.CreateShortcuts(info);
    const auto log = TakeLog();
    EXPECT_TRUE(Contains(log, "Create DESKTOP Icons Finish."));
    EXPECT_TRUE(Contains(log, "Create START_MENU Icons Finish."));
    EXPECT_TRUE(Contains(log, "Create COMMON_MENU Icons Finish."));

    const LinkFacts onDesktop = ReadLink(desktop);
    EXPECT_TRUE(onDesktop.exists);
    EXPECT_TRUE(SamePath(onDesktop.target, exe)) << WideToUtf8(onDesktop.target);
    EXPECT_TRUE(SamePath(onDesktop.folder, info.strInstallFolder));
    EXPECT_EQ(onDesktop.description, name + GetLangString(37));

    for (ShortcutLocation kind : {E_Shortcut_Programs, E_Shortcut_CommonPrograms}) {
        SCOPED_TRACE(kind);
        const std::wstring group = FolderOf(kind) + L"\\" + name + L"\\";
        const LinkFacts app = ReadLink(group + name + L".lnk");
        EXPECT_TRUE(app.exists);
        EXPECT_TRUE(SamePath(app.target, exe)) << WideToUtf8(app.target);
        EXPECT_TRUE(SamePath(app.folder, info.strInstallFolder));
        EXPECT_EQ(app.description, name + GetLangString(37));
        const LinkFacts remove = ReadLink(group + GetLangString(48) + L".lnk");
        EXPECT_TRUE(remove.exists);
        EXPECT_TRUE(SamePath(remove.target, uninstaller)) << WideToUtf8(remove.target);
        EXPECT_TRUE(SamePath(remove.folder, info.strInstallFolder));
        EXPECT_EQ(remove.description, name + GetLangString(36));
        const LinkFacts web = ReadLink(group + GetLangString(47) + L".lnk");
        if (web.exists) {
            EXPECT_EQ(web.folder, L"");
            EXPECT_EQ(web.description, name + GetLangString(39));
        } else {
            // Wine's shell link refuses a web address as its target.
            std::cout << "no web-page shortcut: the shell link did not take the address\n";
        }
    }

    dlg_.DeleteShortcuts(name);
    EXPECT_FALSE(PathFileExistsW(desktop.c_str()));
    EXPECT_FALSE(FolderExists(FolderOf(E_Shortcut_Programs) + L"\\" + name));
    EXPECT_FALSE(FolderExists(FolderOf(E_Shortcut_CommonPrograms) + L"\\" + name));
    EXPECT_TRUE(Contains(TakeLog(), "End delete Icon."));

    // The desktop flag alone: exactly one shortcut.
    ShortcutInfo desktopOnly = none;
    desktopOnly.bDesktop = true;
    dlg_.CreateShortcuts(desktopOnly);
    EXPECT_TRUE(PathFileExistsW(desktop.c_str()));
    EXPECT_FALSE(FolderExists(FolderOf(E_Shortcut_Programs) + L"\\" + name));
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"Create DESKTOP Icons Finish."});
    dlg_.DeleteShortcuts(name);
    EXPECT_FALSE(PathFileExistsW(desktop.c_str()));
    CoUninitialize();
}

// ---- The product's executable: base steps ----------------------------------------------

TEST_F(ProductStepsTest, BaseInstallRunPassesItsSwitchesAndReadsTheExitCode) {
    ASSERT_TRUE(CopyProductStandIns(scratch_.path()));
    RECT rect{0, 0, 10, 10};
    CheckButtonCtrlEx join(nullptr, rect);
    const struct {
        const char* name;
        std::function<void(SetupDlg&)> arrange;
        bool newFlag;
        DWORD exitCode;
        std::wstring parameters;
    } cases[] = {
        {"plain", [](SetupDlg&) {}, false, 0, L"/install"},
        {"new", [](SetupDlg&) {}, true, 100, L"/install /new "},
        {"everything",
         [&](SetupDlg& d) {
             join.SetCheck(1);
             d.pChkJoin = &join;
             d.strInstallId = "0123abcd";
             d.strOption = "summer";
             d.strSource = "mail";
             g_nDownloadSeconds = 42;
         },
         true, 0, L"/install /add_plan /ID:0123abcd /new  /option:summer /source:mail /time:42 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetupDlg base;
        c.arrange(base);
        session_.SetModeExitCode(kInstallMode, c.exitCode);
        const size_t before = RecordsOf("orvane", "start").size();
        bool restart = true;
        EXPECT_TRUE(base.RunMainExeInstall(scratch_.path(), L"orvane.exe", c.newFlag, &restart));
        // The base dialog never asks for a restart, whatever the code.
        EXPECT_FALSE(restart);
        const auto starts = RecordsOf("orvane", "start");
        ASSERT_EQ(starts.size(), before + 1);
        EXPECT_TRUE(CommandLineCarries(starts.back().Get("cmdline"), c.parameters))
            << WideToUtf8(starts.back().Get("cmdline"));
        EXPECT_EQ(starts.back().Get("show"), L"0");
        const auto log = TakeLog();
        EXPECT_TRUE(Contains(log, "Run Install Params: " + WideToNarrow(c.parameters) + ".\n"));
        EXPECT_TRUE(ContainsPrefix(log, "Run main exe install : ExitCode(" + std::to_string(c.exitCode) + ")"));
        base.pChkJoin = nullptr;
        g_nDownloadSeconds = 0;
    }

    // A missing executable: false, logged, and the flag untouched.
    SetupDlg base;
    bool restart = true;
    EXPECT_FALSE(base.RunMainExeInstall(scratch_ / L"missing", L"orvane.exe", false, &restart));
    EXPECT_TRUE(restart);
    EXPECT_TRUE(Contains(TakeLog(), "Run exe failed. main exe con't found\n."));
}

TEST_F(ProductStepsTest, BaseUninstallRunFollowsTheKeepConfigurationsBox) {
    ASSERT_TRUE(CopyProductStandIns(scratch_.path()));
    RECT rect{0, 0, 10, 10};
    CheckButtonCtrl keep(nullptr, rect);
    SetupDlg base;
    base.pChkKeepConfig = &keep;
    session_.SetModeExitCode(kUninstallMode, 100);
    for (int checked : {1, 0}) {
        keep.SetCheck(checked);
        bool restart = true;
        EXPECT_TRUE(base.RunMainExeUninstall(scratch_.path(), L"orvane.exe", &restart));
        EXPECT_FALSE(restart);
        const auto starts = RecordsOf("orvane", "start");
        ASSERT_FALSE(starts.empty());
        EXPECT_TRUE(CommandLineCarries(starts.back().Get("cmdline"), checked ? L"/uninstall" : L"/full_uninstall"))
            << WideToUtf8(starts.back().Get("cmdline"));
    }
    bool restart = true;
    EXPECT_FALSE(base.RunMainExeUninstall(scratch_ / L"missing", L"orvane.exe", &restart));
    EXPECT_TRUE(restart);
    base.pChkKeepConfig = nullptr;
}

// ---- The product's executable: Orvane's steps --------------------------------------

// The product's install run gets the dialog's live window; 100 asks for a
// restart, 0 and a failure do not. The drivers go where they belong and the
// library is registered before the product runs.
TEST_F(ProductStepsTest, OrvaneInstallRunPassesTheLiveWindowAndReadsTheRestartCode) {
    HiddenWindow window;
    ASSERT_NE(window.window, nullptr);
    dlg_.UseWindow(window.window);
    const std::wstring folder = scratch_ / L"Orvane \u0416";
    CreateDirectories(folder);
    ASSERT_TRUE(CopyProductStandIns(folder));
    const std::wstring handle = std::to_wstring(static_cast<int>(reinterpret_cast<INT_PTR>(window.window)));

    const struct {
        DWORD exitCode;
        bool restart;
    } cases[] = {{0, false}, {100, true}, {3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exitCode);
        session_.SetModeExitCode(kInstallMode, c.exitCode);
        bool restart = !c.restart;
        EXPECT_TRUE(dlg_.RunMainExeInstall(folder, L"orvane.exe", true, &restart));
        EXPECT_EQ(restart, c.restart);
        const auto starts = RecordsOf("orvane", "start");
        ASSERT_FALSE(starts.empty());
        EXPECT_TRUE(CommandLineCarries(starts.back().Get("cmdline"), L"/install /XI:" + handle))
            << WideToUtf8(starts.back().Get("cmdline"));
        const auto xi = RecordsOf("orvane", "xi");
        ASSERT_FALSE(xi.empty());
        EXPECT_EQ(xi.back().Get("value"), handle);
        EXPECT_EQ(xi.back().Get("live"), L"1");
        EXPECT_EQ(RecordsOf("orvane", "exit").back().Get("code"), std::to_wstring(c.exitCode));
        const auto log = TakeLog();
        EXPECT_TRUE(Contains(log, "Run Install Params: /install /XI:" + WideToNarrow(handle) + ".\n"));
        EXPECT_TRUE(Contains(log, "Run MainExe.exe finish"));
    }
    // Each run is its own start, in order.
    const auto starts = RecordsOf("orvane", "start");
    ASSERT_GE(starts.size(), 3u);
    EXPECT_LT(starts[starts.size() - 3].Seq(), starts[starts.size() - 2].Seq());
    EXPECT_LT(starts[starts.size() - 2].Seq(), starts.back().Seq());

    if (Is64BitWindows()) {
        // Wine's regsvr32 loads the library and calls it.
        const auto registered = RecordsOf("orvane32", "register");
        ASSERT_EQ(registered.size(), 3u);
        EXPECT_TRUE(SamePath(registered[0].Get("dll"), folder + L"\\orvane32.dll")) << WideToUtf8(registered[0].Get("dll"));
        EXPECT_TRUE(EndsWith(registered[0].Get("image"), L"regsvr32.exe"));
        EXPECT_NE(registered[0].Get("cmdline").find(L"/s \"" + folder + L"\\orvane32.dll\""), std::wstring::npos)
            << WideToUtf8(registered[0].Get("cmdline"));
        // Registered before the product's run.
        EXPECT_LT(registered.back().Seq(), starts.back().Seq());
    } else {
        EXPECT_TRUE(RecordsOf("orvane32", "register").empty());
    }

    bool restart = true;
    EXPECT_FALSE(dlg_.RunMainExeInstall(scratch_ / L"missing", L"orvane.exe", true, &restart));
    EXPECT_TRUE(restart);
}

// The native drivers folder, seen past the file-system redirection.
class NativeFiles {
public:
    NativeFiles() { Wow64DisableWow64FsRedirection(&old_); }
    ~NativeFiles() { Wow64RevertWow64FsRedirection(old_); }
    static std::wstring Drivers() {
        std::wstring system;
        return GetSystemFolderPath(system, false) + L"\\drivers";
    }

private:
    PVOID old_ = nullptr;
};

TEST_F(ProductStepsTest, DriversAreMovedOnlyAfterTheirCopies) {
    HiddenWindow window;
    dlg_.UseWindow(window.window);
    const std::wstring folder = scratch_ / L"Orvane";
    CreateDirectories(folder);
    ASSERT_TRUE(CopyProductStandIns(folder));
    const wchar_t* sub = Is64BitWindows() ? L"x64" : L"x86";

    // Copies that succeed: both drivers reach the drivers folder, "orvane.sys"
    // moves into the bitness folder, "tarvexio.sys" leaves the installation.
    WriteFile(folder + L"\\orvane.sys", "driver one");
    WriteFile(folder + L"\\tarvexio.sys", "driver two");
    bool restart = false;
    EXPECT_TRUE(dlg_.RunMainExeInstall(folder, L"orvane.exe", false, &restart));
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + sub + L"\\orvane.sys"), "driver one");
    EXPECT_FALSE(FileExists(folder + L"\\orvane.sys"));
    EXPECT_FALSE(FileExists(folder + L"\\tarvexio.sys"));
    {
        NativeFiles native;
        EXPECT_EQ(ReadFileBytes(NativeFiles::Drivers() + L"\\orvane.sys"), "driver one");
        EXPECT_EQ(ReadFileBytes(NativeFiles::Drivers() + L"\\tarvexio.sys"), "driver two");
    }
    const auto log = TakeLog();
    EXPECT_TRUE(Contains(log, "copy sys file to system.\n"));
    EXPECT_TRUE(Contains(log, "copy sys file to install path.\n"));

    // Copies that fail: a folder where the driver should land in the drivers
    // folder and a file where the bitness folder should be. Both sources stay.
    RemoveTree(folder + L"\\" + sub);
    WriteFile(folder + L"\\" + sub, "not a folder");
    WriteFile(folder + L"\\orvane.sys", "driver one");
    WriteFile(folder + L"\\tarvexio.sys", "driver two, newer");
    std::wstring blocked;
    {
        NativeFiles native;
        blocked = NativeFiles::Drivers() + L"\\tarvexio.sys";
        DeleteFileW(blocked.c_str());
        ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
    }
    EXPECT_TRUE(dlg_.RunMainExeInstall(folder, L"orvane.exe", false, &restart));
    EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.sys"), "driver one");
    EXPECT_EQ(ReadFileBytes(folder + L"\\tarvexio.sys"), "driver two, newer");
    EXPECT_TRUE(ContainsPrefix(TakeLog(), "Copy "));
    {
        NativeFiles native;
        RemoveDirectoryW(blocked.c_str());
        DeleteFileW((NativeFiles::Drivers() + L"\\orvane.sys").c_str());
    }
}

// Whether this thread's file-system redirection is on: a file put into the
// 32-bit system folder shows through the system folder's own name only then.
class RedirectionProbe {
public:
    RedirectionProbe() {
        wchar_t wow64[MAX_PATH] = {};
        wchar_t system[MAX_PATH] = {};
        GetSystemWow64DirectoryW(wow64, MAX_PATH);
        GetSystemDirectoryW(system, MAX_PATH);
        marker_ = std::wstring(wow64) + L"\\orvane-redirection-probe.txt";
        seen_ = std::wstring(system) + L"\\orvane-redirection-probe.txt";
        WriteFile(marker_, "probe");
    }
    ~RedirectionProbe() { DeleteFileW(marker_.c_str()); }
    bool On() const { return GetFileAttributesW(seen_.c_str()) != INVALID_FILE_ATTRIBUTES; }

private:
    std::wstring marker_;
    std::wstring seen_;
};

// The product's dialog noting the thread's redirection as each regsvr32 run starts.
class RedirectionWatchingOrvane : public Orvane {
public:
    explicit RedirectionWatchingOrvane(const RedirectionProbe& probe) : probe_(probe) {}
    void UseWindow(HWND window) { m_hWnd = window; }
    bool RegisterServerDll(const std::wstring& switches, const std::wstring& dllPath) override {
        redirectionOnAtStart.push_back(probe_.On());
        return Orvane::RegisterServerDll(switches, dllPath);
    }
    std::vector<bool> redirectionOnAtStart;

private:
    const RedirectionProbe& probe_;
};

// Turns redirection back on, as asked, yet answers that it failed.
BOOL WINAPI RevertAndReportFailure(PVOID oldValue) {
    Wow64RevertWow64FsRedirection(oldValue);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// regsvr32 starts with the thread's redirection on (the drivers' copies run
// with it off), and not at all when turning it back on fails. Wine's
// regsvr32 loads the library either way: what Windows does with a library
// loaded while redirection is off cannot be seen here.
TEST_F(ProductStepsTest, LibraryIsRegisteredWithRedirectionOnAndNotAfterAFailedRestore) {
    if (!Is64BitWindows()) GTEST_SKIP() << "a 32-bit Windows has no file-system redirection";
    RedirectionProbe probe;
    ASSERT_TRUE(probe.On());
    HiddenWindow window;
    const std::wstring folder = scratch_ / L"Orvane";
    CreateDirectories(folder);
    ASSERT_TRUE(CopyProductStandIns(folder));

    const struct {
        const char* name;
        BOOL(WINAPI* revert)(PVOID);
        bool result;
        size_t registrations;
    } cases[] = {
        {"redirection comes back", Wow64RevertWow64FsRedirection, true, 1},
        {"turning it back on fails", RevertAndReportFailure, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RedirectionWatchingOrvane dlg(probe);
        dlg.UseWindow(window.window);
        dlg.waitBounds = ShortBounds();
        dlg.fsRedirection.revert = c.revert;
        WriteFile(folder + L"\\orvane.sys", "driver one");
        const size_t registeredBefore = RecordsOf("orvane32", "register").size();
        TakeLog();
        bool restart = false;
        EXPECT_EQ(dlg.RunMainExeInstall(folder, L"orvane.exe", false, &restart), c.result);
        EXPECT_TRUE(probe.On()) << "the step leaves redirection off";
        EXPECT_EQ(dlg.redirectionOnAtStart.size(), c.registrations);
        for (bool on : dlg.redirectionOnAtStart) EXPECT_TRUE(on) << "regsvr32 started with redirection off";
        EXPECT_EQ(RecordsOf("orvane32", "register").size() - registeredBefore, c.registrations);
        const auto log = TakeLog();
        EXPECT_TRUE(Contains(log, "copy sys file to system.\n"));
        EXPECT_EQ(Contains(log, "regsvr32 dll.\n"), c.result);
        EXPECT_EQ(Contains(log, "Revert file system redirection failed : 5.\n"), !c.result);
    }
    NativeFiles native;
    DeleteFileW((NativeFiles::Drivers() + L"\\orvane.sys").c_str());
}

TEST_F(ProductStepsTest, ProductRunThatNeverEndsIsEndedAtItsBound) {
    HiddenWindow window;
    dlg_.UseWindow(window.window);
    ASSERT_TRUE(CopyProductStandIns(scratch_.path()));
    session_.SetExitDelayMs(kNeverExit);
    dlg_.waitBounds.productRunMs = 3000;
    bool restart = true;
    const DWORD started = GetTickCount();
    EXPECT_TRUE(dlg_.RunMainExeInstall(scratch_.path(), L"orvane.exe", false, &restart));
    EXPECT_LT(GetTickCount() - started, 40000u);
    EXPECT_TRUE(restart);  // no answer from the product: the flag is kept
    EXPECT_TRUE(Contains(TakeLog(), "Main exe did not end within 3000 ms; ended.\n"));
    EXPECT_FALSE(IsProcessRunning(L"orvane.exe"));
    EXPECT_TRUE(RecordsOf("orvane", "exit").empty());

    // The uninstall run the same way; its answer then counts as no restart.
    RECT rect{0, 0, 10, 10};
    CheckButtonCtrl keep(nullptr, rect);
    dlg_.pChkKeepConfig = &keep;
    EXPECT_TRUE(dlg_.RunMainExeUninstall(scratch_.path(), L"orvane.exe", &restart));
    EXPECT_FALSE(restart);
    EXPECT_FALSE(IsProcessRunning(L"orvane.exe"));
    dlg_.pChkKeepConfig = nullptr;
}

TEST_F(ProductStepsTest, OrvaneUninstallRunUnregistersAndSetsTheLibrariesAside) {
    RECT rect{0, 0, 10, 10};
    CheckButtonCtrl keep(nullptr, rect);
    dlg_.pChkKeepConfig = &keep;
    const std::wstring folder = scratch_ / L"Orvane";
    for (int checked : {1, 0}) {
        SCOPED_TRACE(checked);
        CreateDirectories(folder);
        ASSERT_TRUE(CopyProductStandIns(folder));
        WriteFile(folder + L"\\orvane.dll", "library");
        WriteFile(folder + L"\\orvane.tmp", "older set-aside");
        WriteFile(folder + L"\\orvane32.tmp", "older set-aside");
        keep.SetCheck(checked);
        session_.SetModeExitCode(kUninstallMode, checked ? 100 : 0);
        bool restart = !checked;
        EXPECT_TRUE(dlg_.RunMainExeUninstall(folder, L"orvane.exe", &restart));
        EXPECT_EQ(restart, checked == 1);
        const auto starts = RecordsOf("orvane", "start");
        ASSERT_FALSE(starts.empty());
        EXPECT_TRUE(CommandLineCarries(starts.back().Get("cmdline"),
                                       checked ? L"/uninstall /XU" : L"/full_uninstall /XU"))
            << WideToUtf8(starts.back().Get("cmdline"));
        EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.tmp"), "library");
        EXPECT_TRUE(FileExists(folder + L"\\orvane32.tmp"));
        EXPECT_NE(ReadFileBytes(folder + L"\\orvane32.tmp"), "older set-aside");
        EXPECT_FALSE(FileExists(folder + L"\\orvane.dll"));
        EXPECT_FALSE(FileExists(folder + L"\\orvane32.dll"));
        const auto log = TakeLog();
        const int run = IndexOf(log, "Run MainExe.exe /uninstall \n");
        const int finish = IndexOf(log, "Run MainExe.exe finish. \n");
        EXPECT_GE(run, 0);
        EXPECT_GT(finish, run);
        if (Is64BitWindows()) {
            EXPECT_TRUE(Contains(log, "Run regsvr32 orvane32.dll success\n"));
            const auto unregistered = RecordsOf("orvane32", "unregister");
            ASSERT_FALSE(unregistered.empty());
            EXPECT_NE(unregistered.back().Get("cmdline").find(L"/s /u \"" + folder + L"\\orvane32.dll\""),
                      std::wstring::npos)
                << WideToUtf8(unregistered.back().Get("cmdline"));
            // Unregistered after the product's own run.
            EXPECT_GT(unregistered.back().Seq(), starts.back().Seq());
        }
        RemoveTree(folder);
    }
    bool restart = true;
    EXPECT_FALSE(dlg_.RunMainExeUninstall(scratch_ / L"missing", L"orvane.exe", &restart));
    EXPECT_TRUE(restart);
    dlg_.pChkKeepConfig = nullptr;
}

// ---- Older version and the pre-install step -------------------------------------

const wchar_t kOldKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvex Orvane_is1";

class OldVersionTest : public ProductStepsTest {
protected:
    void SetUp() override {
        ProductStepsTest::SetUp();
        ClearOldKey();
    }
    void TearDown() override {
        ClearOldKey();
        ProductStepsTest::TearDown();
    }
    static void ClearOldKey() {
        DeleteKey(HKEY_LOCAL_MACHINE, kOldKey);
        DeleteKey(HKEY_LOCAL_MACHINE, kOldKey, KEY_WOW64_64KEY);
    }
    // A resident product copy that owns the tray window.
    UniqueHandle StartResident(const std::wstring& exe) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        std::wstring line = L"\"" + exe + L"\" --resident";
        if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            ADD_FAILURE() << "CreateProcess failed";
            return nullptr;
        }
        CloseHandle(info.hThread);
        UniqueHandle process(info.hProcess);
        // This copy's own record: an earlier resident of the test has one too.
        const std::wstring pid = std::to_wstring(info.dwProcessId);
        session_.WaitForRecord([&](const Record& r) { return r.Is("orvane", "resident") && r.Get("pid") == pid; },
                               20000);
        return process;
    }
};

TEST_F(OldVersionTest, NoOlderVersionContinuesWithTheBaseStep) {
    const std::wstring folder = scratch_ / L"Orvane";
    bool restart = true;
    EXPECT_TRUE(dlg_.ProcessBeforeInstall(folder, &restart));
    EXPECT_FALSE(restart);
    EXPECT_TRUE(FolderExists(folder + L"\\InstallerTemp"));
    const auto log = TakeLog();
    EXPECT_LT(IndexOf(log, "Check old version.\n"), IndexOf(log, "Not find inno version.\n"));
    EXPECT_GE(IndexOf(log, "Check old version.\n"), 0);
    EXPECT_FALSE(Contains(log, "Find inno version.\n"));
    // The key is there afterwards, empty, in the default view.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kOldKey));
}

// A location without its uninstaller: the tray window is still asked to
// close, and the step goes on.
TEST_F(OldVersionTest, LocationWithoutUninstallerClosesTheTrayAndGoesOn) {
    const std::wstring old = scratch_ / L"Old";
    CreateDirectories(old);
    ASSERT_TRUE(CopyProductStandIns(old));
    SetText(HKEY_LOCAL_MACHINE, kOldKey, L"InstallLocation", old + L"\\");
    UniqueHandle resident = StartResident(old + L"\\orvane.exe");
    bool restart = true;
    EXPECT_TRUE(dlg_.ProcessBeforeInstall(scratch_ / L"Orvane", &restart));
    EXPECT_FALSE(restart);
    const Record close = WaitFor("orvane", "close");
    EXPECT_EQ(close.Get("wparam"), L"0");
    EXPECT_EQ(close.Get("lparam"), L"0");
    const auto log = TakeLog();
    EXPECT_GE(IndexOf(log, "Find inno version.\n"), 0);
    EXPECT_GT(IndexOf(log, "Not find inno version.\n"), IndexOf(log, "Find inno version.\n"));
    EXPECT_EQ(WaitForSingleObject(resident.get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
}

// The older version's uninstaller runs, found in either registry view and in a
// folder the ANSI code page cannot spell; a restart is asked for.
TEST_F(OldVersionTest, OlderVersionIsRemovedThroughItsUninstaller) {
    const std::wstring old = scratch_ / L"\u00c4lter \u0416 \u4e2d";
    CreateDirectories(old);
    ASSERT_TRUE(CopyFileW(UninstallerExePath().c_str(), (old + L"\\unins000.exe").c_str(), FALSE));
    for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(0)}) {
        SCOPED_TRACE(view);
        ClearOldKey();
        SetText(HKEY_LOCAL_MACHINE, kOldKey, L"InstallLocation", old, view);
        const size_t before = RecordsOf("unins000", "exit").size();
        bool restart = false;
        EXPECT_FALSE(dlg_.ProcessBeforeInstall(scratch_ / L"Orvane", &restart));
        EXPECT_TRUE(restart);
        // Waited for: it had ended when the step returned.
        EXPECT_EQ(RecordsOf("unins000", "exit").size(), before + 1);
        const Record start = RecordsOf("unins000", "start").back();
        EXPECT_TRUE(EndsWith(start.Get("cmdline"), L" /silent /norestart /suppressmsgboxes"))
            << WideToUtf8(start.Get("cmdline"));
        EXPECT_TRUE(SamePath(start.Get("image"), old + L"\\unins000.exe"));
        EXPECT_EQ(start.Get("show"), std::to_wstring(SW_SHOW));
        const auto log = TakeLog();
        EXPECT_GT(IndexOf(log, "need restart.\n"), IndexOf(log, "Find inno version.\n"));
        EXPECT_FALSE(Contains(log, "Not find inno version.\n"));
        // The base step did not run.
        EXPECT_FALSE(FolderExists(scratch_ / L"Orvane\\InstallerTemp"));
    }
}

// Neither an uninstaller that never ends nor a tray window that hangs holds
// the install worker past their bounds.
TEST_F(OldVersionTest, HangingUninstallerAndTrayWindowDoNotHangTheStep) {
    const std::wstring old = scratch_ / L"Old";
    CreateDirectories(old);
    ASSERT_TRUE(CopyProductStandIns(old));
    ASSERT_TRUE(CopyFileW(UninstallerExePath().c_str(), (old + L"\\unins000.exe").c_str(), FALSE));
    SetText(HKEY_LOCAL_MACHINE, kOldKey, L"InstallLocation", old);
    session_.SetUninstallerDelayMs(kNeverExit);
    session_.SetCloseHangMs(60000);
    UniqueHandle resident = StartResident(old + L"\\orvane.exe");
    dlg_.waitBounds.oldUninstallerMs = 3000;
    dlg_.waitBounds.trayCloseMs = 2000;

    bool restart = false;
    const DWORD started = GetTickCount();
    EXPECT_FALSE(dlg_.ProcessBeforeInstall(scratch_ / L"Orvane", &restart));
    EXPECT_LT(GetTickCount() - started, 45000u);
    EXPECT_TRUE(restart);
    EXPECT_EQ(WaitFor("orvane", "close_hang").Get("ms"), L"60000");
    const auto log = TakeLog();
    EXPECT_TRUE(Contains(log, "Tray window did not answer WM_CLOSE within 2000 ms.\n"));
    EXPECT_TRUE(Contains(log, "Old uninstaller did not end within 3000 ms; ended.\n"));
    EXPECT_TRUE(RecordsOf("unins000", "exit").empty());
    EXPECT_FALSE(IsProcessRunning(L"unins000.exe"));
    TerminateProcess(resident.get(), 1);
}

// The libraries are set aside before an install only when the debug switch
// asks for it.
TEST_F(OldVersionTest, LibrariesSetAsideOnlyUnderTheTestRestartSwitch) {
    const std::wstring config = DocumentsFolder() + L"\\ZovDebugConfig.ini";
    const std::string previous = ReadFileBytes(config);
    const bool hadConfig = FileExists(config);
    const std::wstring folder = scratch_ / L"Orvane";
    for (int on : {0, 1}) {
        SCOPED_TRACE(on);
        CreateDirectories(folder);
        WriteFile(config, on ? "[root]\r\nsetup_test_restart=1\r\n" : "[root]\r\nsetup_test_restart=0\r\n");
        WriteFile(folder + L"\\orvane.dll", "one");
        WriteFile(folder + L"\\orvane32.dll", "thirty-two");
        WriteFile(folder + L"\\orvane.tmp", "older");
        bool restart = true;
        EXPECT_TRUE(dlg_.ProcessBeforeInstall(folder, &restart));
        EXPECT_FALSE(restart);
        if (on) {
            EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.tmp"), "one");
            EXPECT_EQ(ReadFileBytes(folder + L"\\orvane32.tmp"), "thirty-two");
            EXPECT_FALSE(FileExists(folder + L"\\orvane.dll"));
            const auto log = TakeLog();
            EXPECT_TRUE(Contains(log, "remove temp1 file success.\n"));
            EXPECT_TRUE(Contains(log, "remove temp2 file success.\n"));
        } else {
            EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.dll"), "one");
            EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.tmp"), "older");
        }
        RemoveTree(folder);
    }
    if (hadConfig) {
        WriteFile(config, previous);
    } else {
        DeleteFileW(config.c_str());
    }
}

// ---- Quitting a running product -------------------------------------------------------

TEST_F(OldVersionTest, QuitRunningAppEndsTheProductOrGivesUpAfterItsChecks) {
    const std::wstring folder = scratch_ / L"Orvane";
    CreateDirectories(folder);
    ASSERT_TRUE(CopyProductStandIns(folder));

    UniqueHandle resident = StartResident(folder + L"\\orvane.exe");
    dlg_.QuitRunningApp(folder, L"orvane.exe");
    EXPECT_EQ(WaitForSingleObject(resident.get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_FALSE(WaitFor("orvane", "quit_by_setup").fields.empty());
    EXPECT_TRUE(Contains(TakeLog(), "Run Install Params: /quit_by_setup.\n"));

    // A product that ignores the request: the step gives up after its checks.
    session_.SetIgnoreQuit(true);
    dlg_.waitBounds.quitChecks = 4;
    UniqueHandle stubborn = StartResident(folder + L"\\orvane.exe");
    const DWORD started = GetTickCount();
    dlg_.QuitRunningApp(folder, L"orvane.exe");
    const DWORD took = GetTickCount() - started;
    EXPECT_GE(took, 3000u);
    EXPECT_LT(took, 40000u);
    EXPECT_FALSE(WaitFor("orvane", "quit_ignored").fields.empty());
    EXPECT_EQ(WaitForSingleObject(stubborn.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(stubborn.get(), 1);

    dlg_.QuitRunningApp(scratch_ / L"missing", L"orvane.exe");
    EXPECT_TRUE(Contains(TakeLog(), "Run exe failed. main exe con't found\n."));
}

// ---- Small answers -------------------------------------------------------------------

TEST(OrvaneAnswersTest, RestartCodeArchitectureAndNumbers) {
    Orvane dlg;
    EXPECT_TRUE(dlg.IsRestartExitCode(100));
    for (int code : {0, 1, 99, 101, -100}) EXPECT_FALSE(dlg.IsRestartExitCode(code)) << code;
    for (int isX64 : {0, 1}) {
        dlg.packageHeader.isX64 = isX64;
        EXPECT_EQ(dlg.IsArchitectureMatch(), Is64BitWindows() == (isX64 != 0)) << isX64;
    }
    EXPECT_EQ(Orvane::IntToWString(0), L"0");
    EXPECT_EQ(Orvane::IntToWString(-2147483647 - 1), L"-2147483648");
    EXPECT_EQ(Orvane::IntToWString(1234567), L"1234567");
    SetupDlg base;
    EXPECT_FALSE(base.IsRestartExitCode(100));
}

}  // namespace
