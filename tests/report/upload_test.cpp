// The start and finish reports as the loopback statistics service receives
// them, with the analytics service supplying the client data.
#include <winsock2.h>
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "InstallStatsReporter.h"
#include "Log.h"
#include "ReportTestSupport.h"
#include "SystemInfo.h"
#include "TestSupport.h"
#include "Text.h"

using namespace report_test;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;

namespace {

const char kClientData[] =
    R"({"data":{"api_version":3,"user_info":{"token_id":"tok-1","email":""},)"
    R"("download_info":[{"pid":"1830","name":"Lumora"}]}})";
const char kLogText[] = "00:00:00 : Setup Init. Version 2.5.0.1\n00:00:03 : SetupDlg::DoInstall failed.\n";

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetService(UploadStatsUrl());
        ResetService(UploadAnalyticsUrl());
        SetBehaviour(UploadAnalyticsUrl(), kClientData);
        // The client data cache is looked for in the current directory.
        GetCurrentDirectoryW(MAX_PATH, previous_);
        ASSERT_TRUE(SetCurrentDirectoryW(folder_.path().c_str()));
        logPath_ = folder_ / L"install.log";
        ASSERT_TRUE(WriteFileBytes(logPath_, kLogText));
    }
    void TearDown() override { SetCurrentDirectoryW(previous_); }

    InstallStatsParams Params(const std::wstring& logPath) const {
        InstallStatsParams params;
        params.strUuid = "00112233445566778899AABBCCDDEEFF";
        params.strProductKey = "orvane";
        params.strOption = "opt";
        params.strSource = "src";
        params.strVersion = "2501";
        params.strLogPath = WideToUtf8(logPath);
        params.strDomain = "tarvex.example";
        params.strClientId = "204";
        params.strProductName = "Orvane";
        params.bIs64Product = true;
        params.bIs64System = true;
        params.strLangCode = "ENU";
        params.strWebStatsUrl = UploadAnalyticsUrl();
        return params;
    }
    std::unique_ptr<InstallStatsReporter> Reporter(const std::string& statsBase = UploadStatsUrl()) {
        return std::make_unique<InstallStatsReporter>(statsBase + "/api/common_json_post/", Params(logPath_));
    }

    // As the statistics-start thread and the close handler call them.
    template <typename Attempt>
    static int TenTries(Attempt attempt) {
        for (int i = 1; i <= 10; ++i) {
            if (attempt()) return i;
            Sleep(500);
        }
        return 0;
    }

    static std::vector<CJsonObject> Reports() { return Requests(UploadStatsUrl()); }

    ScratchFolder folder_{L"upload"};
    std::wstring logPath_;
    wchar_t previous_[MAX_PATH] = {};
};

std::vector<Leaf> WithoutPrefix(const std::vector<Leaf>& leaves, const std::string& prefix) {
    std::vector<Leaf> out;
    for (const Leaf& leaf : leaves)
        if (leaf.path.compare(0, prefix.size(), prefix) == 0) out.push_back({leaf.path.substr(prefix.size()), leaf.type, leaf.value});
    return out;
}

std::vector<std::string> TopKeys(const std::vector<Leaf>& leaves) {
    std::vector<std::string> keys;
    for (const Leaf& leaf : leaves) {
        std::string key = leaf.path.substr(0, leaf.path.find_first_of(".["));
        if (keys.empty() || keys.back() != key) keys.push_back(key);
    }
    return keys;
}

