// The reporter's state, status word, product class and report documents,
// built without a network.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <regex>
#include <thread>

#include "InstallStatsReporter.h"
#include "SystemInfo.h"

namespace {

InstallStatsParams SampleParams() {
    InstallStatsParams params;
    params.strUuid = "0123456789ABCDEF0123456789ABCDEF";
    params.strProductKey = "orvane";
    params.strOption = "summer_sale";
    params.strSource = "mail_news";
    params.strVersion = "2501";
    params.strLogPath = "C:\\nowhere\\install.log";
    params.strDomain = "tarvex.example";
    params.strClientId = "204";
    params.strProductName = "Orvane";
    params.bIs64Product = true;
    params.bIs64System = true;
    params.strLangCode = "ENU";
    return params;
}

// The local time and the system language vary; everything else is fixed.
std::string Normalised(std::string text) {
    text = std::regex_replace(text, std::regex(R"("localtime":"\d{4}-\d{2}-\d{2}_\d{2}:\d{2}:\d{2}")"),
                              R"("localtime":"T")");
    return text;
}

std::string SystemLanguage() {
    char language[32] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, language, sizeof(language));
    return language;
}

UrlStatsRecord Mirror(const char* host, bool valid, int ping, bool pingOk, bool notFull, int64_t cfg, int64_t web) {
    UrlStatsRecord url;
    url.strUrl = std::string("https://") + host + "/orvane.exe";
    url.strHost = host;
    url.bValid = valid;
    url.nPingMs = ping;
    url.bPingOk = pingOk;
    url.bNetworkNotFull = notFull;
    url.llCfgSize = cfg;
    url.llWebSize = web;
    return url;
}

TEST(ReportFormatters, DurationsAcrossTheTickCounterWrap) {
    struct Case { DWORD start, end; int32_t seconds; };
    for (const Case& c : {Case{1000, 4999, 3}, Case{0xFFFFF000u, 0x00001000u, 8}, Case{0xFFFFFFFFu, 999, 1},
                          Case{0, 5000, 0}, Case{5000, 0, 0}, Case{5000, 2000, -3}})
        EXPECT_EQ(DurationSeconds(c.start, c.end), c.seconds) << c.start << " to " << c.end;
}

TEST(ReportFormatters, DurationAndSpeedTexts) {
    struct Case { int32_t seconds; const char* text; };
    for (const Case& c : {Case{3725, "01:02:05"}, Case{360000, "100:00:00"}, Case{-5, ""}, Case{0, "00:00:00"},
                          Case{59, "00:00:59"}})
        EXPECT_EQ(FormatDuration(c.seconds), c.text) << c.seconds;

    struct Speed { int32_t bytes; const char* text; };
    for (const Speed& s : {Speed{1536, "1.50KB"}, Speed{512, "512Byte"}, Speed{3145728, "3.00MB"},
                           Speed{1024, "1024Byte"}, Speed{1048576, "1024.00KB"}, Speed{0, "0Byte"},
                           Speed{-7, "-7Byte"}})
        EXPECT_EQ(InstallStatsReporter::FormatSpeed(s.bytes), s.text) << s.bytes;

    EXPECT_TRUE(std::regex_match(InstallStatsReporter::GetLocalTimeText(),
                                 std::regex(R"(\d{4}-\d{2}-\d{2}_\d{2}:\d{2}:\d{2})")));
}

void Downloaded(InstallStatsReporter& reporter, bool succeeded) {
    reporter.MarkWorkStarted();
    reporter.OnDownloadStart();
    DownloadStatsRecord record;
    record.bSucceeded = succeeded;
    reporter.OnDownloadFinished(record);
}

