// The install road without a window: every ending of InstallRoad against a
// stand-in window, download engine and product steps, with the package the
// project builds (real headers, real folders, the real reporter). Then the
// same folder judgement with the product's own dialog object: a package that
// cannot be installed leaves an earlier installation as it was.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IDownloader.h"
#include "InstallRoad.h"
#include "InstallStatsReporter.h"
#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Orvane.h"
#include "PackageHeader.h"
#include "Paths.h"
#include "TestSupport.h"
#include "Text.h"
#include "UnpackPackage.h"

using namespace testing_support;

namespace {

std::wstring LocalPackage() { return FromUnixPath(INSTALL_MIRROR_DIR) + L"\\www\\download\\orvane_setup.exe"; }

// ---- Stand-ins ---------------------------------------------------------------

struct FakeWindow : InstallWindow {
    std::vector<InstallState> pages;
    std::vector<int> unpackEvents;
    std::vector<std::wstring> errors;  // "owned:" or "free:" then the text
    int restartQuestions = 0;
    int restartAnswer = 0;
    int closes = 0;
    int renderStage = 0;
    bool finishButton = true;
    int downloadEvents = 0;  // the engine's thread is the road's here

    void ShowPage(InstallState page) override { pages.push_back(page); }
    void SetRenderStage(int stage) override { renderStage = stage; }
    void SetFinishButton(bool enabled) override { finishButton = enabled; }
    void SetUsingFallback(bool) override {}
    void DownloadEvent(int, unsigned, long) override { ++downloadEvents; }
    void UnpackEvent(int event, unsigned) override { unpackEvents.push_back(event); }
    void ShowError(const std::wstring& text, bool owned) override {
        errors.push_back((owned ? L"owned:" : L"free:") + text);
    }
    int AskRestart() override {
        ++restartQuestions;
        return restartAnswer;
    }
    void Close() override { ++closes; }
    InstallState LastPage() const { return pages.empty() ? E_Install_Ready : pages.back(); }
};

// An engine that "downloads" by copying a package to the target.
struct FakeEngine : IDownloader {
    DownloadState state = E_State_Succeed;
    std::wstring source;
    std::function<void()> onStart;
    ProgressCallback callback;
    bool stopped = false;

    int StartWithConfigData(const char*, int, std::string target) override {
        if (onStart) onStart();
        if (state == E_State_Succeed) CopyFileW(source.c_str(), Utf8ToWide(target).c_str(), FALSE);
        if (callback) callback(state == E_State_Succeed ? E_Download_Succeed : E_Download_Fail, 0, 0);
        return 0;
    }
    int StartWithConfigUrl(std::string, std::string) override { return 0; }
    int LoadConfigFile(std::wstring, std::string) override { return 0; }
    int BeginDownload(DownloadConfig&) override { return 0; }
    int StopDownload() override {
        stopped = true;
        return 0;
    }
    bool IsDownloading() override { return false; }
    int SetCallback(ProgressCallback& cb) override {
        callback = cb;
        return 0;
    }
    int GetProgress(DownloadProgress*) override { return 0; }
    DownloadState GetState() override { return state; }
    void SetProxy(ProxyConfig&) override {}
    bool IsUsingFallback() override { return false; }
    DownloadError GetErrorCode() override { return E_Error_NoError; }
    std::string GetErrorName() override { return {}; }
    std::string GetLastFailLink() override { return {}; }
    std::string GetRepairLink() override { return {}; }
    int GetCurlError() override { return 0; }
    std::vector<UrlCfg> GetCheckedUrlList() override { return {}; }
    std::vector<UrlCfg> GetUsedUrlList() override { return used; }
    double GetFallbackSizeKB() override { return 0; }
    std::vector<HostSizeRecord> GetHostSizeList() override { return {}; }
    std::vector<UrlSwitchRecord> GetUrlSwitchList() override { return switches; }

    std::vector<UrlCfg> used;
    std::vector<UrlSwitchRecord> switches;
};

struct FakeEngines : InstallEngines {
    FakeEngine engine;
    bool none = false;
    int created = 0, released = 0;
    IDownloader* Create() override {
        ++created;
        return none ? nullptr : &engine;
    }
    void Release(IDownloader*) override { ++released; }
};

// The product's steps as calls in order; each phase may ask the road to stop.
struct FakeSteps : InstallSteps {
    std::vector<std::string> calls;
    std::map<std::string, std::function<void()>> hooks;
    int installResult = 0;
    bool askRestart = false;
    std::wstring folder;
    std::wstring runOnce;

