// The folder chosen at the Install press and the worker the press starts:
// folders the road could not use are refused at once with the folder message
// while the page can still take another folder; a press whose worker cannot
// start leaves the page usable; a start asked while the worker is being
// joined is refused without a second worker or a deadlock.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "LangStrings.h"
#include "SkinMessageBox.h"
#include "SkinTestUtil.h"
#include "Text.h"
#include "dialog_boxes.h"
#include "road_fixture.h"

using namespace road;
using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::WriteFileBytes;
using namespace dialog_boxes;

namespace {

constexpr DWORD kRoadMs = 240000;
constexpr UINT kNestedStartMessage = WM_APP + 71;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Closes the box the press showed; its picture, or empty when none came.
BoxPicture CloseBoxReading(HWND main) {
    const HWND box = FindOtherDialog(main, 8000);
    if (!box) return {};
    Sleep(300);
    BoxPicture shown = MessagePicture(box);
    PostMessageW(box, WM_CLOSE, 0, 0);
    WaitFor([&] { return !IsWindow(box); }, 5000);
    return shown;
}

// Stand-in workers. The held one runs until released (bounded); the
// sending one waits until the dialog joins it, then sends the dialog a
// message whose handler asks for another worker.
UniqueHandle g_release;
std::atomic<HWND> g_dialogWindow{nullptr};
std::atomic<bool> g_sentWhileJoined{false};

unsigned HeldWorker(SetupDlg*) {
    WaitForSingleObject(g_release.get(), 60000);
    return 0;
}

unsigned SendsWhileJoined(SetupDlg* dlg) {
    if (!WaitFor([&] { return dlg->bWorkerJoining.load(); }, 20000)) return 0;
    DWORD_PTR result = 0;
    g_sentWhileJoined =
        SendMessageTimeoutW(g_dialogWindow, kNestedStartMessage, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
    return 0;
}

unsigned EndAtOnce(SetupDlg*) { return 0; }

// The road's dialog with a handler that starts a worker, as any handler
// reached from a sent message might.
class ChoiceDialog : public RoadDialog {
public:
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kNestedStartMessage) {
            nestedStart = StartWorker(EndAtOnce) ? 1 : 0;
            return 1;
        }
        return RoadDialog::OnMessage(message, wParam, lParam);
    }
    std::atomic<int> nestedStart{-1};
};

// The page a refused or unstarted press must leave: ready, the Custom box
// and the version label shown, the road never begun.
void ExpectReadyPage(RoadDialog& dialog, unsigned workersBefore) {
    EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready);
    EXPECT_TRUE(dialog.pChkCustom->IsVisible());
    EXPECT_TRUE(dialog.pStaticVersion->IsVisible());
    EXPECT_EQ(dialog.nWorkersStarted.load(), workersBefore) << "a worker started";
}

std::wstring FullPathOf(const std::wstring& path) {
    wchar_t full[MAX_PATH] = {};
    return GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr) ? full : L"";
}

}  // namespace

class InstallFolderChoiceTest : public RoadTest {};

