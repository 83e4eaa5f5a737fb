#include <gtest/gtest.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "JFile.h"
#include "Paths.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// Set by the CTest entries that run these cases again in a 32-bit prefix.
bool In32BitPrefix() {
    const char* arch = getenv("ORVANE_PREFIX_ARCH");
    return arch && strcmp(arch, "win32") == 0;
}

// Sets or clears an environment variable for one test, restoring it after.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
        wchar_t old[32768];
        const DWORD length = GetEnvironmentVariableW(name, old, 32768);
        had_ = length > 0 && length < 32768;
        if (had_) old_ = old;
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

private:
    std::wstring name_, old_;
    bool had_ = false;
};

}  // namespace

TEST(SpecialFolderTest, EachFolderAndItsTail) {
    const std::wstring appData = ShellFolder(CSIDL_APPDATA);
    const struct {
        int (*get)(wchar_t*);
        std::wstring expected;
    } cases[] = {
        {GetDesktopPath, ShellFolder(CSIDL_DESKTOPDIRECTORY)},
        {GetProgramsPath, ShellFolder(CSIDL_PROGRAMS)},
        {GetCommonProgramsPath, ShellFolder(CSIDL_COMMON_PROGRAMS)},
        {GetAppDataPath, appData},
        {GetQuickLaunchPath, appData + L"\\Microsoft\\Internet Explorer\\Quick Launch"},
        {GetTaskBarPinPath, appData + L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar"},
        {GetPersonalFolderPath, ShellFolder(CSIDL_PERSONAL)},
    };
    for (const auto& c : cases) {
        wchar_t buffer[MAX_PATH] = {};
        EXPECT_NE(c.get(buffer), 0) << c.expected;
        // Wine's shell ends the Documents folder, a link to the Unix home,
        // with a separator; the folder is the same.
        PathRemoveBackslashW(buffer);
        EXPECT_EQ(std::wstring(buffer), c.expected);
        EXPECT_FALSE(c.expected.empty());
    }
    EXPECT_TRUE(EndsWith(ShellFolder(CSIDL_PROGRAMS), L"\\Start Menu\\Programs"));
    // A fresh prefix has no Quick Launch folder: the path is given all the same.
    wchar_t quickLaunch[MAX_PATH] = {};
    GetQuickLaunchPath(quickLaunch);
    EXPECT_FALSE(FolderExists(quickLaunch));
}

// The application-data folder moved to a deep folder, as a roaming profile
// may be: the Quick Launch tails would pass MAX_PATH and must fail instead.
// Moving it changes the folder for every program of the prefix, so the case
// runs in a prefix of its own (see this folder's CMake file).
TEST(SpecialFolderTest, TailsThatDoNotFitFail) {
    if (!getenv("ORVANE_OWN_PREFIX")) GTEST_SKIP() << "moves the profile's AppData: runs in a prefix of its own";
    const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    wchar_t old[1024] = {};
    DWORD oldSize = sizeof(old), oldType = 0;
    const bool hadOld = RegQueryValueExW(key, L"AppData", nullptr, &oldType, reinterpret_cast<BYTE*>(old), &oldSize) ==
                        ERROR_SUCCESS;

    ScratchFolder scratch(L"deep");
    std::wstring deep = scratch.path();
    while (deep.size() < 225) deep += L"\\aaaaaaaaaaaaaaaaaaaaaaaa";
    deep.resize(225);
    ASSERT_EQ(CreateDirectories(deep), 1);
    RegSetValueExW(key, L"AppData", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(deep.c_str()),
                   static_cast<DWORD>((deep.size() + 1) * sizeof(wchar_t)));

    wchar_t buffer[MAX_PATH + 64];
    wmemset(buffer, L'#', MAX_PATH + 64);
    const int appData = GetAppDataPath(buffer);
    const std::wstring appDataPath = buffer;
    const int quickLaunch = GetQuickLaunchPath(buffer);
    const int taskBar = GetTaskBarPinPath(buffer);
    const bool tailUntouched = buffer[MAX_PATH] == L'#';

    if (hadOld)
        RegSetValueExW(key, L"AppData", 0, oldType, reinterpret_cast<const BYTE*>(old), oldSize);
    else
        RegDeleteValueW(key, L"AppData");
    RegCloseKey(key);

    ASSERT_NE(appData, 0);
    ASSERT_EQ(appDataPath.size(), deep.size()) << "the shell did not take the moved folder";
    EXPECT_EQ(quickLaunch, 0);
    EXPECT_EQ(taskBar, 0);
    EXPECT_TRUE(tailUntouched);
}

TEST(SpecialFolderTest, DownloadsIsTheSiblingOfDocumentsAndOnlyFoldersAreCreated) {
    std::wstring documents = ShellFolder(CSIDL_PERSONAL);
    const std::wstring base = documents.substr(0, documents.find_last_of(L'\\')) + L"\\Downloads";
    std::wstring out = L"stale";
    EXPECT_EQ(GetDownloadsPath(out, L"OrvanePathsTest\\Orvane", L"setup.exe", 1), base + L"\\OrvanePathsTest\\Orvane\\setup.exe");
    EXPECT_TRUE(FolderExists(base + L"\\OrvanePathsTest\\Orvane"));
    EXPECT_FALSE(FileExists(out));
    RemoveTree(base + L"\\OrvanePathsTest");

    EXPECT_EQ(GetDownloadsPath(out, L"", nullptr, 0), base);
    EXPECT_EQ(GetDownloadsPath(out, std::wstring(300, L'x'), L"setup.exe", 1), L"");  // never cut or relative
}

TEST(SpecialFolderTest, SystemFolderViews) {
    std::wstring out;
    // 32-bit Windows has one system folder.
    EXPECT_TRUE(EndsWith(GetSystemFolderPath(out, true), In32BitPrefix() ? L"\\system32" : L"\\syswow64")) << out;
    EXPECT_TRUE(EndsWith(GetSystemFolderPath(out, false), L"\\system32")) << out;
}

TEST(ProgramPathTest, NativeOrThirtyTwoBitProgramFiles) {
    const std::wstring x86 = ShellFolder(CSIDL_PROGRAM_FILES);
    wchar_t native[MAX_PATH] = L"C:\\Native Program Files";
    if (In32BitPrefix()) {
        // One Program Files folder; a "ProgramW6432" set anyway is not used.
        ASSERT_FALSE(EndsWith(x86, L"(x86)")) << x86;
        wchar_t buffer[MAX_PATH] = {};
        ScopedEnvironment variable(L"ProgramW6432", native);
        EXPECT_EQ(GetProgramPath(buffer, L"Tarvex\\Orvane", 0, 1), 1);
        EXPECT_EQ(std::wstring(buffer), x86 + L"\\Tarvex\\Orvane");
        return;
    }
    ASSERT_TRUE(EndsWith(x86, L"(x86)")) << x86;
    ASSERT_GT(GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH), 0u);

    const struct {
        const wchar_t* what;
        bool set;  // false: the variable is removed
        std::wstring programW6432;
        int preferNative64;
        std::wstring folder;
    } cases[] = {
        {L"32-bit product", true, native, 0, x86},
        {L"64-bit product", true, native, 1, native},
        {L"64-bit product, no ProgramW6432", false, L"", 1, x86},
        {L"64-bit product, ProgramW6432 too long", true, std::wstring(300, L'p'), 1, x86},
    };
    for (const auto& c : cases) {
        ScopedEnvironment variable(L"ProgramW6432", c.set ? c.programW6432.c_str() : nullptr);
        wchar_t buffer[MAX_PATH] = {};
        EXPECT_EQ(GetProgramPath(buffer, L"Tarvex\\Orvane", 0, c.preferNative64), 1) << c.what;
        EXPECT_EQ(std::wstring(buffer), c.folder + L"\\Tarvex\\Orvane") << c.what;
    }
}