TEST_F(UploadTest, StartReportAsReceived) {
    auto reporter = Reporter();
    ASSERT_TRUE(reporter->SendStartReport());

    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    const CJsonObject& report = reports[0];
    EXPECT_EQ(Text(report, "method"), "POST");
    EXPECT_EQ(Text(report, "path"), "/api/common_json_post/");
    EXPECT_THAT(Text(report, "content_type"), ::testing::StartsWith("multipart/form-data; boundary="));
    EXPECT_THAT(PartNames(report), ElementsAre("index", "json_data"));
    EXPECT_EQ(Text(Part(report, "index"), "text"), "common_soft_install");

    std::vector<Leaf> leaves = Leaves(report);
    ASSERT_FALSE(leaves.empty()) << Text(report, "json_error");
    // The client data object leads, its visited-product list rewritten for
    // the installer's own family (none kept), then "app" and "install".
    std::vector<Leaf> expected = {
        {"api_version", "i", "3"},
        {"user_info.token_id", "s", "tok-1"},
        {"user_info.email", "s", ""},
        {"app.language", "s", "ENU"},
        {"app.system_version", "s", GetWindowsVersionName()},
        {"app.id", "s", "orvane"},
        {"app.type", "s", "x64"},
        {"app.version", "s", "2501"},
        {"app.client_id", "s", "204"},
        {"app.app_name", "s", "Orvane"},
        {"install.uuid", "s", "00112233445566778899AABBCCDDEEFF"},
        {"install.option", "s", "opt"},
        {"install.source", "s", "src"},
        {"install.system_type", "s", "x64"},
        {"install.localtime", "s", leaves.size() > 14 ? leaves[14].value : ""},
        {"install.install_status", "s", "start"},
    };
    EXPECT_EQ(leaves, expected);
    ASSERT_GT(leaves.size(), 14u);
    EXPECT_TRUE(std::regex_match(leaves[14].value, std::regex(R"(\d{4}-\d{2}-\d{2}_\d{2}:\d{2}:\d{2})")));

    // The client data came from one analytics request with this machine's id.
    auto checks = Requests(UploadAnalyticsUrl());
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(Text(checks[0], "path"), "/v2/client/userinfo");
    EXPECT_EQ(Text(checks[0], "body"), "{\"machine_id\":\"" + GetMachineId() +
                                           "\", \"email\":\"\", \"domain\":\"tarvex.example\", \"app_id\":\"\", "
                                           "\"app_platform\":\"\"}");
}

// The finish report of a failed install: every key of the finish object in
// order with its type, the client data of the start report reused, and the
// install log attached.
TEST_F(UploadTest, FinishReportOfAFailedInstallCarriesTheLog) {
    auto reporter = Reporter();
    ASSERT_TRUE(reporter->SendStartReport());
    reporter->MarkWorkStarted();
    reporter->OnDownloadStart();
    DownloadStatsRecord download;
    download.bSucceeded = true;
    download.strErrorName = "NoError";
    reporter->OnDownloadFinished(download);
    reporter->OnInstallStart();
    InstallResultRecord result;
    result.strLastError = "UnzipFileError";
    reporter->OnInstallFinished(result);
    InstallOptionFlags flags;
    flags.bRunApp = true;
    ASSERT_TRUE(reporter->SendFinishReport(flags));

    EXPECT_EQ(Requests(UploadAnalyticsUrl()).size(), 1u) << "the finish report reuses the start report's data";
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    const CJsonObject& report = reports[1];
    EXPECT_THAT(PartNames(report), ElementsAre("index", "json_data", "upload_type", "upload_file"));
    EXPECT_EQ(Text(Part(report, "upload_type"), "text"), "install_fail");
    CJsonObject file = Part(report, "upload_file");
    EXPECT_EQ(Text(file, "filename"), "install.log");
    EXPECT_EQ(Text(file, "text"), kLogText);

    std::vector<Leaf> leaves = Leaves(report);
    EXPECT_THAT(TopKeys(leaves), ElementsAre("api_version", "user_info", "app", "install"));
    std::vector<Leaf> install = WithoutPrefix(leaves, "install.");
    std::vector<std::pair<std::string, std::string>> keys;
    for (const Leaf& leaf : install) keys.push_back({leaf.path, leaf.type});
    std::vector<std::pair<std::string, std::string>> expected = {
        {"data_version", "i"}, {"uuid", "s"}, {"option", "s"}, {"source", "s"}, {"system_language", "s"},
        {"system_type", "s"}, {"install_status", "s"}, {"localtime", "s"}, {"amazon_download", "s"},
        {"show_thankyou", "s"}, {"download_last_error", "s"}, {"install_last_error", "s"},
        {"download_second", "i"}, {"download_time_string", "s"}, {"install_second", "i"},
        {"install_time_string", "s"}, {"app_run_second", "i"}, {"app_runtime_string", "s"},
        {"progress_rate", "i"}, {"speed_string", "s"}, {"average_speed_string", "s"}, {"speed", "i"},
        {"average_speed", "i"}, {"auto_install", "s"}, {"run_app", "s"}, {"change_install_path", "s"},
        {"add_plan", "s"}, {"create_desktop", "s"}, {"download_amazom_size_kb", "i"}, {"version", "s"},
        {"repair_use_amazom", "s"}, {"fail_use_amazom", "s"}, {"timeout_use_amazom", "s"},
        {"success_use_amazom", "s"}, {"repair_link", "s"}};
    EXPECT_EQ(keys, expected);
    auto value = [&](const std::string& key) {
        for (const Leaf& leaf : install)
            if (leaf.path == key) return leaf.value;
        return std::string("<missing>");
    };
    EXPECT_EQ(value("data_version"), "1022");
    EXPECT_EQ(value("install_status"), "install_fail");
    EXPECT_EQ(value("install_last_error"), "UnzipFileError");
    EXPECT_EQ(value("download_last_error"), "NoError");
    EXPECT_EQ(value("run_app"), "true");
    EXPECT_EQ(value("auto_install"), "false");
    EXPECT_EQ(value("add_plan"), "true");
    EXPECT_EQ(value("speed_string"), "0Byte");
}

