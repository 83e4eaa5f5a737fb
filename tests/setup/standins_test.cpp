// The stand-ins for the product's executable, its library, the older
// uninstaller and the browser: later install and uninstall tests rely on
// what they record and on how they end.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "Handles.h"
#include "ProductConfig.h"
#include "StandInControl.h"
#include "TestSupport.h"

using namespace standins;
using namespace testing_support;

namespace {

struct Started {
    UniqueHandle process;
    DWORD pid = 0;
};

// commandLine is passed as it stands: it need not begin with the program.
Started Start(const std::wstring& program, const std::wstring& commandLine, const std::wstring& folder, int show) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show);
    }
    PROCESS_INFORMATION info = {};
    std::wstring line = commandLine;
    Started started;
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
        return started;
    }
    CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
    return started;
}

// Started the way the installer starts the product: the shell, hidden, with
// the process handle kept.
Started ShellStart(const wchar_t* verb, const std::wstring& program, const std::wstring& parameters, int show) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = show;
    Started started;
    if (!ShellExecuteExW(&info) || reinterpret_cast<INT_PTR>(info.hInstApp) <= 32 || info.hProcess == nullptr) {
        ADD_FAILURE() << "ShellExecuteEx failed: " << GetLastError();
        return started;
    }
    started.process.reset(info.hProcess);
    started.pid = GetProcessId(info.hProcess);
    return started;
}

// Waits at most timeoutMs; a process still running then is ended by its handle.
DWORD WaitForExit(const Started& started, DWORD timeoutMs, bool* finished = nullptr) {
    const bool done = WaitForSingleObject(started.process.get(), timeoutMs) == WAIT_OBJECT_0;
    if (finished != nullptr) *finished = done;
    if (!done) {
        TerminateProcess(started.process.get(), 1);
        WaitForSingleObject(started.process.get(), 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(started.process.get(), &code);
    return code;
}

// The tray window of the given process, waited for at most 10 s.
HWND WaitForTrayWindow(DWORD pid) {
    for (int i = 0; i < 200; ++i) {
        for (HWND window = FindWindowW(nullptr, kTrayWindowTitle); window != nullptr;
             window = FindWindowExW(nullptr, window, nullptr, kTrayWindowTitle)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == pid) return window;
        }
        Sleep(50);
    }
    return nullptr;
}

std::wstring OwnFileName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return full.substr(full.find_last_of(L'\\') + 1);
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class StandInTest : public ::testing::Test {
protected:
    ScratchFolder folder_{L"standins"};
    ScratchFolder logFolder_{L"standins-log"};
    StandInSession session_{logFolder_ / L"standins.log"};

    Record StartRecordOf(DWORD pid, const char* role = "orvane") const {
        return session_.WaitForRecord(
            [&](const Record& r) { return r.Is(role, "start") && r.Get("pid") == std::to_wstring(pid); }, 10000);
    }
    Record EventOf(DWORD pid, const char* event) const {
        return session_.WaitForRecord(
            [&](const Record& r) { return r.Get("event") == std::wstring(event, event + strlen(event)) &&
                                          r.Get("pid") == std::to_wstring(pid); },
            10000);
    }
};

}  // namespace

// Each start records what it was given exactly: the raw line (with or without
// a program name in front), the current folder, the show state and the parent.
TEST_F(StandInTest, ProductRecordsEachStartAsGiven) {
    const struct {
        std::wstring commandLine;
        int show;
    } cases[] = {
        {L" --installmode --option summer_sale --installsource mail", SW_HIDE},
        {L" --installmode --runapp", SW_SHOWNORMAL},
        {L"\"" + ProductExePath() + L"\" /install /XI:1234567", SW_HIDE},
        {L"/full_uninstall /XU", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.commandLine));
        Started started = Start(ProductExePath(), c.commandLine, folder_.path(), c.show);
        ASSERT_TRUE(started.process);
        bool finished = false;
        EXPECT_EQ(WaitForExit(started, 10000, &finished), 0u);
        EXPECT_TRUE(finished);
        const Record start = StartRecordOf(started.pid);
        EXPECT_EQ(start.Get("cmdline"), c.commandLine);
        EXPECT_TRUE(SamePath(start.Get("cwd"), folder_.path())) << start.Get("cwd");
        EXPECT_EQ(start.Get("show"), std::to_wstring(c.show));
        EXPECT_EQ(start.Get("ppid"), std::to_wstring(GetCurrentProcessId()));
        EXPECT_TRUE(SamePath(start.Get("parent"), OwnFileName())) << start.Get("parent");
        EXPECT_TRUE(SamePath(start.Get("image"), ProductExePath())) << start.Get("image");
        EXPECT_EQ(EventOf(started.pid, "exit").Get("code"), L"0");
    }
}

