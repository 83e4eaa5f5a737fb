// The uninstall road without a window: every ending of UninstallRoad against a
// stand-in window and stand-in product steps, on an installation folder, its
// neighbours and an application-data folder the test lays out in a scratch
// folder. The folder judgement and the deletions are the real ones.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "InstallFolder.h"
#include "Log.h"
#include "PackageHeader.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "TestSupport.h"
#include "Text.h"
#include "UninstallRoad.h"

using namespace testing_support;

namespace {

// ---- Stand-ins ---------------------------------------------------------------

struct FakeWindow : UninstallWindow {
    std::vector<std::string> events;
    int dones = 0;
    int closes = 0;

    void Start() override { events.push_back("start"); }
    void Position(unsigned percent) override { events.push_back("position " + std::to_string(percent)); }
    void Done(bool needRestart) override {
        ++dones;
        events.push_back(needRestart ? "done restart" : "done");
    }
    void ShowFailed() override { events.push_back("failed"); }
    void Close() override {
        ++closes;
        events.push_back("close");
    }
};

// The product's and the system's steps as calls in order; a hook may ask the
// road to stop at a step.
struct FakeSteps : UninstallSteps {
    std::vector<std::string> calls;
    std::map<std::string, std::function<void()>> hooks;
    bool productRuns = true;      // the product's executable was there
    bool productAsksRestart = false;
    bool entryDeleted = true;
    std::wstring configFolder;
    std::wstring shortcutsOf;
    std::wstring uninstalledIn;
    int restartFlagsKept = 0;
    bool lastRestartFlag = false;

    void Call(const std::string& name) {
        calls.push_back(name);
        auto hook = hooks.find(name);
        if (hook != hooks.end()) hook->second();
    }
    void QuitRunningApp(const std::wstring&, const std::wstring&) override { Call("QuitRunningApp"); }
    void KillProductProcesses() override { Call("Kill"); }
    bool RunMainExeUninstall(const std::wstring& folder, const std::wstring&, bool* needRestart) override {
        Call("RunMainExeUninstall");
        uninstalledIn = folder;
        if (!productRuns) return false;
        *needRestart = productAsksRestart;
        return true;
    }
    void DeleteHelperFiles(const std::wstring&) override { Call("DeleteHelperFiles"); }
    std::string MakeDisplayName(const std::string& name) override { return name + " Display"; }
    void DeleteShortcuts(const std::wstring& displayName) override {
        Call("DeleteShortcuts");
        shortcutsOf = displayName;
    }
    void RefreshIcons() override { Call("RefreshIcons"); }
    std::wstring ConfigurationFolder() override {
        Call("ConfigurationFolder");
        return configFolder;
    }
    std::string ProductName() override { return "Orvane"; }
    std::string MakeUninstallKeyName(const std::string& base) override { return base + "_key"; }
    bool DeleteUninstallItem(const std::string& keyName) override {
        Call("DeleteUninstallItem " + keyName);
        return entryDeleted;
    }
    void UseNeedRestart(bool needRestart) override {
        ++restartFlagsKept;
        lastRestartFlag = needRestart;
    }
};

const std::vector<std::string> kFolderSteps = {"QuitRunningApp", "Kill", "RunMainExeUninstall", "DeleteHelperFiles",
                                               "Kill"};
const std::vector<std::string> kRestSteps = {"DeleteShortcuts", "RefreshIcons", "ConfigurationFolder",
                                             "DeleteUninstallItem Orvane_key"};

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// An installed product: "Tarvex\Orvane" below a scratch folder with the
// uninstaller, the product's executable and data, a neighbour beside it, and
// the product's application data.
class UninstallRoadTest : public ::testing::Test {
public:  // the case tables arrange the fixture's parts
    void SetUp() override {
        log_ = scratch_ / (L"road" + std::to_wstring(++runs_) + L".log");
        GetLog()->Init(log_);
        parent_ = scratch_ / L"Tarvex";
        folder_ = parent_ + L"\\Orvane";
        config_ = scratch_ / L"AppData\\Orvane";
        CreateDirectoryW(parent_.c_str(), nullptr);
        CreateDirectoryW(folder_.c_str(), nullptr);
        CreateDirectoryW((folder_ + L"\\data").c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(folder_ + L"\\uninstall.exe", "uninstaller"));
        ASSERT_TRUE(WriteFileBytes(folder_ + L"\\" + ProductConfig::GetMainExeNameW(), "product"));
        ASSERT_TRUE(WriteFileBytes(folder_ + L"\\data\\settings.dat", "data"));
        ASSERT_TRUE(WriteFileBytes(parent_ + L"\\neighbour.txt", "keep"));
        CreateDirectoryW((scratch_ / L"AppData").c_str(), nullptr);
        CreateDirectoryW(config_.c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(config_ + L"\\user.ini", "user"));
        header_ = PackageHeader();
        PackageHeader::SetFieldText(header_.productName, ProductConfig::GetProductName());
        package_ = folder_ + L"\\uninstall.exe";
    }

