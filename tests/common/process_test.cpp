#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "JFile.h"
#include "Paths.h"
#include "Process.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::wstring HelperPath() { return BuildPath(L"tests/common/common_test_helper.exe"); }

struct Child {
    UniqueHandle process;
    DWORD id = 0;
};

Child Start(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring cmd = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    Child child;
    if (CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        child.process.reset(pi.hProcess);
        child.id = pi.dwProcessId;
    }
    return child;
}

// Ends a child the test started, by its handle, and waits for it.
void End(Child& child) {
    if (!child.process) return;
    TerminateProcess(child.process.get(), 1);
    WaitForSingleObject(child.process.get(), 5000);
    child.process.reset();
}

bool HasEnded(const Child& child) { return WaitForSingleObject(child.process.get(), 0) == WAIT_OBJECT_0; }

// Waits, bounded, until a file has content.
std::string WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        const std::string bytes = ReadFileBytes(path);
        if (!bytes.empty()) return bytes;
        Sleep(100);
    }
    return std::string();
}

class ComScope {
public:
    ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { CoUninitialize(); }
};

struct LinkInfo {
    bool loaded = false;
    std::wstring path, workingFolder, arguments, description, iconPath;
    int iconIndex = -1;
    WORD hotKey = 0;
};

LinkInfo ReadLink(const std::wstring& file) {
    LinkInfo info;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return info;
    ComPtr<IPersistFile> persist;
    if (FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void())) || FAILED(persist->Load(file.c_str(), 0)))
        return info;
    wchar_t text[1024];
    if (SUCCEEDED(link->GetPath(text, 1024, nullptr, SLGP_RAWPATH))) info.path = text;
    if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) info.workingFolder = text;
    if (SUCCEEDED(link->GetArguments(text, 1024))) info.arguments = text;
    if (SUCCEEDED(link->GetDescription(text, 1024))) info.description = text;
    if (SUCCEEDED(link->GetIconLocation(text, 1024, &info.iconIndex))) info.iconPath = text;
    link->GetHotkey(&info.hotKey);
    info.loaded = true;
    return info;
}

std::wstring FolderOf(int (*get)(wchar_t*)) {
    wchar_t buffer[MAX_PATH] = {};
    get(buffer);
    return buffer;
}

}  // namespace

TEST(ProcessByNameTest, FindAndKillTheFirstOfTwoAndWaitForItsEnd) {
    ScratchFolder folder(L"procs");
    const std::wstring exe = folder / L"orvane_proc_test.exe";
    ASSERT_TRUE(CopyFileW(HelperPath().c_str(), exe.c_str(), FALSE));
    Child first = Start(exe, L"sleep 30000");
    Child second = Start(exe, L"sleep 30000");
    ASSERT_TRUE(first.process && second.process);

    DWORD found = 0;
    EXPECT_EQ(FindProcessId(L"ORVANE_PROC_TEST.exe", found), 1);  // without regard to case
    EXPECT_TRUE(found == first.id || found == second.id) << found;
    EXPECT_EQ(IsProcessRunning(L"orvane_proc_test.exe"), 1);

    // The process found first is ended before the call returns, the other lives.
    EXPECT_EQ(KillProcessByName(L"orvane_proc_test.exe"), 1);
    Child& killed = found == first.id ? first : second;
    Child& alive = found == first.id ? second : first;
    EXPECT_TRUE(HasEnded(killed));
    DWORD exitCode = 1;
    GetExitCodeProcess(killed.process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(HasEnded(alive));

    DWORD remaining = 0;
    EXPECT_EQ(FindProcessId(L"orvane_proc_test.exe", remaining), 1);
    EXPECT_EQ(remaining, alive.id);
    EXPECT_EQ(KillFirstProcessByName(L"orvane_proc_test.exe"), 1);
    EXPECT_EQ(WaitForSingleObject(alive.process.get(), 5000), WAIT_OBJECT_0);
    End(first);
    End(second);

    EXPECT_EQ(IsProcessRunning(L"orvane_proc_test.exe"), 0);
    EXPECT_EQ(FindProcessId(L"orvane_proc_test.exe", remaining), 0);
    EXPECT_EQ(KillProcessByName(L"orvane_proc_test.exe"), 0);
    EXPECT_EQ(KillFirstProcessByName(L"orvane_proc_test.exe"), 0);
}

// Wine's explorer makes a hidden "Shell_TrayWnd" on the default desktop once
// some program has shown a window there; in a prefix of its own (see this
// folder's CMake file) the case always runs.
TEST(RunUnelevatedTest, WithoutTheTrayWindowNothingStarts) {
    if (FindWindowW(L"Shell_TrayWnd", nullptr)) GTEST_SKIP() << "a desktop shell runs in this prefix";
    EXPECT_EQ(GetShellUserToken(), nullptr);
    ScratchFolder folder(L"unelevated");
    const std::wstring out = folder / L"cmdline.txt";
    EXPECT_EQ(RunUnelevated(HelperPath(), L"command-line \"" + out + L"\"", folder.path(), SW_SHOWNORMAL), 0);
    Sleep(500);
    EXPECT_FALSE(FileExists(out));
}

// Under a virtual desktop Wine's explorer makes a task bar. Wine's
// CreateProcessWithTokenW ignores the token, so what is checked is the path
// to it and the command line the program receives. Wine keeps the virtual
// desktop's 640 x 480 as the screen size of every later program of the
// prefix, so the case runs in a prefix of its own (see this folder's CMake
// file).
TEST(RunUnelevatedTest, UnderADesktopWithTaskBarTheProgramGetsItsPathAndParameters) {
    if (!getenv("ORVANE_OWN_PREFIX")) GTEST_SKIP() << "shrinks the prefix's screen: runs in a prefix of its own";
    ScratchFolder folder(L"unelevated");
    const std::wstring out = folder / L"result.txt";
    Child desktop = Start(L"C:\\windows\\explorer.exe",
                          L"/desktop=OrvaneTest,640x480 \"" + HelperPath() + L"\" run-unelevated \"" + out + L"\"");
    ASSERT_TRUE(desktop.process);
    const std::string result = WaitForFile(out, 30000);
    const std::string child = WaitForFile(out + L".child", 10000);
    End(desktop);

    EXPECT_EQ(result, "1");
    const std::wstring expected = L"\"" + HelperPath() + L"\" command-line \"" + out + L".child\"";
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(child.data()), child.size() / sizeof(wchar_t)), expected);
}

