// Closing the ready page while the start report is on its way: with the
// statistics and analytics services answering, and with both taking the
// request and never answering (a network that drops their replies). The
// dialog ends within its close pause plus the finish report's own bound, with
// every thread joined.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "InstallStatsReporter.h"
#include "ReportTestSupport.h"
#include "road_fixture.h"

using namespace road;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The close pause of the hidden window.
constexpr DWORD kClosePauseMs = 5000;
// What a close may take beyond the pause and the finish report's budget: the
// dialog's own ending and a cancelled transfer noticing its stop.
constexpr DWORD kCloseSlackMs = 2500;

}  // namespace

class ReadyPageCloseTest : public RoadTest {
protected:
    void SetUp() override {
        RoadTest::SetUp();
        report_test::ResetService(ROAD_ANALYTICS_BASE);
    }
    void TearDown() override {
        report_test::ResetService(ROAD_ANALYTICS_BASE);
        RoadTest::TearDown();
    }
};

TEST_F(ReadyPageCloseTest, ClosingTheReadyPageEndsWithinTheBoundWhetherTheServicesAnswerOrNot) {
    const DWORD budgetMs = static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(InstallStatsReporter::kFinishReportBudget).count());
    const struct {
        const char* name;
        bool blackHole;
    } cases[] = {{"answering", false}, {"black-holed", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        report_test::ResetService(ROAD_STATS_BASE);
        report_test::ResetService(ROAD_ANALYTICS_BASE);
        if (c.blackHole) {
            // The request is read and never answered while the case runs.
            const std::string never = "{\"mode\": \"stall\", \"stall_ms\": 60000}";
            SetStatsBehaviour(never);
            report_test::SetBehaviour(ROAD_ANALYTICS_BASE, never);
        }
        const std::string logBefore = LogText();
        RoadDialog dialog;
        DWORD closeTick = 0;
        RunRoad(dialog, [&](HWND wnd) {
            ASSERT_TRUE(WaitForPage(dialog, E_Install_Ready, 10000));
            // The start report is in flight: the analytics service has its
            // client data request, or the statistics service the report.
            ASSERT_TRUE(WaitFor(
                [&] {
                    return c.blackHole ? !report_test::Requests(ROAD_ANALYTICS_BASE).empty()
                                       : !WaitForReport("start", 0).IsEmpty();
                },
                20000));
            closeTick = GetTickCount();
            PostMessageW(wnd, WM_CLOSE, 0, 0);
        });
        // RunRoad has joined every thread of the dialog by now (what the
        // program's exit does before it may end): that is part of the time.
        const DWORD closing = GetTickCount() - closeTick;
        printf("[ figures ] close of the ready page, services %s: %.1f s\n", c.name, closing / 1000.0);
        EXPECT_LT(closing, kClosePauseMs + budgetMs + kCloseSlackMs);
        EXPECT_GE(closing, kClosePauseMs - 100) << "the close keeps its pause";
        const std::string log = LogText().substr(logBefore.size());
        EXPECT_FALSE(Contains(log, "OnClose: a thread is still running.")) << log;
    }
    SetStatsBehaviour("{}");
}