TEST(ReportStatus, WordOfEachRunShape) {
    struct Case {
        const char* name;
        std::function<void(InstallStatsReporter&)> run;
        const char* word;
    };
    const Case cases[] = {
        {"closed before install", [](InstallStatsReporter&) {}, "cancel"},
        {"work never marked, download done",
         [](InstallStatsReporter& r) {
             r.OnDownloadStart();
             r.OnDownloadFinished(DownloadStatsRecord());
         },
         "cancel"},
        {"download never finished",
         [](InstallStatsReporter& r) {
             r.MarkWorkStarted();
             r.OnDownloadStart();
         },
         "donwload_cancel"},
        {"installed",
         [](InstallStatsReporter& r) {
             Downloaded(r, true);
             r.OnInstallStart();
             InstallResultRecord result;
             result.bSucceeded = true;
             r.OnInstallFinished(result);
         },
         "success"},
        {"closed while installing",
         [](InstallStatsReporter& r) {
             Downloaded(r, true);
             r.OnInstallStart();
         },
         "install_cancel"},
        {"package phase failed",
         [](InstallStatsReporter& r) {
             Downloaded(r, true);
             r.OnInstallStart();
             r.OnInstallFinished(InstallResultRecord());
         },
         "install_fail"},
        {"download failed", [](InstallStatsReporter& r) { Downloaded(r, false); }, "downLoad_fail"},
        {"failed download record only",
         [](InstallStatsReporter& r) {
             r.MarkWorkStarted();
             r.OnDownloadFinished(DownloadStatsRecord());
         },
         "downLoad_fail"},
        {"second attempt after a failed download succeeds",
         [](InstallStatsReporter& r) {
             Downloaded(r, false);
             Downloaded(r, true);
             r.OnInstallStart();
             InstallResultRecord result;
             result.bSucceeded = true;
             r.OnInstallFinished(result);
         },
         "success"},
    };
    for (const Case& c : cases) {
        InstallStatsReporter reporter("http://127.0.0.1:9/", SampleParams());
        c.run(reporter);
        EXPECT_EQ(reporter.GetInstallStatus(), c.word) << c.name;
    }
}

// On a clock the test moves, so the seconds are exact however busy the
// machine is; the clock starts just before the counter's wrap.
TEST(ReportStatus, CancelledDownloadEndsAtTheQuery) {
    InstallStatsReporter reporter("http://127.0.0.1:9/", SampleParams());
    std::atomic<DWORD> now{0xFFFFFF00u};
    reporter.SetTickSource([&now] { return now.load(); });
    reporter.MarkWorkStarted();
    reporter.OnDownloadStart();
    now += 1100;
    EXPECT_EQ(reporter.GetInstallStatus(), "donwload_cancel");
    CJsonObject install = reporter.BuildInstallObject(InstallOptionFlags());
    int32_t seconds = -1;
    ASSERT_TRUE(install.Get("download_second", seconds));
    EXPECT_EQ(seconds, 1);
    // Each query moves the end on.
    now += 1000;
    reporter.GetInstallStatus();
    ASSERT_TRUE(reporter.BuildInstallObject(InstallOptionFlags()).Get("download_second", seconds));
    EXPECT_EQ(seconds, 2);
}

// Each phase's seconds run from its own start stamp to its end stamp: a
// finished download from OnDownloadStart to OnDownloadFinished, an install
// closed half-way from OnInstallStart to the report that finds it cancelled.
TEST(ReportStatus, PhaseSecondsRunFromTheirOwnStamps) {
    InstallStatsReporter reporter("http://127.0.0.1:9/", SampleParams());
    reporter.MarkWorkStarted();
    const DWORD downloadStart = GetTickCount();
    reporter.OnDownloadStart();
    Sleep(1100);
    DownloadStatsRecord record;
    record.bSucceeded = true;
    reporter.OnDownloadFinished(record);
    const int32_t downloadMost = static_cast<int32_t>((GetTickCount() - downloadStart) / 1000);
    const DWORD installStart = GetTickCount();
    reporter.OnInstallStart();
    Sleep(1100);
    // No status query before the report: the report's own one ends the install.
    CJsonObject install = reporter.BuildInstallObject(InstallOptionFlags());
    const int32_t installMost = static_cast<int32_t>((GetTickCount() - installStart) / 1000);
    std::string status;
    int32_t download = -1, installSeconds = -1;
    ASSERT_TRUE(install.Get("install_status", status));
    ASSERT_TRUE(install.Get("download_second", download));
    ASSERT_TRUE(install.Get("install_second", installSeconds));
    EXPECT_EQ(status, "install_cancel");
    // At least the time slept, at most the time the phase took here.
    EXPECT_GE(download, 1);
    EXPECT_LE(download, downloadMost);
    EXPECT_GE(installSeconds, 1);
    EXPECT_LE(installSeconds, installMost);
}