TEST(RunElevatedTest, RunasStartsTheProgramAndWaitingReportsItsExitCode) {
    ScratchFolder folder(L"elevated");
    const std::wstring out = folder / L"cmdline.txt";
    // Wine's user is an administrator: no " -Admin" is appended.
    ASSERT_EQ(RunElevated(HelperPath(), L"command-line \"" + out + L"\"", folder.path(), SW_SHOWNORMAL), 1);
    const std::string bytes = WaitForFile(out, 10000);
    const std::wstring line(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const std::wstring tail = L"command-line \"" + out + L"\"";
    ASSERT_GE(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << std::string(line.begin(), line.end());

    EXPECT_TRUE(RunElevatedAndWait(HelperPath(), L"sleep 10", SW_HIDE));
    EXPECT_FALSE(RunElevatedAndWait(HelperPath(), L"no-such-mode x", SW_HIDE));  // exit code 2
    EXPECT_FALSE(RunElevatedAndWait(folder / L"missing.exe", L"", SW_HIDE));

    // The wait has a bound: a program that runs on is not waited for.
    const DWORD start = GetTickCount();
    EXPECT_FALSE(RunElevatedAndWait(HelperPath(), L"sleep 3000", SW_HIDE, 300));
    EXPECT_LT(GetTickCount() - start, 2500u);
}

TEST(RestartTest, ShutdownPrivilegeIsEnabledAndRestartForcesOnlyHungPrograms) {
    // Restarting itself ends every process of the prefix; it runs in a prefix
    // of its own (see the restart check of this folder's CMake file).
    EXPECT_EQ(EnableShutdownPrivilege(), 1);
    EXPECT_EQ(kRestartFlags & EWX_FORCE, 0u);
    EXPECT_NE(kRestartFlags & EWX_REBOOT, 0u);
}

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        desktop_ = FolderOf(GetDesktopPath);
        ASSERT_TRUE(FolderExists(desktop_)) << desktop_;
    }
    void TearDown() override {
        RemoveTree(desktop_ + L"\\Orvane Group");
        DeleteFileW((desktop_ + L"\\Orvane Test.lnk").c_str());
        RemoveTree(FolderOf(GetProgramsPath) + L"\\Orvane Group");
        RemoveTree(FolderOf(GetCommonProgramsPath) + L"\\Orvane Group");
    }
    ComScope com_;
    std::wstring desktop_;
};