TEST_F(StandInTest, ProductStartedElevatedAndHiddenThroughTheShell) {
    CopyProductStandIns(folder_.path());
    session_.SetExitCode(100);
    Started started = ShellStart(L"runas", folder_ / L"orvane.exe", L"/install /XI:98765", SW_HIDE);
    ASSERT_TRUE(started.process);
    EXPECT_EQ(WaitForExit(started, 10000), 100u);
    const Record start = StartRecordOf(started.pid);
    EXPECT_TRUE(EndsWith(start.Get("cmdline"), L"/install /XI:98765")) << start.Get("cmdline");
    EXPECT_EQ(start.Get("show"), L"0");
    EXPECT_TRUE(SamePath(start.Get("image"), folder_ / L"orvane.exe"));
}

TEST_F(StandInTest, ProductExitCodeAndWaitComeFromTheSettings) {
    session_.SetExitCode(100);
    Started restart = Start(ProductExePath(), L" /uninstall /XU", L"", SW_HIDE);
    EXPECT_EQ(WaitForExit(restart, 10000), 100u);
    EXPECT_EQ(EventOf(restart.pid, "exit").Get("code"), L"100");

    // Told never to exit: still running after a while, ended by its handle.
    session_.SetExitCode(0);
    session_.SetExitDelayMs(kNeverExit);
    Started hanging = Start(ProductExePath(), L" /install /XI:1", L"", SW_HIDE);
    ASSERT_TRUE(hanging.process);
    EXPECT_EQ(WaitForSingleObject(hanging.process.get(), 1500), static_cast<DWORD>(WAIT_TIMEOUT));
    bool finished = true;
    WaitForExit(hanging, 0, &finished);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(StartRecordOf(hanging.pid).fields.size() > 0);

    session_.SetExitDelayMs(500);
    Started waiting = Start(ProductExePath(), L" /install /XI:2", L"", SW_HIDE);
    EXPECT_EQ(WaitForSingleObject(waiting.process.get(), 100), static_cast<DWORD>(WAIT_TIMEOUT));
    finished = false;
    EXPECT_EQ(WaitForExit(waiting, 10000, &finished), 0u);
    EXPECT_TRUE(finished);
}

// The resident copy owns the tray window and quits on WM_CLOSE; the
// installer's switch starts are never resident.
TEST_F(StandInTest, ResidentCopyOwnsTheTrayWindowAndQuitsOnClose) {
    session_.SetResident(true);
    Started install = Start(ProductExePath(), L" /install /XI:5", L"", SW_HIDE);
    bool finished = false;
    WaitForExit(install, 10000, &finished);
    EXPECT_TRUE(finished);

    Started resident = Start(ProductExePath(), L" --installmode", L"", SW_SHOWNORMAL);
    HWND tray = WaitForTrayWindow(resident.pid);
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(IsWindowVisible(tray));
    EXPECT_EQ(GetParent(tray), nullptr);
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(tray, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result), 0);
    EXPECT_EQ(WaitForExit(resident, 10000, &finished), 0u);
    EXPECT_TRUE(finished);
    const Record close = EventOf(resident.pid, "close");
    EXPECT_EQ(close.Get("wparam"), L"0");
    EXPECT_EQ(close.Get("lparam"), L"0");
    EXPECT_EQ(EventOf(resident.pid, "exit").Get("code"), L"0");
}

TEST_F(StandInTest, QuitBySetupEndsTheResidentCopy) {
    Started resident = Start(ProductExePath(), L" --resident", L"", SW_HIDE);
    ASSERT_NE(WaitForTrayWindow(resident.pid), nullptr);
    Started quit = ShellStart(L"runas", ProductExePath(), L"/quit_by_setup", SW_HIDE);
    bool finished = false;
    EXPECT_EQ(WaitForExit(quit, 10000, &finished), 0u);
    EXPECT_TRUE(finished);
    WaitForExit(resident, 10000, &finished);
    EXPECT_TRUE(finished);
    EXPECT_EQ(EventOf(quit.pid, "quit_sent").Get("count"), L"1");
    EXPECT_EQ(EventOf(resident.pid, "quit_by_setup").Get("from"), std::to_wstring(quit.pid));
}