TEST(ReportStatus, ProductClassOfEachClientId) {
    struct Case { const char* id; int32_t product; };
    for (const Case& c : {Case{"57", 1}, Case{"58", 1}, Case{"48", 2}, Case{"49", 2}, Case{"31", 3},
                          Case{"203", 4}, Case{"204", 4}, Case{"92", 7}, Case{"90", 6}, Case{"", 0},
                          Case{"2040", 0}, Case{" 204", 0}}) {
        InstallStatsParams params = SampleParams();
        params.strClientId = c.id;
        InstallStatsReporter reporter("", params);
        EXPECT_EQ(reporter.GetProductClass(), c.product) << "client id '" << c.id << "'";
    }
    EXPECT_EQ(InstallStatsReporter().GetProductClass(), 0);
}

TEST(ReportDocuments, AppAndStartObjects) {
    InstallStatsReporter reporter("", SampleParams());
    EXPECT_EQ(reporter.BuildAppObject().ToString(),
              "{\"language\":\"ENU\",\"system_version\":\"" + GetWindowsVersionName() +
                  "\",\"id\":\"orvane\",\"type\":\"x64\",\"version\":\"2501\",\"client_id\":\"204\","
                  "\"app_name\":\"Orvane\"}");
    EXPECT_EQ(Normalised(reporter.BuildStartInstallObject().ToString()),
              "{\"uuid\":\"0123456789ABCDEF0123456789ABCDEF\",\"option\":\"summer_sale\",\"source\":\"mail_news\","
              "\"system_type\":\"x64\",\"localtime\":\"T\",\"install_status\":\"start\"}");

    InstallStatsParams params = SampleParams();
    params.bIs64Product = false;
    params.bIs64System = false;
    InstallStatsReporter x86("", params);
    EXPECT_THAT(x86.BuildAppObject().ToString(), ::testing::HasSubstr("\"type\":\"x86\""));
    EXPECT_THAT(x86.BuildStartInstallObject().ToString(), ::testing::HasSubstr("\"system_type\":\"x86\""));
}

