// The window closed while the package is installed, through the product's
// own dialog and the loopback mirrors: a close before the folder is touched
// leaves the earlier installation as it was; a close after it leaves a
// complete installation with its uninstall entry, and every thread joined.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>

#include "JFile.h"
#include "Text.h"
#include "TestSupport.h"
#include "road_fixture.h"

using namespace road;
using namespace testing_support;

namespace {

constexpr DWORD kRoadMs = 180000;

bool Logged(const char* line) { return LogText().find(line) != std::string::npos; }

// Closes its own window during one step of the road and lets the step run
// on once the close handler has asked the worker to stop.
class ClosingDialog : public RoadDialog {
public:
    explicit ClosingDialog(std::string step) : step_(std::move(step)) {}

    bool IsNewInstall(std::wstring folder) override {
        CloseDuring("folder");
        return RoadDialog::IsNewInstall(folder);
    }
    bool ProcessBeforeInstall(std::wstring folder, bool* needRestart) override {
        CloseDuring("pre-install");
        return RoadDialog::ProcessBeforeInstall(folder, needRestart);
    }
    void CreateShortcuts(ShortcutInfo info) override {
        CloseDuring("shortcuts");
        RoadDialog::CreateShortcuts(info);
    }
    std::atomic<bool> closed{false};

private:
    void CloseDuring(const char* step) {
        if (step_ != step || closed) return;
        closed = true;
        PostMessageW(GetWindow(), WM_CLOSE, 0, 0);
        WaitFor([this] { return bStopWork.load(); }, 5000);
    }
    std::string step_;
};

class RoadCloseTest : public RoadTest {
protected:
    // Installs into a folder holding an earlier installation and closes the
    // window during step.
    std::wstring CloseDuring(const std::string& step) {
        const std::wstring folder = Folder(L"Orvane");
        CreateDirectories(folder);
        EXPECT_TRUE(WriteFileBytes(folder + L"\\orvane.exe", "earlier"));
        EXPECT_TRUE(WriteFileBytes(folder + L"\\earlier.dat", "earlier data"));
        ClosingDialog dialog(step);
        RunRoad(dialog, [&](HWND wnd) {
            ChooseFolder(dialog, folder);
            PressDesign(wnd, kInstallButton.x, kInstallButton.y);
            EXPECT_TRUE(WaitFor([&] { return dialog.closed.load() && !IsWindowVisible(wnd); }, kRoadMs));
        });
        EXPECT_TRUE(dialog.closed.load()) << "the road reached the step";
        EXPECT_FALSE(Logged("OnClose: a thread is still running.")) << LogText();
        return folder;
    }
};

TEST_F(RoadCloseTest, AClosePreparingTheFolderLeavesTheEarlierInstallation) {
    const std::wstring folder = CloseDuring("folder");
    EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.exe"), "earlier");
    EXPECT_EQ(ReadFileBytes(folder + L"\\earlier.dat"), "earlier data");
    EXPECT_FALSE(Logged("Begin delete file."));
    // The dialog's start opens the entry's key; nothing was registered in it.
    EXPECT_TRUE(EntryValue("InstallLocation").empty());
}

// After the folder was emptied the road completes what the product needs to
// run and to be removed, and leaves out its own first run.
void ExpectCompleteInstall(const std::wstring& folder) {
    ExpectInstalledIn(folder);
    EXPECT_FALSE(FileExists(folder + L"\\earlier.dat"));
    EXPECT_TRUE(EntryExists());
    EXPECT_FALSE(EntryValue("InstallLocation").empty());
    EXPECT_TRUE(Logged("Finish(AfterInstall)"));
    EXPECT_TRUE(Logged("Install completes without the product's own step"));
}

TEST_F(RoadCloseTest, ACloseDuringThePreInstallStepLeavesACompleteRegisteredInstall) {
    ExpectCompleteInstall(CloseDuring("pre-install"));
}

TEST_F(RoadCloseTest, ACloseDuringTheShortcutsLeavesACompleteRegisteredInstall) {
    ExpectCompleteInstall(CloseDuring("shortcuts"));
}

}  // namespace