TEST(ProgramPathTest, CreateMakesTheFolderAndTooLongFails) {
    wchar_t buffer[MAX_PATH] = {};
    ASSERT_EQ(GetProgramPath(buffer, L"OrvanePathsTest\\Orvane", 1, 1), 1);
    EXPECT_TRUE(FolderExists(buffer));
    const std::wstring created = buffer;
    RemoveTree(created.substr(0, created.rfind(L'\\')));

    // A failed append reports failure and leaves no folder to act on.
    wmemset(buffer, L'#', MAX_PATH - 1);
    buffer[MAX_PATH - 1] = 0;
    EXPECT_EQ(GetProgramPath(buffer, std::wstring(250, L'x'), 1, 1), 0);
    EXPECT_EQ(std::wstring(buffer), L"");
    EXPECT_EQ(GetProgramPath(buffer, std::wstring(250, L'x'), 0, 0), 0);
}

TEST(PathJoinTest, OneSeparatorAndNoCutResults) {
    const std::wstring long259 = L"C:\\" + std::wstring(254, L'a');  // + "\b" gives 259 characters
    const struct {
        std::wstring a, b, joined;
    } cases[] = {
        {L"C:\\Orvane", L"bin", L"C:\\Orvane\\bin"},
        {L"C:\\Orvane\\", L"bin", L"C:\\Orvane\\bin"},
        {L"C:\\Orvane", L"\\bin", L"C:\\Orvane\\bin"},
        {L"C:\\Orvane", L"", L"C:\\Orvane"},
        {long259, L"b", long259 + L"\\b"},
        {long259, L"bc", L""},
        {std::wstring(300, L'a'), L"b", L""},  // the folder box allows longer text than a path
        {L"C:\\Orvane", std::wstring(300, L'b'), L""},
    };
    for (const auto& c : cases) EXPECT_EQ(PathJoin(c.a, c.b), c.joined) << c.a.size() << "+" << c.b.size();
    EXPECT_EQ(PathJoin(std::string("C:\\Orvane\\"), std::string("bin")), "C:\\Orvane\\bin");
    EXPECT_EQ(PathJoin(std::string(300, 'a'), std::string("b")), "");
}

TEST(ResourceTextTest, TextUpToTheFirstNulAndMissingResources) {
    std::string out = "unchanged";
    EXPECT_TRUE(LoadResourceText(503, L"txt", out));
    EXPECT_EQ(out, "v1.2.3");
    EXPECT_TRUE(LoadResourceText(504, L"TXT", out));
    EXPECT_EQ(out, "Orvane 1.0");
    out = "unchanged";
    EXPECT_FALSE(LoadResourceText(505, L"txt", out));  // no bytes
    EXPECT_FALSE(LoadResourceText(599, L"txt", out));
    EXPECT_FALSE(LoadResourceText(503, L"xml", out));
    EXPECT_EQ(out, "unchanged");
}