TEST_F(StandInTest, ResidentCopyEndsByItselfAfterItsBound) {
    session_.SetResidentBoundMs(1000);
    Started resident = Start(ProductExePath(), L" --resident", L"", SW_HIDE);
    ASSERT_NE(WaitForTrayWindow(resident.pid), nullptr);
    bool finished = false;
    EXPECT_EQ(WaitForExit(resident, 15000, &finished), 0u);
    EXPECT_TRUE(finished);
    EXPECT_EQ(EventOf(resident.pid, "bound").Get("event"), L"bound");
}

// regsvr32 of the 32-bit system folder loads the library and calls its entry
// points, as the install and uninstall steps do.
TEST_F(StandInTest, LibraryRecordsRegisterAndUnregister) {
    ASSERT_TRUE(CopyProductStandIns(folder_.path()));
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);  // a 32-bit process sees the 32-bit folder
    const std::wstring regsvr32 = std::wstring(system) + L"\\regsvr32.exe";
    const std::wstring dll = folder_ / L"orvane32.dll";
    for (const wchar_t* switches : {L"/s", L"/s /u"}) {
        const ProcessResult result =
            RunProcess(L"\"" + regsvr32 + L"\" " + switches + L" \"" + dll + L"\"", 30000);
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0u) << testing::PrintToString(std::wstring(switches));
    }
    const Record registered =
        session_.WaitForRecord([](const Record& r) { return r.Is("orvane32", "register"); }, 10000);
    const Record unregistered =
        session_.WaitForRecord([](const Record& r) { return r.Is("orvane32", "unregister"); }, 10000);
    EXPECT_TRUE(SamePath(registered.Get("dll"), dll)) << registered.Get("dll");
    EXPECT_TRUE(SamePath(unregistered.Get("dll"), dll));
    EXPECT_TRUE(EndsWith(registered.Get("image"), L"regsvr32.exe")) << registered.Get("image");
    EXPECT_NE(unregistered.Get("cmdline").find(L"/u"), std::wstring::npos);
}

TEST_F(StandInTest, OlderUninstallerRecordsItsSwitchesAndExitsZero) {
    Started started = ShellStart(L"open", UninstallerExePath(), L" /silent /norestart /suppressmsgboxes", SW_SHOW);
    ASSERT_TRUE(started.process);
    bool finished = false;
    EXPECT_EQ(WaitForExit(started, 10000, &finished), 0u);
    EXPECT_TRUE(finished);
    const Record start = StartRecordOf(started.pid, "unins000");
    EXPECT_TRUE(EndsWith(start.Get("cmdline"), L" /silent /norestart /suppressmsgboxes")) << start.Get("cmdline");
    EXPECT_EQ(start.Get("show"), std::to_wstring(SW_SHOW));
}

// Web pages opened with the shell reach the recorder instead of a browser;
// the previous handler is back afterwards.
TEST_F(StandInTest, UrlRecorderReceivesTheWebPages) {
    wchar_t before[1024] = {};
    DWORD size = sizeof(before);
    RegGetValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", nullptr, RRF_RT_REG_SZ, nullptr, before, &size);
    {
        UrlRecorderRegistration registration;
        ASSERT_TRUE(registration.ok());
        const std::string pages[] = {ProductConfig::GetThankYouUrlX64(true) + "1.0.0.0",
                                     ProductConfig::GetLicenseUrl() + "1.0.0.0"};
        for (const std::string& page : pages) {
            const std::wstring url(page.begin(), page.end());
            SCOPED_TRACE(page);
            const INT_PTR result =
                reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOW));
            EXPECT_GT(result, 32);
            const Record opened =
                session_.WaitForRecord([&](const Record& r) { return r.Is("url", "open") && r.Get("url") == url; },
                                       20000);
            EXPECT_EQ(opened.Get("url"), url);
        }
    }
    wchar_t after[1024] = {};
    size = sizeof(after);
    RegGetValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", nullptr, RRF_RT_REG_SZ, nullptr, after, &size);
    EXPECT_STREQ(after, before);
}