TEST_F(ShortcutTest, DesktopLinkInASubFolderWithTargetFolderIconAndArguments) {
    ScratchFolder work(L"work");
    const std::wstring target = HelperPath();
    ASSERT_EQ(CreateShortcut(target.c_str(), work.path().c_str(), L"Orvane Test", E_Shortcut_Desktop, L"Orvane Group",
                             L"Starts Orvane", nullptr, L"-start"),
              S_OK);
    const LinkInfo info = ReadLink(desktop_ + L"\\Orvane Group\\Orvane Test.lnk");
    ASSERT_TRUE(info.loaded);
    EXPECT_EQ(_wcsicmp(info.path.c_str(), target.c_str()), 0) << info.path;
    EXPECT_EQ(info.workingFolder, work.path());
    EXPECT_EQ(info.arguments, L"-start");
    EXPECT_EQ(info.description, L"Starts Orvane");
    // No icon given: the target's own.
    EXPECT_EQ(_wcsicmp(info.iconPath.c_str(), target.c_str()), 0) << info.iconPath;
    EXPECT_EQ(info.iconIndex, 0);

    ASSERT_EQ(CreateShortcut(target.c_str(), nullptr, L"Orvane Test", E_Shortcut_Desktop, nullptr, nullptr,
                             L"C:\\icons\\orvane.ico", nullptr),
              S_OK);
    const LinkInfo plain = ReadLink(desktop_ + L"\\Orvane Test.lnk");
    ASSERT_TRUE(plain.loaded);
    EXPECT_EQ(plain.iconPath, L"C:\\icons\\orvane.ico");
    EXPECT_EQ(plain.arguments, L"");
}