    // A case of a table: a fresh log and tree, and stand-ins as new.
    void StartCase() {
        SetUp();
        window_ = FakeWindow();
        steps_ = FakeSteps();
        steps_.configFolder = config_;
        choices_ = UninstallChoices();
        earlierRestart_ = false;
        stop_ = false;
    }

    // Runs one road, and checks what every road must: the finish step ran
    // once, and only it moved the page to its end and closed the run.
    UninstallOutcome Run() {
        if (steps_.configFolder.empty() && !noConfigFolder_) steps_.configFolder = config_;
        UninstallRoad road({window_, steps_, stop_}, choices_, header_, package_);
        road.timing.donePauseMs = 0;
        road.SetNeedRestart(earlierRestart_);
        const auto start = std::chrono::steady_clock::now();
        const UninstallOutcome outcome = road.Run();
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        printf("  road %s: %lld ms\n", UninstallOutcomeName(outcome), static_cast<long long>(spent.count()));
        EXPECT_LT(spent.count(), 1000);

        const std::string log = Log();
        const bool stopped = outcome == UninstallOutcome::Stopped;
        EXPECT_EQ(Count(log, "Uninstall work stopped."), stopped ? 1u : 0u) << log;
        EXPECT_EQ(Count(log, "Uninstall work SUCCEE."), stopped ? 0u : 1u) << log;
        EXPECT_EQ(window_.dones, stopped ? 0 : 1);
        EXPECT_EQ(window_.closes, !stopped && choices_.silent ? 1 : 0);
        const size_t tail = choices_.silent ? 3 : 2;
        if (!stopped && window_.events.size() >= tail) {
            // The bar full, then the done page, then (silent) the close.
            const size_t done = window_.events.size() - tail + 1;
            EXPECT_EQ(window_.events[done - 1], "position 100");
            EXPECT_EQ(window_.events[done].compare(0, 4, "done"), 0);
        } else {
            EXPECT_TRUE(stopped) << "the finish step moved no page";
        }
        return outcome;
    }
    std::string Log() { return ReadFileBytes(log_); }
    bool Logged(const std::string& line) { return Log().find(line) != std::string::npos; }
    bool InstallationKept() {
        return FileExists(folder_ + L"\\uninstall.exe") && FileExists(folder_ + L"\\data\\settings.dat");
    }
    bool ConfigKept() { return FileExists(config_ + L"\\user.ini"); }

    ScratchFolder scratch_{L"uninstall_road"};
    int runs_ = 0;
    std::wstring log_, parent_, folder_, config_, package_;
    PackageHeader header_;
    FakeWindow window_;
    FakeSteps steps_;
    UninstallChoices choices_;
    bool earlierRestart_ = false;
    bool noConfigFolder_ = false;
    std::atomic<bool> stop_{false};
};

// ---- The whole uninstall -------------------------------------------------------

TEST_F(UninstallRoadTest, AWholeUninstallRemovesTheProductAndItsDataUnlessKept) {
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "not kept");
        StartCase();
        choices_.keepConfiguration = keep;
        ASSERT_EQ(Run(), UninstallOutcome::Uninstalled);

        EXPECT_FALSE(FolderExists(folder_)) << "the installation folder is gone";
        EXPECT_TRUE(FileExists(parent_ + L"\\neighbour.txt")) << "its neighbour stays";
        EXPECT_EQ(ConfigKept(), keep);
        std::vector<std::string> rest = kRestSteps;
        if (keep) rest.erase(rest.begin() + 2);  // the application data is not even looked up
        EXPECT_EQ(steps_.calls, Joined(kFolderSteps, rest));
        EXPECT_EQ(steps_.uninstalledIn, folder_);
        EXPECT_EQ(steps_.shortcutsOf, NarrowToWide(ProductConfig::GetProductName() + " Display"));
        EXPECT_EQ(steps_.restartFlagsKept, 1);
        EXPECT_EQ(window_.events, (std::vector<std::string>{"start", "position 0", "position 100", "done"}));