    void Call(const std::string& name) {
        calls.push_back(name);
        auto hook = hooks.find(name);
        if (hook != hooks.end()) hook->second();
    }
    bool Called(const std::string& name) const {
        for (const auto& c : calls)
            if (c == name) return true;
        return false;
    }
    int InstallFile(const std::wstring&, const std::wstring& into) override {
        Call("InstallFile");
        folder = into;
        CreateDirectoryW(into.c_str(), nullptr);
        if (installResult >= 0) WriteFileBytes(into + L"\\orvane.exe", "new");
        return installResult;
    }
    std::wstring InstalledFolder() override { return folder; }
    void KillProductProcesses() override { Call("Kill"); }
    void QuitRunningApp(const std::wstring&, const std::wstring&) override { Call("QuitRunningApp"); }
    bool IsNewInstall(const std::wstring&) override {
        Call("IsNewInstall");
        return true;
    }
    bool ProcessBeforeInstall(const std::wstring&, bool* needRestart) override {
        Call("ProcessBeforeInstall");
        *needRestart = askRestart;
        return true;
    }
    void CreateShortcuts(const ShortcutInfo&) override { Call("CreateShortcuts"); }
    void RefreshIcons() override {}
    std::string MakeDisplayName(const std::string& name) override { return name; }
    int ShowFinishWebPage(bool newInstall) override {
        Call("ShowFinishWebPage");
        return newInstall ? 1 : 0;
    }
    bool RunMainExeInstall(const std::wstring&, const std::wstring&, bool, bool*) override {
        Call("RunMainExeInstall");
        return true;
    }
    void WriteUninstallInfo() override { Call("WriteUninstallInfo"); }
    bool AddRunOnce(const std::string&, const std::wstring& command) override {
        Call("AddRunOnce");
        runOnce = command;
        return true;
    }
    void RestartWindows() override { Call("RestartWindows"); }
    void RunProductApp(const std::wstring&) override { Call("RunProductApp"); }
    void UsePackageHeader(const PackageHeader&) override {}
    void UsePackagePath(const std::wstring&) override {}
    void UseInstallFolder(const std::wstring&) override {}
    void UseOutcomeFlags(bool, bool, const std::string&) override {}
};

// A copy of the built package with some bytes changed: at an offset from
// the start, or from the payload's start.
std::wstring SpoiledPackage(const std::wstring& path, std::function<void(std::string&, const PackageHeader&)> spoil) {
    std::string bytes = ReadFileBytes(LocalPackage());
    PackageHeader header;
    EXPECT_TRUE(SUCCEEDED(ReadPackageHeader(LocalPackage().c_str(), header)));
    spoil(bytes, header);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
}

// A package handed to the road as the download phase hands it over: the
// reporter has seen the download succeed.
void MarkDownloaded(InstallStatsReporter& reporter) {
    reporter.OnDownloadStart();
    DownloadStatsRecord downloaded;
    downloaded.bSucceeded = true;
    reporter.OnDownloadFinished(downloaded);
}

void PutLe64(std::string& bytes, size_t at, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

class InstallRoadTest : public ::testing::Test {
public:  // the case tables arrange the fixture's parts
    void SetUp() override {
        // A log of each run's own: a case reads only its own lines.
        log_ = scratch_ / (L"road" + std::to_wstring(++runs_) + L".log");
        GetLog()->Init(log_);
        reporter_ = std::make_unique<InstallStatsReporter>("http://127.0.0.1:9/", InstallStatsParams{});
        folder_ = scratch_ / L"Orvane";
        CreateDirectoryW(folder_.c_str(), nullptr);
        // An earlier installation: the product's own folder.
        ASSERT_TRUE(WriteFileBytes(folder_ + L"\\orvane.exe", "earlier"));
        ASSERT_TRUE(WriteFileBytes(folder_ + L"\\Data.txt", "earlier data"));
        engines_.engine.source = LocalPackage();
        choices_ = InstallChoices();
        choices_.folder = folder_;
        manifest_ = "<manifest/>";
        target_ = scratch_ / L"download\\setup.exe";
        CreateDirectoryW((scratch_ / L"download").c_str(), nullptr);
    }

    // A case of a table: a fresh log, folder and reporter, and stand-ins as new.
    void StartCase() {
        SetUp();
        window_ = FakeWindow();
        steps_ = FakeSteps();
        engines_.none = false;
        engines_.created = engines_.released = 0;
        engines_.engine.state = E_State_Succeed;
        engines_.engine.onStart = nullptr;
        engines_.engine.used.clear();
        engines_.engine.switches.clear();
        stop_ = false;
    }

    // Runs one road; package empty: the download phase first.
    RoadOutcome Run(const std::wstring& package = L"") {
        if (!package.empty()) MarkDownloaded(*reporter_);
        InstallRoad road({window_, engines_, steps_, reporter_.get(), stop_}, choices_, PackageHeader(), package);
        road.timing.pollMs = 5;
        road.timing.afterDownloadMs = 0;
        road.timing.beforePackageMs = 0;
        road.loadManifest = [this](bool, std::string& text) {
            text = manifest_;
            return !manifest_.empty();
        };
        road.downloadTarget = [this] { return target_; };
        const auto start = std::chrono::steady_clock::now();
        const RoadOutcome outcome = road.Run();
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        printf("  road %s: %lld ms\n", RoadOutcomeName(outcome), static_cast<long long>(spent.count()));
        return outcome;
    }
    std::string Log() { return ReadFileBytes(log_); }
    bool Logged(const char* line) { return Log().find(line) != std::string::npos; }
    bool EarlierInstallKept() {
        return ReadFileBytes(folder_ + L"\\orvane.exe") == "earlier" &&
               ReadFileBytes(folder_ + L"\\Data.txt") == "earlier data";
    }

    ScratchFolder scratch_{L"install_road"};
    int runs_ = 0;
    std::wstring log_, folder_, target_;
    std::string manifest_ = "<manifest/>";
    std::unique_ptr<InstallStatsReporter> reporter_;
    FakeWindow window_;
    FakeEngines engines_;
    FakeSteps steps_;
    InstallChoices choices_;
    std::atomic<bool> stop_{false};
};

// ---- Mirror switches in the finish report ------------------------------------

// The statistics service reads each used mirror's switch reasons as words and
// the four flags of the report: a misspelt word or a crossed flag changes what
// it counts.
TEST_F(InstallRoadTest, MirrorSwitchesReachTheFinishReportAsTheirWordsAndFlags) {
    struct Case {
        const char* name;
        std::vector<UrlSwitchRecord> switches;
        const char* reasons;  // of the mirror "a.test"
        bool repair, timeout, fail, split;
    };
    const Case cases[] = {
        {"none", {}, "", false, false, false, false},
        {"repair", {{"a.test", E_Switch_Repair}}, "repair,", true, false, false, false},
        {"time-out", {{"a.test", E_Switch_Timeout}}, "timeOut,", false, true, false, false},
        {"failure", {{"a.test", E_Switch_Fail}}, "fail,", false, false, true, false},
        {"split", {{"a.test", E_Switch_Split}}, "success_new,", false, false, false, true},
        {"one word per reason, in the order of the switches",
         {{"a.test", E_Switch_Fail}, {"a.test", E_Switch_Repair}, {"a.test", E_Switch_Fail}}, "fail,repair,", true,
         false, true, false},
        {"another mirror's switch sets the flag, not this mirror's words", {{"b.test", E_Switch_Timeout}}, "", false,
         true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartCase();
        engines_.engine.used.assign(2, UrlCfg());
        engines_.engine.used[0].host = "a.test";
        engines_.engine.used[1].host = "b.test";
        engines_.engine.switches = c.switches;
        ASSERT_EQ(Run(), RoadOutcome::Installed);
        const std::string report = reporter_->BuildInstallObject(InstallOptionFlags()).ToString();
        const auto yes = [](bool value) { return std::string(value ? "\"true\"" : "\"false\""); };
        EXPECT_NE(report.find(std::string("\"switch_amazon_reason\":\"") + c.reasons + "\""), std::string::npos)
            << report;
        EXPECT_NE(report.find("\"repair_use_amazom\":" + yes(c.repair)), std::string::npos) << report;
        EXPECT_NE(report.find("\"timeout_use_amazom\":" + yes(c.timeout)), std::string::npos) << report;
        EXPECT_NE(report.find("\"fail_use_amazom\":" + yes(c.fail)), std::string::npos) << report;
        EXPECT_NE(report.find("\"success_use_amazom\":" + yes(c.split)), std::string::npos) << report;
    }
}

// ---- Download endings ---------------------------------------------------------

TEST_F(InstallRoadTest, DownloadEndingsGoToTheFailedPageAsADownloadFailure) {
    struct Case {
        const char* name;
        std::function<void(InstallRoadTest&)> arrange;
        RoadOutcome outcome;
        const char* line;
    };
    const Case cases[] = {
        {"no engine", [](InstallRoadTest& t) { t.engines_.none = true; }, RoadOutcome::NoEngine,
         "SetupDlg::DoInstall pDownload = NULL."},
        {"no manifest", [](InstallRoadTest& t) { t.manifest_.clear(); }, RoadOutcome::NoManifest,
         "Download Failed. No download manifest."},
        {"unusable target", [](InstallRoadTest& t) { t.target_.clear(); }, RoadOutcome::TargetUnusable,
         "Download Failed. Target path unusable"},
        {"download failed", [](InstallRoadTest& t) { t.engines_.engine.state = E_State_Fail; },
         RoadOutcome::DownloadFailed, "Download Failed. Show retry."},
        {"need update", [](InstallRoadTest& t) { t.engines_.engine.state = E_State_NeedUpdate; },
         RoadOutcome::NeedUpdate, "Download Failed. App need update."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartCase();
        c.arrange(*this);
        EXPECT_EQ(Run(), c.outcome);
        EXPECT_EQ(window_.pages, std::vector<InstallState>{E_Install_Failed});
        EXPECT_EQ(reporter_->GetInstallStatus(), "downLoad_fail");
        EXPECT_TRUE(Logged(c.line)) << Log();
        EXPECT_FALSE(Logged("Begin delete file."));
        EXPECT_TRUE(EarlierInstallKept());
        EXPECT_EQ(window_.closes, 0);
        EXPECT_EQ(engines_.released, engines_.created - (engines_.none ? 1 : 0));
        if (c.outcome == RoadOutcome::NeedUpdate) {
            ASSERT_EQ(window_.errors.size(), 1u);
            EXPECT_EQ(window_.errors[0], std::wstring(L"free:") + GetLangString(43));
        } else {
            EXPECT_TRUE(window_.errors.empty());
        }
    }
}

// ---- Package endings ------------------------------------------------------------

TEST_F(InstallRoadTest, ADownloadedPackageInstallsRegistersAndFinishes) {
    EXPECT_EQ(Run(), RoadOutcome::Installed);
    EXPECT_EQ(window_.LastPage(), E_Install_Finished);
    EXPECT_EQ(window_.renderStage, 3);
    EXPECT_TRUE(window_.finishButton);
    EXPECT_EQ(reporter_->GetInstallStatus(), "success");
    EXPECT_EQ(steps_.calls.back(), "WriteUninstallInfo");
    EXPECT_EQ(ReadFileBytes(folder_ + L"\\orvane.exe"), "new");
    EXPECT_FALSE(FileExists(folder_ + L"\\Data.txt")) << "the earlier installation was removed first";
    // The log lines in the order the road writes them.
    const std::string log = Log();
    size_t at = 0;
    for (const char* line : {"Url : ", "Download Finish Result : succeed(5).", "Begin install...",
                             "Do Install File : ", "Install Path : ", "Begin depack file.", "Begin delete file.(",
                             "End delete file.", "Install File Result 0", "Create Icons for x86",
                             "Refresh Icons Finish.", "New : 1", "UpdateCtrlStatus(AfterInstall)",
                             "Finish(AfterInstall)"}) {
        const size_t next = log.find(line, at);
        ASSERT_NE(next, std::string::npos) << line << "\n" << log;
        at = next;
    }
}

TEST_F(InstallRoadTest, PackageEndings) {
    const std::wstring truncated = SpoiledPackage(scratch_ / L"truncated.exe", [](std::string& b, const PackageHeader&) {
        b.resize(6000);
    });
    const std::wstring pastEnd = SpoiledPackage(scratch_ / L"past.exe", [](std::string& b, const PackageHeader& h) {
        PutLe64(b, static_cast<size_t>(*reinterpret_cast<const uint64_t*>(b.data() + 32)) + 32, h.archiveSize * 4);
    });
    const std::wstring startHeader = SpoiledPackage(scratch_ / L"start.exe", [](std::string& b, const PackageHeader& h) {
        b[static_cast<size_t>(h.archiveOffset) + 14] ^= 0x5A;
    });
    const std::wstring notAnArchive = SpoiledPackage(scratch_ / L"not7z.exe", [](std::string& b, const PackageHeader& h) {
        b[static_cast<size_t>(h.archiveOffset)] = 'X';
    });
    const std::wstring tooLong = scratch_.path() + L"\\" + std::wstring(240 - scratch_.path().size() - 1, L'd');
    struct Case {
        const char* name;
        std::function<void(InstallRoadTest&)> arrange;
        std::wstring package;
        RoadOutcome outcome;
        InstallState page;
        const char* status;
        const char* line;
        bool keptEarlier;
    };
    const Case cases[] = {
        {"truncated header", nullptr, truncated, RoadOutcome::HeaderBad, E_Install_Finished, "install_fail",
         "Package check failed : the header does not lie inside the package.", true},
        {"payload past the end", nullptr, pastEnd, RoadOutcome::HeaderBad, E_Install_Finished, "install_fail",
         "Package check failed : the payload does not lie inside the package.", true},
        {"payload start header", nullptr, startHeader, RoadOutcome::HeaderBad, E_Install_Finished, "install_fail",
         "Package check failed : the payload's start header is damaged.", true},
        {"payload not 7z", nullptr, notAnArchive, RoadOutcome::HeaderBad, E_Install_Finished, "install_fail",
         "Package check failed : the payload is not a 7z archive.", true},
        {"folder refused",
         [](InstallRoadTest& t) {
             WriteFileBytes(t.folder_ + L"\\thesis.docx", "mine");
             CreateDirectoryW((t.folder_ + L"\\Orvane").c_str(), nullptr);
             WriteFileBytes(t.folder_ + L"\\Orvane\\diary.txt", "mine");
             DeleteFileW((t.folder_ + L"\\orvane.exe").c_str());
             WriteFileBytes(t.folder_ + L"\\Data.txt", "earlier data");
         },
         LocalPackage(), RoadOutcome::FolderRefused, E_Install_Failed, "install_fail",
         "Install stopped : no folder of the product's own", false},
        {"folder too long",
         [tooLong](InstallRoadTest& t) {
             CreateDirectoryW(tooLong.c_str(), nullptr);
             WriteFileBytes(tooLong + L"\\orvane.exe", "earlier");
             t.choices_.folder = tooLong;
         },
         LocalPackage(), RoadOutcome::FolderTooLong, E_Install_Failed, "install_fail",
         "Install stopped : the folder is too long for the product's files", true},
        {"extraction failed", [](InstallRoadTest& t) { t.steps_.installResult = E_FAIL; }, LocalPackage(),
         RoadOutcome::ExtractFailed, E_Install_Finished, "install_fail", "Install File FAILED error code = 80004005",
         false},
        {"restart", [](InstallRoadTest& t) { t.steps_.askRestart = true; }, LocalPackage(),
         RoadOutcome::RestartNeeded, E_Install_Finished, "success", "Add Run Once : Rel = 1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartCase();
        if (c.arrange) c.arrange(*this);
        EXPECT_EQ(Run(c.package), c.outcome);
        EXPECT_EQ(window_.LastPage(), c.page);
        EXPECT_EQ(reporter_->GetInstallStatus(), c.status);
        EXPECT_TRUE(Logged(c.line)) << Log();
        EXPECT_FALSE(steps_.Called("WriteUninstallInfo"));
        if (c.keptEarlier) {
            EXPECT_FALSE(Logged("Begin delete file.")) << "the folder was not touched";
            EXPECT_TRUE(c.outcome == RoadOutcome::FolderTooLong || EarlierInstallKept());
        }
        switch (c.outcome) {
            case RoadOutcome::HeaderBad:
                EXPECT_EQ(window_.unpackEvents, std::vector<int>{E_Unpack_Fail}) << "the \"Install Failed!\" box";
                EXPECT_FALSE(window_.finishButton);
                EXPECT_FALSE(steps_.Called("InstallFile"));
                break;
            case RoadOutcome::FolderRefused:
            case RoadOutcome::FolderTooLong:
                ASSERT_EQ(window_.errors.size(), 1u);
                EXPECT_EQ(window_.errors[0], std::wstring(L"owned:") + GetLangString(31));
                EXPECT_EQ(ReadFileBytes(folder_ + L"\\Data.txt"), "earlier data");
                break;
            case RoadOutcome::ExtractFailed:
                EXPECT_FALSE(window_.finishButton);
                EXPECT_FALSE(steps_.Called("CreateShortcuts"));
                break;
            case RoadOutcome::RestartNeeded:
                EXPECT_EQ(window_.restartQuestions, 1);
                EXPECT_EQ(window_.closes, 1);
                EXPECT_FALSE(steps_.Called("InstallFile"));
                EXPECT_FALSE(steps_.Called("RestartWindows")) << "the box was not confirmed";
                EXPECT_EQ(steps_.runOnce, LocalPackage());
                break;
            default:
                break;
        }
        if (c.outcome != RoadOutcome::RestartNeeded) EXPECT_EQ(window_.closes, 0);
    }
}

// A silent run ends every road by closing the dialog, once, and asks nobody.
TEST_F(InstallRoadTest, EverySilentEndingClosesOnceWithoutABox) {
    struct Case {
        const char* name;
        std::function<void(InstallRoadTest&)> arrange;
        bool download;
        RoadOutcome outcome;
    };
    const Case cases[] = {
        {"no engine", [](InstallRoadTest& t) { t.engines_.none = true; }, true, RoadOutcome::NoEngine},
        {"no manifest", [](InstallRoadTest& t) { t.manifest_.clear(); }, true, RoadOutcome::NoManifest},
        {"download failed", [](InstallRoadTest& t) { t.engines_.engine.state = E_State_Fail; }, true,
         RoadOutcome::DownloadFailed},
        {"need update", [](InstallRoadTest& t) { t.engines_.engine.state = E_State_NeedUpdate; }, true,
         RoadOutcome::NeedUpdate},
        {"folder too long",
         [](InstallRoadTest& t) { t.choices_.folder = t.scratch_.path() + L"\\" + std::wstring(240 - t.scratch_.path().size() - 1, L'e'); },
         false, RoadOutcome::FolderTooLong},
        {"extraction failed", [](InstallRoadTest& t) { t.steps_.installResult = E_FAIL; }, false,
         RoadOutcome::ExtractFailed},
        {"restart", [](InstallRoadTest& t) { t.steps_.askRestart = true; }, false, RoadOutcome::RestartNeeded},
        {"installed", nullptr, false, RoadOutcome::Installed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartCase();
        choices_.silent = true;
        if (c.arrange) c.arrange(*this);
        if (c.outcome == RoadOutcome::FolderTooLong) CreateDirectoryW(choices_.folder.c_str(), nullptr);
        EXPECT_EQ(Run(c.download ? L"" : LocalPackage()), c.outcome);
        EXPECT_EQ(window_.closes, 1);
        EXPECT_TRUE(window_.errors.empty());
        EXPECT_EQ(window_.restartQuestions, 0);
        EXPECT_FALSE(steps_.Called("RestartWindows"));
    }
}

// A stop request (the window closed) ends the road between phases until the
// folder is touched, leaving it and the report as they were; from then on
// the road completes the install and registers it, without the steps that
// only matter to a user still there.
TEST_F(InstallRoadTest, AStopAtEachPhaseLeavesTheEarlierStateOrARegisteredInstall) {
    struct Case {
        const char* phase;  // the step during which the stop arrives
        bool download;
        bool installed;
    };
    const Case cases[] = {
        {"engine start", true, false}, {"Kill", false, false},
        {"IsNewInstall", false, false}, {"ProcessBeforeInstall", false, true},
        {"InstallFile", false, true},   {"CreateShortcuts", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        StartCase();
        if (c.download) engines_.engine.onStart = [this] { stop_ = true; };
        else steps_.hooks[c.phase] = [this] { stop_ = true; };
        const RoadOutcome outcome = Run(c.download ? L"" : LocalPackage());
        engines_.engine.onStart = nullptr;
        if (!c.installed) {
            EXPECT_EQ(outcome, RoadOutcome::Stopped);
            EXPECT_TRUE(EarlierInstallKept());
            EXPECT_FALSE(Logged("Begin delete file."));
            EXPECT_TRUE(window_.pages.empty() || window_.pages == std::vector<InstallState>{E_Install_Working});
            EXPECT_NE(reporter_->GetInstallStatus(), "success");
            EXPECT_NE(reporter_->GetInstallStatus(), "install_fail");
            continue;
        }
        EXPECT_EQ(outcome, RoadOutcome::Installed);
        EXPECT_EQ(ReadFileBytes(folder_ + L"\\orvane.exe"), "new");
        EXPECT_TRUE(steps_.Called("CreateShortcuts"));
        EXPECT_EQ(steps_.calls.back(), "WriteUninstallInfo");
        EXPECT_FALSE(steps_.Called("ShowFinishWebPage"));
        EXPECT_FALSE(steps_.Called("RunMainExeInstall"));
        EXPECT_EQ(reporter_->GetInstallStatus(), "success");
    }
    // The stop before any phase: nothing happens at all.
    StartCase();
    stop_ = true;
    EXPECT_EQ(Run(), RoadOutcome::Stopped);
    EXPECT_EQ(engines_.created, 0);
    EXPECT_TRUE(window_.pages.empty());
}

// ---- The product's own dialog object over an earlier installation ----------------

class PackageOverAnEarlierInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetLog()->Init(scratch_ / L"install.log");
        dlg_.pReporter = &reporter_;
    }
    void TearDown() override { dlg_.pReporter = nullptr; }
    void InstallPackage(const std::wstring& package, const std::wstring& folder) {
        dlg_.eInstall = E_Install_Working;
        dlg_.bFinishButtonEnabled = 1;
        MarkDownloaded(reporter_);
        dlg_.SetPackagePath(package);
        CreateDirectories(folder);
        dlg_.SetInstallFolder(folder);
        dlg_.DoInstall();
    }
    ScratchFolder scratch_{L"install_over"};
    InstallStatsReporter reporter_{"http://127.0.0.1:9/", InstallStatsParams{}};
    // Nobody answers a box here: the failure's box is the one the dialog
    // would show, and the test needs the road to go on.
    struct QuietOrvane : Orvane {
        bool IsSilent() override { return true; }
    } dlg_;
};

TEST_F(PackageOverAnEarlierInstallTest, ABrokenPackageLeavesTheEarlierInstallation) {
    const std::wstring folder = scratch_ / L"Orvane";
    InstallPackage(LocalPackage(), folder);
    ASSERT_EQ(dlg_.eInstall.load(), E_Install_Finished);
    const std::string earlierExe = ReadFileBytes(folder + L"\\orvane.exe");
    ASSERT_FALSE(earlierExe.empty());
    ASSERT_TRUE(FileExists(folder + L"\\Data\\readme.txt"));

    const std::wstring broken[] = {
        SpoiledPackage(scratch_ / L"header.exe", [](std::string& b, const PackageHeader&) { PutLe64(b, 32, 1ull << 40); }),
        SpoiledPackage(scratch_ / L"payload.exe", [](std::string& b, const PackageHeader& h) {
            b[static_cast<size_t>(h.archiveOffset) + 20] ^= 0x11;
        }),
    };
    for (const std::wstring& package : broken) {
        SCOPED_TRACE(WideToUtf8(package));
        InstallPackage(package, folder);
        EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
        EXPECT_EQ(dlg_.bFinishButtonEnabled.load(), 0);
        EXPECT_EQ(reporter_.GetInstallStatus(), "install_fail");
        EXPECT_TRUE(ReadFileBytes(folder + L"\\orvane.exe") == earlierExe) << "the earlier product's executable";
        EXPECT_TRUE(FileExists(folder + L"\\Data\\readme.txt"));
        EXPECT_TRUE(FileExists(folder + L"\\uninstall.exe"));
    }
}

}  // namespace