// Each folder the road could not use brings the folder message at the press
// and leaves the ready page and the disk as they were; a good folder typed
// next installs.
TEST_F(InstallFolderChoiceTest, UnusableFoldersAreRefusedAtThePressAndAGoodOneInstalls) {
    SelectLanguage(L"Orvane", 0);
    const BoxPicture folderMessage = ExpectedMessagePicture(31);
    ASSERT_FALSE(folderMessage.empty());
    ASSERT_NE(folderMessage, ExpectedMessagePicture(32));

    const std::wstring file = Folder(L"a file.txt");
    ASSERT_TRUE(WriteFileBytes(file, "not a folder"));
    const std::wstring taken = Folder(L"Taken");
    ASSERT_TRUE(CreateDirectoryW(taken.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(taken + L"\\notes.txt", "the user's"));
    const std::wstring good = Folder(L"Programs\\Orvane");

    ChoiceDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        const std::wstring sub = NarrowToWide(PackageHeader::FieldText(dialog.packageHeader.installFolderName));
        ASSERT_FALSE(sub.empty());
        ASSERT_TRUE(CreateDirectoryW((taken + L"\\" + sub).c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(taken + L"\\" + sub + L"\\notes.txt", "the user's too"));
        const struct {
            const char* name;
            std::wstring folder;
            const char* logged;
        } cases[] = {
            {"drive-relative", L"C:Tarvex Choice\\Orvane", "not a full path"},
            {"relative", L"Tarvex Choice\\Orvane", "not a full path"},
            {"rooted without a drive", L"\\Tarvex Choice\\Orvane", "not a full path"},
            {"a device path", L"\\\\?\\" + good, "not a full path"},
            {"an existing file", file, "a file, not a folder"},
            {"it and its product folder hold other files", taken, "holds other files"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const std::wstring full = FullPathOf(c.folder);
            const bool existed = FolderExists(full);
            const unsigned workers = dialog.nWorkersStarted;
            ChooseFolder(dialog, c.folder);
            PressDesign(wnd, kInstallButton.x, kInstallButton.y);
            EXPECT_EQ(CloseBoxReading(wnd), folderMessage) << "the folder message";
            skin_test::Pump(200);
            ExpectReadyPage(dialog, workers);
            if (!existed) EXPECT_FALSE(FolderExists(full)) << "made " << WideToUtf8(full);
            EXPECT_TRUE(FileExists(file));
            const std::string log = LogText();
            EXPECT_TRUE(Contains(log, "Install Path Info : " + WideToNarrow(c.folder) + " ."));
            EXPECT_TRUE(Contains(log, std::string("Install Path refused : ") + c.logged));
            if (!existed) {
                RemoveDirectoryW(full.c_str());
                RemoveDirectoryW(FullPathOf(c.folder + L"\\..").c_str());
            }
        }

        ChooseFolder(dialog, good);
        PressDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Working, 10000)) << "page " << dialog.eInstall.load();
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        ExpectInstalledIn(good);
    });
}

// A press whose worker cannot start (the one before still runs past the
// bound) gives the ready page back, usable: once the old worker ends, the
// next press installs.
TEST_F(InstallFolderChoiceTest, APressWhoseWorkerCannotStartLeavesTheReadyPage) {
    g_release.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(g_release);
    const std::wstring good = Folder(L"Programs\\Orvane");
    ChoiceDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        ASSERT_TRUE(dialog.StartWorker(HeldWorker));
        const unsigned workers = dialog.nWorkersStarted;
        ChooseFolder(dialog, good);
        PressDesign(wnd, kInstallButton.x, kInstallButton.y);
        EXPECT_TRUE(WaitFor([] { return Contains(LogText(), "Previous worker still running; not started again."); },
                            20000));
        EXPECT_TRUE(WaitFor([&] { return dialog.eInstall.load() == E_Install_Ready; }, 5000));
        skin_test::Pump(200);
        ExpectReadyPage(dialog, workers);
        EXPECT_TRUE(Contains(LogText(), "OnBtnInstall: the install worker did not start."));

        SetEvent(g_release.get());
        PressDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Working, 10000)) << "page " << dialog.eInstall.load();
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        ExpectInstalledIn(good);
    });
    SetEvent(g_release.get());
}

// The press joins the worker before, answering the messages it sends; a
// handler that asks for a worker meanwhile is refused at once (the old
// worker's lock is not held across the join), and the press's own install
// starts once the old worker has ended.
TEST_F(InstallFolderChoiceTest, AStartAskedDuringTheJoinIsRefusedAndThePressInstalls) {
    g_sentWhileJoined = false;
    const std::wstring good = Folder(L"Programs\\Orvane");
    ChoiceDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        g_dialogWindow = wnd;
        ASSERT_TRUE(dialog.StartWorker(SendsWhileJoined));
        ChooseFolder(dialog, good);
        PressDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitFor([&] { return dialog.nestedStart.load() != -1; }, 30000)) << "no message during a join";
        EXPECT_EQ(dialog.nestedStart.load(), 0) << "a second worker started during the join";
        // The page turns to working before the join; the press's worker
        // starts once the sending one has ended.
        ASSERT_TRUE(WaitFor([&] { return dialog.nWorkersStarted.load() >= 2; }, 20000))
            << "the press's install did not start";
        EXPECT_EQ(dialog.nWorkersStarted.load(), 2u) << "the sending worker and the press's install";
        EXPECT_TRUE(g_sentWhileJoined);
        EXPECT_TRUE(dialog.eInstall.load() == E_Install_Working || dialog.eInstall.load() == E_Install_Finished);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        ExpectInstalledIn(good);
    });
    g_dialogWindow = nullptr;
}