        // The log lines in the order the road writes them.
        const std::string log = Log();
        size_t at = 0;
        for (const std::string& line :
             {std::string("Begin Uninstall Work. x64mode = false"), "Begin delete file.(" + WideToNarrow(folder_) + ")",
              std::string("End delete file."), std::string("RefreshIcons."), std::string("End Remove AppConfig."),
              std::string("End DeleteUninstallItem. szProgram(Orvane_key)"), std::string("Uninstall work SUCCEE.")}) {
            const size_t next = log.find(line, at);
            ASSERT_NE(next, std::string::npos) << line << "\n" << log;
            at = next;
        }
        EXPECT_FALSE(Logged("Uninstall step failed")) << log;
        EXPECT_FALSE(Logged("Uninstall refused")) << log;
    }
}

// Steps that could not do their part are logged, and the road still ends on
// the done page.
TEST_F(UninstallRoadTest, FailedStepsAreLoggedAndTheRoadStillFinishes) {
    steps_.productRuns = false;
    steps_.entryDeleted = false;
    steps_.configFolder = config_;
    HANDLE held = CreateFileW((config_ + L"\\user.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const UninstallOutcome outcome = Run();
    CloseHandle(held);
    EXPECT_EQ(outcome, UninstallOutcome::Uninstalled);
    const std::string log = Log();
    const std::string exe = WideToNarrow(PathJoin(folder_, ProductConfig::GetMainExeNameW()));
    EXPECT_TRUE(Logged("Uninstall step failed: the product's uninstall did not run.(" + exe + ")")) << log;
    EXPECT_TRUE(Logged("Uninstall step failed: the application data folder is still there.(" +
                       WideToNarrow(config_) + ")"))
        << log;
    EXPECT_TRUE(Logged("Uninstall step failed: the uninstall entry was not deleted.(Orvane_key)")) << log;
    EXPECT_LT(log.find("the application data folder is still there"), log.find("End Remove AppConfig.")) << log;
}

// ---- Refused folders --------------------------------------------------------------

// A package path whose folder is not an installation folder of ours: the
// product is not asked to quit or uninstall and nothing in the folder is
// deleted, while the shortcuts, the application data and the entry go as on
// any other road.
TEST_F(UninstallRoadTest, ARefusedFolderKeepsItsFilesAndTheRestIsRemoved) {
    struct Case {
        const char* name;
        std::function<std::wstring(UninstallRoadTest&)> package;
        const char* reason;
    };
    const Case cases[] = {
        {"too long", [](UninstallRoadTest& t) { return t.folder_ + L"\\" + std::wstring(MAX_PATH, L'a'); },
         "the path is too long"},
        {"empty", [](UninstallRoadTest&) { return std::wstring(); }, "no folder"},
        {"a name alone", [](UninstallRoadTest&) { return std::wstring(L"uninstall.exe"); }, "no folder"},
        {"relative", [](UninstallRoadTest&) { return std::wstring(L"Orvane\\uninstall.exe"); }, "a relative folder"},
        {"a drive root", [](UninstallRoadTest&) { return std::wstring(L"C:\\uninstall.exe"); },
         "a drive root or no folder that may be deleted"},
        {"a drive root reached by \"..\"", [](UninstallRoadTest&) { return std::wstring(L"C:\\Orvane\\..\\uninstall.exe"); },
         "a drive root or no folder that may be deleted"},
        {"Documents", [](UninstallRoadTest&) { return DocumentsFolder() + L"\\uninstall.exe"; },
         "a folder of the user or of the system"},
        {"a folder holding the user's profile",
         [](UninstallRoadTest&) {
             wchar_t profile[MAX_PATH] = {};
             GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
             std::wstring above = profile;
             above.erase(above.find_last_of(L'\\'));
             return above + L"\\uninstall.exe";
         },
         "a folder of the user or of the system"},
        {"no uninstaller in it",
         [](UninstallRoadTest& t) {
             DeleteFileW((t.folder_ + L"\\uninstall.exe").c_str());
             return t.folder_ + L"\\uninstall.exe";
         },
         "the folder holds no uninstall.exe"},
        {"another program's folder",
         [](UninstallRoadTest& t) {
             DeleteFileW((t.folder_ + L"\\" + ProductConfig::GetMainExeNameW()).c_str());
             WriteFileBytes(t.folder_ + L"\\other.exe", "another program");
             return t.folder_ + L"\\uninstall.exe";
         },
         "the folder is not the product's"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartCase();
        package_ = c.package(*this);
        ASSERT_EQ(Run(), UninstallOutcome::FolderRefused);
        EXPECT_TRUE(Logged(std::string("Uninstall refused to delete the installation folder: ") + c.reason + ".(" +
                           WideToNarrow(package_) + ")"))
            << Log();
        EXPECT_FALSE(Logged("Begin delete file.")) << Log();
        EXPECT_TRUE(FileExists(folder_ + L"\\data\\settings.dat"));
        EXPECT_TRUE(FileExists(parent_ + L"\\neighbour.txt"));
        EXPECT_EQ(steps_.calls, kRestSteps) << "no product step ran in the refused folder";
        EXPECT_FALSE(ConfigKept());
        EXPECT_EQ(window_.events, (std::vector<std::string>{"start", "position 0", "position 100", "done"}));
    }
}

// ---- Stopped roads ---------------------------------------------------------------

// The dialog's close asks the worker to stop: the road looks before the folder
// is judged and before it is deleted, and ends without the done page; once the
// folder is gone it completes.
TEST_F(UninstallRoadTest, AStopIsSeenBeforeTheFolderIsJudgedAndBeforeItIsDeleted) {
    struct Case {
        const char* name;
        const char* stopAt;  // the step whose call asks for the stop; null: before the road
        UninstallOutcome outcome;
        std::vector<std::string> calls;
        bool installationKept;
    };
    const Case cases[] = {
        {"before the folder is judged", nullptr, UninstallOutcome::Stopped, {}, true},
        {"before the folder is deleted", "DeleteHelperFiles", UninstallOutcome::Stopped, kFolderSteps, true},
        {"after the folder is gone", "DeleteShortcuts", UninstallOutcome::Uninstalled,
         Joined(kFolderSteps, kRestSteps), false},
    };
    for (const bool silent : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (silent ? ", silent" : ""));
            StartCase();
            choices_.silent = silent;
            if (c.stopAt) steps_.hooks[c.stopAt] = [this] { stop_ = true; };
            else stop_ = true;
            ASSERT_EQ(Run(), c.outcome);
            EXPECT_EQ(steps_.calls, c.calls);
            EXPECT_EQ(InstallationKept(), c.installationKept);
            EXPECT_EQ(ConfigKept(), c.outcome == UninstallOutcome::Stopped);
            EXPECT_FALSE(Logged("Uninstall refused")) << Log();
            if (c.outcome == UninstallOutcome::Stopped) {
                EXPECT_EQ(window_.events, (std::vector<std::string>{"start", "position 0"}));
                EXPECT_FALSE(Logged("End DeleteUninstallItem.")) << Log();
            }
        }
    }
}

// ---- Endings ------------------------------------------------------------------------

// The done page's text asks for a restart when the product's own uninstall
// asked for one, or an earlier step did and the product did not run to say
// otherwise; the dialog keeps the flag.
TEST_F(UninstallRoadTest, TheDonePageAsksForARestartWhenOneIsNeeded) {
    const struct {
        const char* name;
        bool earlier, productRuns, productAsks;
        bool restart;
    } cases[] = {
        {"the product asks", false, true, true, true},
        {"the product does not ask", false, true, false, false},
        {"the product's answer replaces an earlier one", true, true, false, false},
        {"an earlier step asked, the product did not run", true, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartCase();
        earlierRestart_ = c.earlier;
        steps_.productRuns = c.productRuns;
        steps_.productAsksRestart = c.productAsks;
        ASSERT_EQ(Run(), UninstallOutcome::Uninstalled);
        EXPECT_EQ(window_.events.back(), c.restart ? "done restart" : "done");
        EXPECT_EQ(steps_.restartFlagsKept, 1);
        EXPECT_EQ(steps_.lastRestartFlag, c.restart);
    }
}

// A silent run has nobody to press Finish: the road closes it after the done
// page, whether the folder was removed or refused.
TEST_F(UninstallRoadTest, ASilentRunClosesAfterTheDonePage) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused folder" : "removed folder");
        StartCase();
        choices_.silent = true;
        if (refused) package_ = L"uninstall.exe";
        ASSERT_EQ(Run(), refused ? UninstallOutcome::FolderRefused : UninstallOutcome::Uninstalled);
        ASSERT_GE(window_.events.size(), 2u);
        EXPECT_EQ(window_.events[window_.events.size() - 2], "done");
        EXPECT_EQ(window_.events.back(), "close");
        const std::string log = Log();
        EXPECT_LT(log.find("End DeleteUninstallItem."), log.find("Uninstall work SUCCEE.")) << log;
    }
}

// Without an application data folder there is nothing to delete and nothing
// to report.
TEST_F(UninstallRoadTest, NoApplicationDataFolderIsNoFailure) {
    noConfigFolder_ = true;
    steps_.configFolder.clear();
    ASSERT_EQ(Run(), UninstallOutcome::Uninstalled);
    EXPECT_TRUE(ConfigKept()) << "the road deletes only the folder the steps name";
    EXPECT_TRUE(Logged("End Remove AppConfig."));
    EXPECT_FALSE(Logged("Uninstall step failed")) << Log();
}

}  // namespace