// Only the two failure words attach the log; a missing log drops the two parts.
TEST_F(UploadTest, LogAttachedOnlyForFailures) {
    struct Case {
        const char* name;
        bool failedDownload, logExists;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"success", false, true, {"index", "json_data"}},
        {"downLoad_fail", true, true, {"index", "json_data", "upload_type", "upload_file"}},
        {"downLoad_fail without log", true, false, {"index", "json_data"}},
    };
    for (const Case& c : cases) {
        ResetService(UploadStatsUrl());
        std::wstring log = c.logExists ? logPath_ : folder_ / L"missing.log";
        InstallStatsReporter reporter(UploadStatsUrl() + "/api/common_json_post/", Params(log));
        reporter.MarkWorkStarted();
        reporter.OnDownloadStart();
        DownloadStatsRecord download;
        download.bSucceeded = !c.failedDownload;
        download.nCurlError = 28;
        download.strLastFailLink = "https://m.example/f";
        reporter.OnDownloadFinished(download);
        if (!c.failedDownload) {
            reporter.OnInstallStart();
            InstallResultRecord result;
            result.bSucceeded = true;
            reporter.OnInstallFinished(result);
        }
        ASSERT_TRUE(reporter.SendFinishReport(InstallOptionFlags())) << c.name;
        auto reports = Reports();
        ASSERT_EQ(reports.size(), 1u) << c.name;
        EXPECT_EQ(PartNames(reports[0]), c.parts) << c.name;
        std::string flat = Text(reports[0], "flat");
        if (c.failedDownload) {
            EXPECT_THAT(flat, ::testing::HasSubstr("install.repair_link\ts\t\ninstall.curl_error\ti\t28\n"
                                                   "install.last_fail_link\ts\thttps://m.example/f"));
            if (c.logExists) {
                EXPECT_EQ(Text(Part(reports[0], "upload_type"), "text"), "downLoad_fail");
            }
        } else {
            EXPECT_THAT(flat, ::testing::Not(::testing::HasSubstr("curl_error")));
        }
    }
}

// The log lies below the user's Documents folder, whose name may hold
// letters outside ASCII, even letters the ANSI code page cannot spell (a
// Cyrillic or Chinese profile name on a Western system): it is still found
// and attached.
TEST_F(UploadTest, LogInANonAsciiFolderIsAttached) {
    const std::wstring names[] = {L"Protokoll \u00e4\u00f6\u00fc", L"\u0416\u0443\u0440\u043d\u0430\u043b \u65e5\u5fd7"};
    for (const std::wstring& name : names) {
        SCOPED_TRACE(WideToUtf8(name));
        ResetService(UploadStatsUrl());
        std::wstring folder = folder_ / name;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        std::wstring log = folder + L"\\install.log";
        ASSERT_TRUE(WriteFileBytes(log, kLogText));

        InstallStatsReporter reporter(UploadStatsUrl() + "/api/common_json_post/", Params(log));
        reporter.MarkWorkStarted();
        reporter.OnDownloadFinished(DownloadStatsRecord());
        ASSERT_TRUE(reporter.SendFinishReport(InstallOptionFlags()));
        auto reports = Reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_THAT(PartNames(reports[0]), ElementsAre("index", "json_data", "upload_type", "upload_file"));
        EXPECT_EQ(Text(Part(reports[0], "upload_file"), "text"), kLogText);
    }
    // The second name is one the prefix's ANSI code page cannot hold.
    EXPECT_NE(NarrowToWide(WideToNarrow(folder_ / names[1])), folder_ / names[1]);
}

