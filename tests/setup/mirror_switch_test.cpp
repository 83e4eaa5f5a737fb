// The finish report's account of the fallback mirror: a download from three
// regular mirrors (NET.6, .7 and .9, the mirrors' own server, steered by the
// scenario file) and the fallback (NET.8). When the regular mirrors all let
// the download down in one way, the ranges move to the fallback for that
// reason: its word stands on the used mirrors' entries and its flag in the
// finish object, as the statistics service reads them.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "InstallStatsReporter.h"
#include "JFile.h"
#include "Log.h"
#include "Orvane.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "SetupDlg.h"
#include "TestSupport.h"
#include "Text.h"

using namespace testing_support;

namespace {

std::wstring MirrorDir() { return FromUnixPath(INSTALL_MIRROR_DIR); }
const int kRegularHosts[] = {6, 7, 9};

std::string Host(int n) { return std::string(INSTALL_MIRROR_NET) + "." + std::to_string(n); }

void WriteScenario(const std::string& json) {
    std::ofstream(ToUnixPath(MirrorDir() + L"\\scenario.json"), std::ios::binary | std::ios::trunc) << json;
}

// The text value after "key":" from position from on; "(none)" when missing.
std::string ValueAfter(const std::string& text, size_t from, const std::string& key) {
    const std::string marker = "\"" + key + "\":\"";
    const size_t at = from == std::string::npos ? std::string::npos : text.find(marker, from);
    if (at == std::string::npos) return "(none)";
    const size_t begin = at + marker.size();
    return text.substr(begin, text.find('"', begin) - begin);
}

class MirrorSwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = scratch_ / L"install.log";
        GetLog()->Init(log_);
    }
    void TearDown() override {
        WriteScenario("{}");
        if (HasFailure()) printf("---- install log ----\n%s\n", ReadFileBytes(log_).c_str());
        for (const wchar_t* name : {L"orvane.exe", L"winebrowser.exe"})
            for (int i = 0; i < 8 && KillProcessByName(name, 2000) > 0; ++i) {
            }
    }
    ScratchFolder scratch_{L"switch"};
    std::wstring log_;
};

// Regular mirrors that refuse every range: the ranges move to the fallback,
// each move is reported by the word "fail," on the entry of the mirror the
// range left (no other word on any entry), the failure flag is set and the
// other three are not, and the fallback finished the download.
//
// The other reasons are not shown here. A stall: libcurl's low-speed limit
// (5 s) fails a stalled range before the dispatcher's stall limit (6 s) would
// move it, so a stall reaches the report as a failure. A repair or a split
// moves to the fallback only when no regular mirror is usable at that moment,
// which these mirrors cannot bring about on cue.
TEST_F(MirrorSwitchTest, RangesMovedToTheFallbackAreReportedAsFailures) {
    std::string scenario;
    for (int host : kRegularHosts)
        scenario += (scenario.empty() ? "{\"" : ",\"") + Host(host) + "\": {\"reset_after\":0}";
    WriteScenario(scenario + "}");
    std::wstring downloads;
    GetDownloadsPath(downloads, ProductConfig::GetProductFolderW(), nullptr, 0);
    RemoveTree(downloads);
    g_bDownloadDone = false;
    g_bNoDownloadNeeded = false;
    InstallStatsReporter reporter("http://127.0.0.1:9/", InstallStatsParams{});
    Orvane dlg;
    dlg.pReporter = &reporter;
    dlg.eInstall = E_Install_Working;
    const std::wstring folder = scratch_ / L"Orvane";
    CreateDirectories(folder);
    dlg.SetInstallFolder(folder);
    dlg.DoInstall();
    dlg.pReporter = nullptr;

    EXPECT_TRUE(dlg.bDownloadFinished.load()) << "the fallback finished the download";
    const std::string report = reporter.BuildInstallObject(InstallOptionFlags()).ToString();
    const size_t used = report.find("\"used_url_info\":[");
    ASSERT_NE(used, std::string::npos) << report;
    int moved = 0;
    for (int host : kRegularHosts) {
        const size_t entry = report.find("\"domain\":\"" + Host(host) + "\"", used);
        if (entry == std::string::npos) continue;  // the mirror carried no range
        const std::string reason = ValueAfter(report, entry, "switch_amazon_reason");
        EXPECT_EQ(ValueAfter(report, entry, "switch_amazon"), reason.empty() ? "false" : "true") << Host(host);
        if (reason.empty()) continue;
        ++moved;
        EXPECT_EQ(reason, "fail,") << Host(host) << "\n" << report;
    }
    EXPECT_GE(moved, 1) << "no mirror's entry names the move\n" << report;
    EXPECT_EQ(ValueAfter(report, 0, "fail_use_amazom"), "true");
    for (const char* flag : {"repair_use_amazom", "timeout_use_amazom", "success_use_amazom"})
        EXPECT_EQ(ValueAfter(report, 0, flag), "false") << flag;
    EXPECT_TRUE(dlg.bUsingFallback.load()) << "the fallback carried the download";
}

}  // namespace