// A run whose download failed: every key in order, yes/no values as strings,
// curl_error and last_fail_link right after repair_link, and the mirror arrays
// with their summaries.
TEST(ReportDocuments, FinishObjectOfAFailedDownload) {
    InstallStatsReporter reporter("", SampleParams());
    reporter.MarkWorkStarted();
    reporter.OnDownloadStart();
    reporter.SetProgress(42, 1536, 3145728, true);
    DownloadStatsRecord record;
    record.vecAllUrls.push_back(Mirror("a.example", true, 12, true, true, 10 * 1024 * 1024, 10 * 1024 * 1024));
    record.vecAllUrls.push_back(Mirror("b.example", false, 0, false, false, 10 * 1024 * 1024, -1));
    UrlStatsRecord used = Mirror("a.example", true, 12, true, true, 10 * 1024 * 1024, 10 * 1024 * 1024);
    used.llDownloadKB = 4096;
    used.strSwitchReasons = "timeOut,repair,";
    record.vecUsedUrls.push_back(used);
    UrlStatsRecord idle = Mirror("c.example", true, 30, true, false, 2048, 2048);
    record.vecUsedUrls.push_back(idle);
    record.dFallbackSizeKB = 12.9;
    record.bSucceeded = false;
    record.nErrorCode = 8;
    record.strErrorName = "CheckHashError";
    record.nCurlError = 28;
    record.strLastFailLink = "https://a.example/orvane.exe";
    record.strRepairLink = "https://c.example/orvane.exe";
    record.bSwitchRepair = true;
    record.bSwitchTimeout = true;
    reporter.OnDownloadFinished(record);

    InstallOptionFlags flags;
    flags.bAutoInstall = true;
    std::string text = Normalised(reporter.BuildInstallObject(flags).ToString());
    std::string expected =
        "{\"data_version\":1022,\"uuid\":\"0123456789ABCDEF0123456789ABCDEF\",\"option\":\"summer_sale\","
        "\"source\":\"mail_news\",\"system_language\":\"" + SystemLanguage() + "\",\"system_type\":\"x64\","
        "\"install_status\":\"downLoad_fail\",\"localtime\":\"T\",\"amazon_download\":\"true\","
        "\"show_thankyou\":\"false\",\"download_last_error\":\"CheckHashError\",\"install_last_error\":\"\","
        "\"download_second\":0,\"download_time_string\":\"00:00:00\",\"install_second\":0,"
        "\"install_time_string\":\"00:00:00\",\"app_run_second\":0,\"app_runtime_string\":\"00:00:00\","
        "\"progress_rate\":42,\"speed_string\":\"1.50KB\",\"average_speed_string\":\"3.00MB\",\"speed\":1536,"
        "\"average_speed\":3145728,\"auto_install\":\"true\",\"run_app\":\"false\",\"change_install_path\":\"false\","
        "\"add_plan\":\"true\",\"create_desktop\":\"true\",\"download_amazom_size_kb\":12,\"version\":\"2501\","
        "\"repair_use_amazom\":\"true\",\"fail_use_amazom\":\"false\",\"timeout_use_amazom\":\"true\","
        "\"success_use_amazom\":\"false\",\"repair_link\":\"https://c.example/orvane.exe\",\"curl_error\":28,"
        "\"last_fail_link\":\"https://a.example/orvane.exe\","
        "\"all_url_info\":[{\"invalid\":1,\"domain\":\"a.example\",\"ping_time\":12,\"ping\":1,\"is_full\":1,"
        "\"cfg_file_size_kb\":10240,\"web_file_size_kb\":10240},{\"invalid\":0,\"domain\":\"b.example\","
        "\"ping_time\":0,\"ping\":0,\"is_full\":0,\"cfg_file_size_kb\":10240,\"web_file_size_kb\":0}],"
        "\"all_url_info_str\":\"(domain-a.example,invalid-1,ping_time-12,ping-1,is_full-0)"
        "(domain-b.example,invalid-0,ping_time-0,ping-0,is_full-1)\","
        "\"used_url_info\":[{\"invalid\":1,\"domain\":\"a.example\",\"ping_time\":12,\"ping\":1,\"is_full\":1,"
        "\"cfg_file_size_kb\":10240,\"web_file_size_kb\":10240,\"download_file_size_kb\":4096,"
        "\"switch_amazon\":\"true\",\"switch_amazon_reason\":\"timeOut,repair,\"},{\"invalid\":1,"
        "\"domain\":\"c.example\",\"ping_time\":30,\"ping\":1,\"is_full\":0,\"cfg_file_size_kb\":2,"
        "\"web_file_size_kb\":2,\"download_file_size_kb\":0,\"switch_amazon\":\"false\","
        "\"switch_amazon_reason\":\"\"}],"
        "\"used_url_info_str\":\"(domain-a.example,invalid-1,ping_time-12,ping-1,is_full-0,download_size-0"
        "switch_amazon-1,switch_amazon_reason-timeOut,repair,)(domain-c.example,invalid-1,ping_time-30,ping-1,"
        "is_full-1,download_size-1switch_amazon-0,switch_amazon_reason-)\"}";
    EXPECT_EQ(text, expected);
}

// A successful run: no curl_error, no last_fail_link, no mirror keys for
// empty lists; the extra pairs close the object in ascending key order.
TEST(ReportDocuments, FinishObjectOfASuccessWithExtras) {
    InstallStatsReporter reporter("", SampleParams());
    reporter.MarkWorkStarted();
    reporter.OnDownloadStart();
    DownloadStatsRecord record;
    record.bSucceeded = true;
    record.nCurlError = 7;
    record.strLastFailLink = "https://never.example/";
    reporter.OnDownloadFinished(record);
    reporter.OnInstallStart();
    InstallResultRecord result;
    result.bSucceeded = true;
    result.bShowThankYou = true;
    result.strLastError = "NoError";
    reporter.OnInstallFinished(result);
    reporter.AddExtraInt("zeta", 1);
    reporter.AddExtraInt("alpha", 2);
    reporter.AddExtraInt("alpha", 3);
    reporter.AddExtraString("beta", "b");
    reporter.AddExtraString("beta", "ignored");

    std::string text = Normalised(reporter.BuildInstallObject(InstallOptionFlags()).ToString());
    EXPECT_THAT(text, ::testing::HasSubstr("\"install_status\":\"success\""));
    EXPECT_THAT(text, ::testing::HasSubstr("\"show_thankyou\":\"true\",\"download_last_error\":\"\","
                                           "\"install_last_error\":\"NoError\""));
    EXPECT_THAT(text, ::testing::HasSubstr("\"auto_install\":\"false\",\"run_app\":\"false\","
                                           "\"change_install_path\":\"false\",\"add_plan\":\"true\","
                                           "\"create_desktop\":\"true\""));
    EXPECT_THAT(text, ::testing::EndsWith("\"repair_link\":\"\",\"alpha\":2,\"zeta\":1,\"beta\":\"b\"}"));
    EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("curl_error")));
    EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("url_info")));
}