// Only {"result": {"res": true}} is acceptance; the HTTP status is not looked at.
TEST_F(UploadTest, AcceptanceReply) {
    struct Case { const char* behaviour; bool accepted; };
    const Case cases[] = {
        {R"({"mode":"ok"})", true},
        {R"({"mode":"error_status_accept"})", true},
        {R"({"mode":"refuse"})", false},
        {R"({"mode":"res_text"})", false},
        {R"({"mode":"result_scalar"})", false},
        {R"({"mode":"garbage"})", false},
        {R"({"mode":"empty"})", false},
        {R"({"mode":"drop"})", false},
        {R"({"mode":"partial"})", false},
        {R"({"mode":"huge"})", false},
        {R"({"mode":"raw","raw":"[{\"result\":{\"res\":true}}]"})", false},
    };
    std::wstring logPath = folder_ / L"reporter.log";
    GetLog()->Init(logPath);
    auto reporter = Reporter();
    for (const Case& c : cases) {
        ResetService(UploadStatsUrl());
        SetBehaviour(UploadStatsUrl(), c.behaviour);
        EXPECT_EQ(reporter->UploadReport(UploadStatsUrl() + "/api/common_json_post/", "{\"a\":1}", "", ""),
                  c.accepted)
            << c.behaviour;
        EXPECT_EQ(Reports().size(), 1u) << c.behaviour;
    }
    // Each failure leaves one line in the install log, without the reply.
    std::string log = testing_support::ReadFileBytes(logPath);
    EXPECT_THAT(log, ::testing::HasSubstr("InstallStatsReporter: report not accepted, reply of 41 bytes"));
    EXPECT_THAT(log, ::testing::HasSubstr("InstallStatsReporter: report not sent, curl 52: "));
    EXPECT_THAT(log, ::testing::HasSubstr("InstallStatsReporter: report not sent, curl 23: "));  // over the reply cap
    EXPECT_THAT(log, ::testing::Not(::testing::HasSubstr("rejected")));
}

// Ten tries 500 ms apart as the start thread makes them, each asking the
// analytics service again; a service that accepts the fourth stops them there.
TEST_F(UploadTest, RetriesAndTheirBound) {
    auto reporter = Reporter();
    SetBehaviour(UploadStatsUrl(), R"({"mode":"refuse"})");
    auto start = Clock::now();
    EXPECT_EQ(TenTries([&] { return reporter->SendStartReport(); }), 0);
    double seconds = SecondsSince(start);
    EXPECT_EQ(Reports().size(), 10u);
    EXPECT_EQ(Requests(UploadAnalyticsUrl()).size(), 10u);
    EXPECT_GE(seconds, 5.0);  // the tenth failure still sleeps
    EXPECT_LT(seconds, 15.0);

    ResetService(UploadStatsUrl());
    SetBehaviour(UploadStatsUrl(), R"({"fail_first":3,"fail_mode":"refuse"})");
    EXPECT_EQ(TenTries([&] { return reporter->SendStartReport(); }), 4);
    EXPECT_EQ(Reports().size(), 4u);
}

// Closing with a service that accepts connections and never answers: all ten
// finish tries together end within the finish budget plus the pauses.
TEST_F(UploadTest, StalledServicesBoundTheFinishReport) {
    SetBehaviour(UploadStatsUrl(), R"({"mode":"stall","stall_ms":60000})");
    SetBehaviour(UploadAnalyticsUrl(), R"({"mode":"stall","stall_ms":60000})");
    auto reporter = Reporter();
    reporter->MarkWorkStarted();
    auto start = Clock::now();
    EXPECT_EQ(TenTries([&] { return reporter->SendFinishReport(InstallOptionFlags()); }), 0);
    double seconds = SecondsSince(start);
    double budget = static_cast<double>(InstallStatsReporter::kFinishReportBudget.count());
    EXPECT_GE(seconds, budget - 0.5);
    EXPECT_LT(seconds, budget + 5.0 + 2.0);
    EXPECT_LE(Reports().size(), 1u);
}

// The finish report takes its status word once: an install that ends while
// the report fetches its client data changes neither the word in the report
// nor the parts that go with it, so the two always agree.
TEST_F(UploadTest, FinishReportTakesItsStatusWordOnce) {
    SetBehaviour(UploadAnalyticsUrl(), R"({"mode":"stall","stall_ms":1500,"after_stall":"ok"})");
    auto reporter = Reporter();
    reporter->MarkWorkStarted();
    reporter->OnDownloadStart();
    DownloadStatsRecord download;
    download.bSucceeded = true;
    reporter->OnDownloadFinished(download);
    reporter->OnInstallStart();
    std::thread worker([&] {
        // The install worker fails the package phase while the close handler reports.
        Sleep(500);
        reporter->OnInstallFinished(InstallResultRecord());
    });
    const bool sent = reporter->SendFinishReport(InstallOptionFlags());
    worker.join();
    ASSERT_TRUE(sent);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    std::string status = "<missing>";
    for (const Leaf& leaf : Leaves(reports[0]))
        if (leaf.path == "install.install_status") status = leaf.value;
    EXPECT_EQ(status, "install_cancel");
    EXPECT_THAT(PartNames(reports[0]), ElementsAre("index", "json_data"));
    // Asked now, the run has failed its install.
    EXPECT_EQ(reporter->GetInstallStatus(), "install_fail");
}

// A stalled analytics service costs the report its client data, not the report.
TEST_F(UploadTest, StalledAnalyticsLeavesTimeForTheUpload) {
    SetBehaviour(UploadAnalyticsUrl(), R"({"mode":"stall","stall_ms":60000})");
    auto reporter = Reporter();
    auto start = Clock::now();
    ASSERT_TRUE(reporter->SendStartReport());
    double seconds = SecondsSince(start);
    double fetch = static_cast<double>(InstallStatsReporter::kStartFetchBudget.count());
    EXPECT_GE(seconds, fetch - 0.5);
    EXPECT_LT(seconds, fetch + 3.0);

    // No client data yet: the finish report asks again and still gets through in its budget.
    start = Clock::now();
    ASSERT_TRUE(reporter->SendFinishReport(InstallOptionFlags()));
    EXPECT_LT(SecondsSince(start), static_cast<double>(InstallStatsReporter::kFinishReportBudget.count()));
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_THAT(TopKeys(Leaves(reports[1])), ElementsAre("app", "install"));
}

// Nothing listens: each try fails at once and the ten tries take their pauses.
TEST_F(UploadTest, UnreachableServicesFailFast) {
    InstallStatsParams params = Params(logPath_);
    params.strWebStatsUrl = UnusedUrl();
    InstallStatsReporter reporter(UnusedUrl() + "/api/common_json_post/", params);
    auto start = Clock::now();
    EXPECT_EQ(TenTries([&] { return reporter.SendStartReport(); }), 0);
    EXPECT_EQ(TenTries([&] { return reporter.SendFinishReport(InstallOptionFlags()); }), 0);
    // Twenty refused connections, not twenty time-outs; the margin is for
    // a machine that runs the suite under emulation and full load.
    EXPECT_LT(SecondsSince(start), 45.0);
}

// Without client data the report holds "app" and "install" alone; a cache
// file holding a non-object does not cost the report its keys.
TEST_F(UploadTest, ReportWithoutUsableClientData) {
    for (const char* cache : {"", "[1,2,3]", "42", "{broken"}) {
        ResetService(UploadStatsUrl());
        ResetService(UploadAnalyticsUrl());
        SetBehaviour(UploadAnalyticsUrl(), R"({"mode":"drop"})");
        std::wstring cachePath = folder_ / L"5d0c6f2e-8a4b-4c71-9e3d-b27f14a6c958";
        if (*cache)
            ASSERT_TRUE(WriteFileBytes(cachePath, cache));
        else
            DeleteFileW(cachePath.c_str());
        auto reporter = Reporter();
        ASSERT_TRUE(reporter->SendStartReport()) << cache;
        auto reports = Reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_THAT(TopKeys(Leaves(reports[0])), ElementsAre("app", "install")) << "cache '" << cache << "'";
    }
}

// The real services are reached over HTTPS: both transfers work through
// Schannel against a self-signed certificate for another host name, as the
// peer is not verified.
TEST_F(UploadTest, ReportsOverHttps) {
    ResetService(UploadStatsTlsUrl());
    ResetService(UploadAnalyticsTlsUrl());
    SetBehaviour(UploadAnalyticsTlsUrl(), kClientData);
    InstallStatsParams params = Params(logPath_);
    params.strWebStatsUrl = UploadAnalyticsTlsUrl();
    InstallStatsReporter reporter(UploadStatsTlsUrl() + "/api/common_json_post/", params);
    ASSERT_TRUE(reporter.SendStartReport());
    auto reports = Requests(UploadStatsTlsUrl());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(TopKeys(Leaves(reports[0])), ElementsAre("api_version", "user_info", "app", "install"));
    EXPECT_EQ(Requests(UploadAnalyticsTlsUrl()).size(), 1u);
}

// The two offered uploads: the crash report with its file, the user record
// as a single part whose reply is handed back.
TEST_F(UploadTest, CrashReportAndUserInfo) {
    auto reporter = Reporter();
    CrashReportInfo crash;
    EXPECT_FALSE(reporter->SendCrashReport(crash));  // no URL: nothing sent
    crash.strUrl = UploadStatsUrl() + "/api/common_json_post/";
    crash.strFilePath = WideToUtf8(logPath_);
    crash.strProductKey = "orvane";
    ASSERT_TRUE(reporter->SendCrashReport(crash));
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(PartNames(reports[0]), ElementsAre("index", "json_data", "upload_type", "upload_file"));
    EXPECT_EQ(Text(Part(reports[0], "upload_type"), "text"), "crash");
    EXPECT_THAT(Text(reports[0], "flat"), ::testing::HasSubstr("install.uuid\ts\t0000\ninstall.id\ts\torvane\n"
                                                               "install.install_status\ts\tcrash"));

    ResetService(UploadStatsUrl());
    UserInfoUpload user;
    user.strUrl = UploadStatsUrl() + "/user";
    user.strMachineId = "m-1";
    user.strEmail = "a@b.example";
    user.strDomain = "tarvex.example";
    ASSERT_TRUE(reporter->UploadUserInfo(user));
    EXPECT_EQ(user.strReply, "{\"result\":{\"res\":true},\"msg\":\"saved\"}");
    reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(PartNames(reports[0]), ElementsAre("json_data"));
    EXPECT_EQ(Text(Part(reports[0], "json_data"), "text"),
              "{\"machine_id\":\"m-1\",\"email\":\"a@b.example\",\"domain\":\"tarvex.example\"}");
}

// A run closed before any download: 0 download seconds, status "cancel".
TEST_F(UploadTest, ClosedBeforeInstallReportsCancel) {
    auto reporter = Reporter();
    ASSERT_TRUE(reporter->SendStartReport());
    Sleep(1100);
    ASSERT_TRUE(reporter->SendFinishReport(InstallOptionFlags()));
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    std::string flat = Text(reports[1], "flat");
    EXPECT_THAT(flat, ::testing::HasSubstr("install.install_status\ts\tcancel\n"));
    EXPECT_THAT(flat, ::testing::HasSubstr("install.download_second\ti\t0\ninstall.download_time_string\ts\t00:00:00\n"));
    // At least the second slept; a loaded machine may add one more.
    const bool oneSecond = flat.find("install.app_run_second\ti\t1\ninstall.app_runtime_string\ts\t00:00:01\n") != std::string::npos;
    const bool twoSeconds = flat.find("install.app_run_second\ti\t2\ninstall.app_runtime_string\ts\t00:00:02\n") != std::string::npos;
    EXPECT_TRUE(oneSecond || twoSeconds) << flat;
    EXPECT_THAT(PartNames(reports[1]), ElementsAre("index", "json_data"));
}

}  // namespace
