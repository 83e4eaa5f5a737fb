// The main dialog's start as the statistics service, the registry and the
// user see it: the start report's tries against a failing service, the
// version digits and product figures the start report carries, and the
// settings flag the last install stored, read back into the log and the two
// option boxes. The program carries the product definition of a build for
// the local mirrors, reporting to the reporter tests' loopback services.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "InstallStatsReporter.h"
#include "Log.h"
#include "ProductInfo.h"
#include "Registry.h"
#include "ReportTestSupport.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "SkinTestUtil.h"
#include "SystemInfo.h"
#include "TestSupport.h"
#include "Text.h"

using namespace report_test;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

const char kClientData[] =
    R"({"data":{"api_version":3,"user_info":{"token_id":"tok-1","email":""},"download_info":[]}})";

// The dialog as the installer runs it, without the finish report on close
// (the service's records then hold the start reports alone).
class StartDialog : public SetupDlg {
public:
    int SendFinishReport() override { return 0; }
};

StartDialog* g_dialog = nullptr;

INT_PTR CALLBACK StartDialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_dialog ? g_dialog->DialogProc(wnd, message, wParam, lParam) : 0;
}

// Runs the dialog modally on this thread; inspect runs on another once its
// window shows, and the dialog is closed after it.
void RunDialog(StartDialog& dialog, const std::function<void(HWND)>& inspect) {
    g_nCountdown = 30;
    g_bAutoStarted = false;
    g_dialog = &dialog;
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND wnd = skin_test::FindThreadDialog(uiThread, 15000);
        EXPECT_NE(wnd, nullptr) << "the dialog never showed";
        if (!wnd) return;
        inspect(wnd);
        PostMessageW(wnd, WM_CLOSE, 0, 0);
    });
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, StartDialogProc, 0);
    driver.join();
    EXPECT_TRUE(dialog.StopThreads(15000));
    g_dialog = nullptr;
}

// Waits (bounded) until the statistics service holds count reports.
std::vector<CJsonObject> WaitForReports(size_t count, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    std::vector<CJsonObject> reports = Requests(UploadStatsUrl());
    while (reports.size() < count && GetTickCount() - start < timeoutMs) {
        Sleep(100);
        reports = Requests(UploadStatsUrl());
    }
    return reports;
}

std::string LeafValue(const CJsonObject& report, const std::string& path) {
    for (const Leaf& leaf : Leaves(report))
        if (leaf.path == path) return leaf.value;
    return "(none)";
}

// The uninstall key of the product this Windows gets.
std::string NativeEntryKey() { return Is64BitWindows() ? "Orvane (x64)" : "Orvane"; }

class DialogStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetService(UploadStatsUrl());
        ResetService(UploadAnalyticsUrl());
        SetBehaviour(UploadAnalyticsUrl(), kClientData);
        // The reporter keeps its client data cache in the current directory.
        GetCurrentDirectoryW(MAX_PATH, previous_);
        ASSERT_TRUE(SetCurrentDirectoryW(scratch_.path().c_str()));
        log_ = scratch_ / L"install.log";
        GetLog()->Init(log_);
    }
    void TearDown() override {
        SetCurrentDirectoryW(previous_);
        CreateProductInfo(GetProductInfo(), Is64BitWindows() ? 1 : 0);
        DeleteUninstallItem(NativeEntryKey());
    }

    InstallStatsParams Params() const {
        InstallStatsParams params;
        params.strUuid = "00112233445566778899AABBCCDDEEFF";
        params.strProductKey = "orvane";
        params.strVersion = "2005";
        params.strLogPath = WideToUtf8(log_);
        params.strDomain = "tarvex.example";
        params.strClientId = "204";
        params.strProductName = "Orvane";
        params.strLangCode = "ENU";
        params.strWebStatsUrl = UploadAnalyticsUrl();
        return params;
    }

    ScratchFolder scratch_{L"dialogstart"};
    std::wstring log_;
    wchar_t previous_[MAX_PATH] = {};
};

// The start thread tries ten times, half a second apart, and stops at the
// first report the service accepts.
TEST_F(DialogStartTest, TheStartReportTriesTenTimesAndStopsWhenAccepted) {
    struct Case {
        const char* behaviour;
        size_t reports;
        double leastSeconds;  // the pauses between the tries
    };
    const Case cases[] = {
        {R"({"mode":"refuse"})", 10, 4.5},
        {R"({"fail_first":3,"fail_mode":"refuse"})", 4, 1.5},
        {R"({})", 1, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        ResetService(UploadStatsUrl());
        SetBehaviour(UploadStatsUrl(), c.behaviour);
        InstallStatsReporter reporter(UploadStatsUrl() + "/api/common_json_post/", Params());
        const auto start = Clock::now();
        StartReportThreadProc(&reporter);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_EQ(Requests(UploadStatsUrl()).size(), c.reports);
        EXPECT_GE(seconds, c.leastSeconds);
    }
}

// The start report of each product: the version label's digits without
// dots, the product's client id and bitness.
TEST_F(DialogStartTest, TheStartReportCarriesTheVersionDigitsAndTheProductsFigures) {
    struct Case {
        int is64;
        const char* clientId;
        const char* type;
    };
    for (const Case& c : {Case{1, "204", "x64"}, Case{0, "203", "x86"}}) {
        SCOPED_TRACE(c.type);
        ResetService(UploadStatsUrl());
        CreateProductInfo(GetProductInfo(), c.is64);
        StartDialog dialog;
        std::vector<CJsonObject> reports;
        RunDialog(dialog, [&](HWND) { reports = WaitForReports(1, 20000); });
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(LeafValue(reports[0], "install.install_status"), "start");
        EXPECT_EQ(LeafValue(reports[0], "app.version"), "2005") << "from \"" << VersionText << "\"";
        EXPECT_EQ(LeafValue(reports[0], "app.client_id"), c.clientId);
        EXPECT_EQ(LeafValue(reports[0], "app.type"), c.type);
        EXPECT_EQ(LeafValue(reports[0], "app.id"), "orvane");
    }
}

// The flag the last install stored under the product's uninstall key is read
// at the start, logged, and presets the desktop-shortcut box (bit 1) and the
// programme box (bit 2); no stored flag checks both.
TEST_F(DialogStartTest, TheStoredSettingsFlagIsLoggedAndPresetsTheBoxes) {
    struct Case {
        int stored;  // -1: no value stored
        bool desktop, join;
    };
    const Case cases[] = {{-1, true, true}, {0, false, false}, {1, true, false}, {2, false, true}, {3, true, true}};
    const std::string key = NativeEntryKey();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        DeleteUninstallItem(key);
        if (c.stored >= 0) ASSERT_TRUE(SetUninstallItemDword(key, "cfg_flag", c.stored));
        DeleteFileW(log_.c_str());
        StartDialog dialog;
        bool desktop = false, join = false;
        RunDialog(dialog, [&](HWND) {
            ASSERT_NE(dialog.pChkDesktop, nullptr);
            ASSERT_NE(dialog.pChkJoin, nullptr);
            desktop = dialog.pChkDesktop->GetCheck() != 0;
            join = dialog.pChkJoin->GetCheck() != 0;
        });
        EXPECT_EQ(desktop, c.desktop);
        EXPECT_EQ(join, c.join);
        const std::string line = "Read Setup Cfg Flag : " + std::to_string(c.stored) + ", root(" + key +
                                 "), key(cfg_flag).";
        EXPECT_NE(ReadFileBytes(log_).find(line), std::string::npos) << line << "\nlog:\n" << ReadFileBytes(log_);
    }
}

}  // namespace