TEST_F(ShortcutTest, CallerFolderHotKeyAndRefusedCases) {
    ScratchFolder work(L"links");
    const std::wstring target = HelperPath();
    EXPECT_EQ(CreateShortcut(target.c_str(), work.path().c_str(), L"In Folder", E_Shortcut_Folder, nullptr, nullptr,
                             nullptr, nullptr),
              S_OK);
    EXPECT_TRUE(FileExists(work / L"In Folder.lnk"));
    EXPECT_TRUE(MakeShortcut(target.c_str(), work.path().c_str(), L"Hot", nullptr, MAKEWORD('O', HOTKEYF_CONTROL),
                             nullptr, nullptr, nullptr, SW_SHOWNORMAL));
    EXPECT_EQ(ReadLink(work / L"Hot.lnk").hotKey, MAKEWORD('O', HOTKEYF_CONTROL));

    EXPECT_EQ(CreateShortcut(nullptr, nullptr, L"x", E_Shortcut_Desktop, nullptr, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(CreateShortcut(target.c_str(), nullptr, nullptr, E_Shortcut_Desktop, nullptr, nullptr, nullptr, nullptr),
              E_POINTER);
    // A fresh prefix has no Quick Launch folder, like a system without it.
    EXPECT_EQ(CreateShortcut(target.c_str(), nullptr, L"x", E_Shortcut_QuickLaunch, nullptr, nullptr, nullptr, nullptr),
              E_FAIL);
    EXPECT_EQ(CreateShortcut(target.c_str(), (work / L"missing").c_str(), L"x", E_Shortcut_Folder, nullptr, nullptr,
                             nullptr, nullptr),
              E_FAIL);

    // A name that does not fit is refused, never saved under a cut name.
    const std::wstring longName(MAX_PATH - work.path().size() - 5, L'n');
    EXPECT_EQ(CreateShortcut(target.c_str(), work.path().c_str(), longName.c_str(), E_Shortcut_Folder, nullptr, nullptr,
                             nullptr, nullptr),
              E_FAIL);
    EXPECT_FALSE(MakeShortcut(target.c_str(), work.path().c_str(), longName.c_str(), nullptr, 0, nullptr, nullptr,
                              nullptr, SW_SHOWNORMAL));
    EXPECT_TRUE(MakeShortcut(target.c_str(), work.path().c_str(), longName.substr(1).c_str(), nullptr, 0, nullptr,
                             nullptr, nullptr, SW_SHOWNORMAL));  // exactly fits
    std::vector<std::wstring> files;
    ListFilesRecursive(work.path() + L"\\", files);
    EXPECT_EQ(files.size(), 3u);
}

TEST_F(ShortcutTest, DeletingLinksAndGroupsStaysInsideTheFolder) {
    const std::wstring target = HelperPath();
    ASSERT_EQ(CreateShortcut(target.c_str(), nullptr, L"Orvane Test", E_Shortcut_Desktop, nullptr, nullptr, nullptr,
                             nullptr),
              S_OK);
    EXPECT_TRUE(DeleteShortcut(E_Shortcut_Desktop, L"Orvane Test.lnk"));
    EXPECT_FALSE(FileExists(desktop_ + L"\\Orvane Test.lnk"));
    EXPECT_TRUE(DeleteShortcut(E_Shortcut_Desktop, L"Orvane Test.lnk"));  // already gone: still true
    EXPECT_FALSE(DeleteShortcut(E_Shortcut_QuickLaunch, L"Orvane Test.lnk"));  // no such folder

    const std::wstring programs = FolderOf(GetProgramsPath), common = FolderOf(GetCommonProgramsPath);
    for (ShortcutLocation kind : {E_Shortcut_Programs, E_Shortcut_CommonPrograms})
        ASSERT_EQ(CreateShortcut(target.c_str(), nullptr, L"Orvane", kind, L"Orvane Group", nullptr, nullptr, nullptr),
                  S_OK);
    ASSERT_TRUE(FileExists(programs + L"\\Orvane Group\\Orvane.lnk"));
    ASSERT_TRUE(FileExists(common + L"\\Orvane Group\\Orvane.lnk"));

    // Names that would reach the Programs folder itself or beyond it.
    for (const wchar_t* bad : {L"", L"..", L"Orvane Group\\..", L"..\\..", L"C:\\windows", L"\\windows", L"."}) {
        EXPECT_FALSE(DeleteShortcutFolder(E_Shortcut_Programs, bad)) << bad;
        EXPECT_FALSE(DeleteShortcut(E_Shortcut_Programs, bad)) << bad;
    }
    EXPECT_FALSE(RemoveProgramsGroup(L""));
    EXPECT_FALSE(RemoveProgramsGroup(nullptr));
    EXPECT_TRUE(FileExists(programs + L"\\Orvane Group\\Orvane.lnk"));
    EXPECT_TRUE(FileExists(common + L"\\Orvane Group\\Orvane.lnk"));

    EXPECT_TRUE(RemoveProgramsGroup(L"Orvane Group"));
    EXPECT_FALSE(FolderExists(programs + L"\\Orvane Group"));
    EXPECT_FALSE(FolderExists(common + L"\\Orvane Group"));
    EXPECT_TRUE(FolderExists(programs));
    EXPECT_TRUE(FolderExists(common));
}

namespace {

const char kMetricsKey[] = "Control Panel\\Desktop\\WindowMetrics";

bool ReadIconSize(std::string& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kMetricsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char text[64] = {};
    DWORD size = sizeof(text) - 1;
    const bool ok = RegQueryValueExA(key, "Shell Icon Size", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
                    ERROR_SUCCESS;
    RegCloseKey(key);
    if (ok) value = text;
    return ok;
}

void WriteIconSize(const char* value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kMetricsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value)
        RegSetValueExA(key, "Shell Icon Size", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>(strlen(value) + 1));
    else
        RegDeleteValueA(key, "Shell Icon Size");
    RegCloseKey(key);
}

std::atomic<int> g_settingChanges{0};

LRESULT CALLBACK CountSettingChanges(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTINGCHANGE && wParam == SPI_SETNONCLIENTMETRICS) ++g_settingChanges;
    return DefWindowProcW(wnd, message, wParam, lParam);
}

}  // namespace

TEST(RefreshIconsTest, RaisesTheIconSizeForAMomentAndBroadcastsTwice) {
    std::string original;
    const bool hadOriginal = ReadIconSize(original);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountSettingChanges;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OrvaneRefreshIconsTest";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                                nullptr);
    ASSERT_NE(window, nullptr);

    const struct {
        const char* before;  // null: no value
        const char* raised;
        const char* after;
    } cases[] = {
        {nullptr, "33", "32"},
        {"48", "49", "48"},
        {"junk", "33", "32"},
    };
    for (const auto& c : cases) {
        WriteIconSize(c.before);
        g_settingChanges = 0;
        std::atomic<bool> done{false};
        std::thread refresh([&done] {
            RefreshIcons();
            done = true;
        });
        std::set<std::string> seen;
        while (!done) {
            std::string value;
            if (ReadIconSize(value)) seen.insert(value);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(10);
        }
        refresh.join();
        for (DWORD waited = 0; g_settingChanges < 2 && waited < 2000; waited += 10) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(10);
        }
        std::string after;
        EXPECT_TRUE(ReadIconSize(after));
        EXPECT_EQ(after, c.after) << (c.before ? c.before : "none");
        EXPECT_TRUE(seen.count(c.raised)) << c.raised;
        // Installs and uninstalls of other tests in this prefix broadcast
        // the same message meanwhile: at least our two arrive.
        EXPECT_GE(g_settingChanges, 2);
    }
    DestroyWindow(window);
    WriteIconSize(hadOriginal ? original.c_str() : nullptr);
}