// A run that never started a download reports 0 download seconds, not the
// system's uptime; its other durations are 0 as well.
TEST(ReportDocuments, NoDownloadMeansZeroDownloadSeconds) {
    InstallStatsReporter reporter("", SampleParams());
    reporter.MarkWorkStarted();
    CJsonObject install = reporter.BuildInstallObject(InstallOptionFlags());
    int32_t download = -1, installSeconds = -1;
    ASSERT_TRUE(install.Get("download_second", download));
    ASSERT_TRUE(install.Get("install_second", installSeconds));
    EXPECT_EQ(download, 0);
    EXPECT_EQ(installSeconds, 0);
    std::string status;
    ASSERT_TRUE(install.Get("install_status", status));
    EXPECT_EQ(status, "donwload_cancel");
}

TEST(ReportDocuments, CrashAndUserObjects) {
    InstallStatsReporter reporter("", SampleParams());
    std::vector<std::string> macs = GetMacAddressList();
    std::string mac = macs.empty() ? "" : macs.front();
    EXPECT_EQ(reporter.BuildCrashInstallObject("", "orvane").ToString(),
              "{\"data_version\":1022,\"machine_id\":\"" + mac +
                  "\",\"language\":\"ENU\",\"uuid\":\"0000\",\"id\":\"orvane\",\"install_status\":\"crash\"}");
    EXPECT_THAT(reporter.BuildCrashInstallObject("U1", "k").ToString(), ::testing::HasSubstr("\"uuid\":\"U1\""));
    EXPECT_EQ(reporter.BuildUserObject("a@b.example", "tok").ToString(),
              "{\"machine_id\":\"" + GetMachineId() + "\",\"mail\":\"a@b.example\",\"token_id\":\"tok\"}");
}

// The install worker, the painter and the report threads use one reporter at
// once: every report seen is whole (the mirror lists of one record, never a
// torn mixture) and nothing crashes.
TEST(ReportConcurrency, SettersAndReportsFromSeveralThreads) {
    InstallStatsReporter reporter("", SampleParams());
    reporter.MarkWorkStarted();
    std::atomic<bool> stop{false};
    auto writer = [&](int mirrors) {
        DownloadStatsRecord record;
        for (int i = 0; i < mirrors; ++i)
            record.vecAllUrls.push_back(Mirror("mirror.example", true, i, true, true, 1 << 20, 1 << 20));
        record.vecUsedUrls = record.vecAllUrls;
        record.strErrorName = std::string(200, static_cast<char>('a' + mirrors % 26));
        while (!stop) {
            reporter.OnDownloadStart();
            reporter.OnDownloadFinished(record);
            reporter.SetProgress(mirrors, mirrors, mirrors, mirrors % 2 == 0);
        }
    };
    std::thread a(writer, 3), b(writer, 17);
    int checked = 0;
    DWORD end = GetTickCount() + 1500;
    while (GetTickCount() < end) {
        CJsonObject install = reporter.BuildInstallObject(InstallOptionFlags());
        CJsonObject all, used;
        std::string error;
        if (install.Get("all_url_info", all) && install.Get("used_url_info", used) &&
            install.Get("download_last_error", error)) {
            int count = all.GetArraySize();
            EXPECT_TRUE(count == 3 || count == 17) << count;
            EXPECT_EQ(used.GetArraySize(), count);
            EXPECT_EQ(error, std::string(200, static_cast<char>('a' + count % 26)));
            ++checked;
        }
    }
    stop = true;
    a.join();
    b.join();
    EXPECT_GT(checked, 10);
}

}  // namespace
