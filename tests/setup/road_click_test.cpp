// Whole installs driven by real clicks with the pointer: the Install button,
// the failed page's retry, the finished page's restart, the restart question
// of an older version's removal, and the uninstall that follows an install.
// Each case runs alone on the display.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <thread>

#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ReportTestSupport.h"
#include "SkinMessageBox.h"
#include "Text.h"
#include "dialog_boxes.h"
#include "road_fixture.h"

using namespace road;
using testing_support::FileExists;
using testing_support::FolderExists;
using testing_support::ReadFileBytes;
using testing_support::RunOnceValue;
using testing_support::WriteFileBytes;
using namespace dialog_boxes;

namespace {

constexpr DWORD kRoadMs = 240000;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The setup file the download left in the product's Downloads folder.
std::wstring DownloadedPackage() {
    std::wstring folder;
    GetDownloadsPath(folder, ProductConfig::GetProductFolderW(), nullptr, 0);
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(PathJoin(folder, L"*.exe").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return {};
    FindClose(find);
    return PathJoin(folder, found.cFileName);
}

// The finished page's button text, in its colour or, under the pointer that
// has just clicked there, in its hover colour.
int ButtonTextInk(const Picture& shot) {
    const RECT button{91, 354, 531, 394};
    return shot.Count(RGB(0x00, 0x53, 0xBF), button, 24) + shot.Count(RGB(0xDF, 0x00, 0x93), button, 24);
}

}  // namespace

class RoadClickTest : public RoadTest {};

// The user types a folder and clicks Install; the finished page's button
// then starts the product.
TEST_F(RoadClickTest, TheInstallButtonInstallsAndTheFinishedPageStartsTheProduct) {
    const std::wstring folder = Folder(L"Programs\\Orvane");
    RoadDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        ChooseFolder(dialog, folder);
        Sleep(1500);
        EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready) << "no countdown: only the click starts it";
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Working, 5000));
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        ASSERT_TRUE(WaitFor([&] { return dialog.pBtnInstall->IsVisible(); }, 5000));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Start Orvane");
        const Picture shot =
            ScreenshotWhen(wnd, L"finished_click", [](const Picture& p) { return ButtonTextInk(p) > 80; });
        EXPECT_GT(ButtonTextInk(shot), 80) << "Start text";
        ExpectInstalledIn(folder);
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000));
    });
    EXPECT_EQ(ProductStarts(*session_, L"/install /XI:").size(), 1u);
    EXPECT_FALSE(session_
                     ->WaitForRecord(
                         [](const standins::Record& r) {
                             return r.Is("orvane", "start") &&
                                    r.Get("cmdline").find(L" --installmode") != std::wstring::npos;
                         },
                         20000)
                     .Get("cmdline")
                     .empty());
    const CJsonObject finish = WaitForReport("success", 10000);
    ASSERT_FALSE(finish.IsEmpty());
    EXPECT_EQ(ReportValue(finish, "install.auto_install"), "false");
    EXPECT_EQ(ReportValue(finish, "install.change_install_path"), "true");
}

// Every mirror down: the failed page. The mirrors come back and the failed
// page's button downloads again, on the same render thread, and installs.
TEST_F(RoadClickTest, TheFailedPagesButtonDownloadsAgainWhenTheMirrorsAreBack) {
    const std::wstring folder = Folder(L"Orvane");
    SetAllMirrors("{\"dead\": true}");
    RoadDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        ChooseFolder(dialog, folder);
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Failed, kRoadMs)) << "page " << dialog.eInstall.load();
        ASSERT_TRUE(WaitFor([&] { return dialog.pBtnInstall->IsVisible(); }, 5000));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Try Again");
        ASSERT_TRUE(g_hRenderThread.joinable());
        const std::thread::id renderer = g_hRenderThread.get_id();
        EXPECT_FALSE(FileExists(folder + L"\\orvane.exe"));
        int served = 0;
        for (const auto& request : MirrorRequests(startedAt_)) served += request.status == 206;
        EXPECT_EQ(served, 0) << "dead mirrors served nothing";

        SetAllMirrors("{}");
        const double retried = UnixNow();
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Working, 5000));
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        EXPECT_EQ(g_hRenderThread.get_id(), renderer) << "the retry kept the one render thread";
        ExpectInstalledIn(folder);
        long long bytes = 0;
        for (const auto& request : MirrorRequests(retried))
            if (request.status == 206) bytes += request.bytes;
        EXPECT_GT(bytes, 1000000) << "the package came again from the mirrors";
        ClickDesign(wnd, kCloseButton.x, kCloseButton.y);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000));
    });
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, "Download Failed. Show retry."));
    EXPECT_TRUE(Contains(log, "Download Finish Result : succeed(5)."));
    const CJsonObject finish = WaitForReport("success", 10000);
    EXPECT_FALSE(finish.IsEmpty());
    EXPECT_EQ(ReportValue(finish, "install.run_app"), "false");
}

// The product's install step asks for a restart (exit code 100): the
// finished page offers "Restart Now", and its button goes as far as the call
// that would restart Windows. This road registers nothing to run once.
TEST_F(RoadClickTest, AProductAskingForARestartEndsOnRestartNow) {
    session_->SetModeExitCode(standins::kInstallMode, 100);
    const std::wstring folder = Folder(L"Orvane");
    RoadDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        ChooseFolder(dialog, folder);
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
        ASSERT_TRUE(WaitFor([&] { return dialog.pBtnInstall->IsVisible(); }, 5000));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), GetLangString(41));
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Restart Now");
        const Picture shot =
            ScreenshotWhen(wnd, L"finished_restart", [](const Picture& p) { return ButtonTextInk(p) > 80; });
        EXPECT_GT(ButtonTextInk(shot), 80) << "Restart text";
        ExpectInstalledIn(folder);
        EXPECT_TRUE(dialog.RestartCalls().empty());
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000));
    });
    const auto calls = dialog.RestartCalls();
    ASSERT_EQ(calls.size(), 1u) << "one restart, from the button";
    EXPECT_EQ(calls[0].flags, static_cast<UINT>(EWX_REBOOT | EWX_FORCEIFHUNG));
    EXPECT_EQ(calls[0].reason, static_cast<DWORD>(SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED));
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, "Do Restart ..."));
    EXPECT_FALSE(Contains(log, "Get privilege fail !")) << "the shutdown privilege was enabled";
    EXPECT_FALSE(Contains(log, "Run Zov!!!")) << "the product is not started";
    EXPECT_TRUE(ProductStarts(*session_, L"--installmode").empty());
    EXPECT_TRUE(RunOnceValue(L"Orvane_Once").empty());
    EXPECT_FALSE(WaitForReport("success", 10000).IsEmpty());
}

// An older version is installed: its uninstaller runs before the new files
// would be extracted, and the restart it needs is asked for in a box. The
// package is registered to run once after the restart, nothing is extracted,
// and the box's button restarts.
TEST_F(RoadClickTest, AnOlderVersionsRemovalAsksForTheRestartAndRegistersThePackage) {
    const std::wstring old = Folder(L"Old Orvane");
    CreateDirectoryW(old.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(standins::UninstallerExePath().c_str(), (old + L"\\unins000.exe").c_str(), FALSE));
    const char kOldKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvex Orvane_is1";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, NarrowToWide(kOldKey).c_str(), L"InstallLocation", REG_SZ,
                              old.c_str(), static_cast<DWORD>((old.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    const std::wstring folder = Folder(L"Orvane");
    RoadDialog dialog;
    RunRoad(dialog, [&](HWND wnd) {
        ChooseFolder(dialog, folder);
        ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
        HWND box = FindOtherDialog(wnd, kRoadMs);
        ASSERT_NE(box, nullptr) << "no restart question";
        Sleep(500);
        // The question in its title band and its one button, both in the
        // product's colour.
        const Picture shot = Screenshot(box, L"restart_question");
        EXPECT_GT(shot.Count(RGB(0x4A, 0x47, 0xB5), RECT{160, 167, 260, 199}, 12), 1500) << "the button";
        EXPECT_GT(shot.Count(RGB(0x4A, 0x47, 0xB5), RECT{0, 0, 400, 30}, 12), 6000) << "the title band";
        ClickDesign(box, 210, 183);  // the box's one button
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }, 5000));
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 10000)) << "the dialog closes";
    });
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kOldKey, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kOldKey, KEY_WOW64_32KEY, 0);

    EXPECT_FALSE(session_->WaitForRecord([](const standins::Record& r) { return r.Is("unins000", "start"); }, 1000)
                     .Get("cmdline")
                     .empty())
        << "the older version's uninstaller ran";
    EXPECT_FALSE(FileExists(folder + L"\\orvane.exe")) << "nothing is extracted before the restart";
    const auto calls = dialog.RestartCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, static_cast<UINT>(EWX_REBOOT | EWX_FORCEIFHUNG));
    // The package, downloaded into the user's Downloads folder, runs once
    // after the restart; its path has a blank, so it is quoted.
    const std::wstring package = DownloadedPackage();
    ASSERT_FALSE(package.empty()) << "the package stays in the Downloads folder";
    EXPECT_NE(package.find(L' '), std::wstring::npos) << WideToUtf8(package);
    EXPECT_EQ(RunOnceValue(L"Orvane_Once"), L"\"" + package + L"\"");
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, "Find inno version."));
    EXPECT_TRUE(Contains(log, "Add Run Once : Rel = 1"));
    EXPECT_TRUE(Contains(log, "Do Restart ..."));
    // The worker ended the run by closing the dialog, and the close joined it.
    EXPECT_FALSE(Contains(log, "OnClose: a thread is still running."));
    EXPECT_FALSE(WaitForReport("success", 10000).IsEmpty());
}

// An install into a folder of the user's own data, then the uninstall page's
// button: the product, its shortcuts, its entry and its application data go;
// the user's files in the chosen folder and beside it stay.
TEST_F(RoadClickTest, TheUninstallAfterAnInstallRemovesOnlyTheProducts) {
    const std::wstring chosen = Folder(L"Chosen");
    CreateDirectoryW(chosen.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(chosen + L"\\thesis.txt", "the user's"));
    CreateDirectoryW(Folder(L"Beside").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(Folder(L"Beside\\notes.txt"), "the user's"));
    const std::wstring folder = chosen + L"\\Orvane";
    {
        RoadDialog dialog;
        RunRoad(dialog, [&](HWND wnd) {
            ChooseFolder(dialog, chosen);
            ClickDesign(wnd, kInstallButton.x, kInstallButton.y);
            ASSERT_TRUE(WaitForPage(dialog, E_Install_Finished, kRoadMs)) << "page " << dialog.eInstall.load();
            ClickDesign(wnd, kCloseButton.x, kCloseButton.y);
            EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000));
        });
    }
    // Not the chosen folder, which holds other data: the product's own below it.
    ExpectInstalledIn(folder);
    // The product keeps its settings in the application-data folder.
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, (AppDataFolder() + L"\\Config").c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(AppDataFolder() + L"\\Config\\user.ini", "settings"));

    RoadDialog uninstall(0, folder);
    RunRoad(uninstall, [&](HWND wnd) {
        ASSERT_NE(uninstall.pBtnUninstall, nullptr);
        ClickDesign(wnd, kKeepConfigBox.x, kKeepConfigBox.y);  // do not keep the settings
        EXPECT_EQ(uninstall.pChkKeepConfig->GetCheck(), 0);
        ClickDesign(wnd, kUninstallButton.x, kUninstallButton.y);
        ASSERT_TRUE(WaitFor([&] { return uninstall.pBtnCancel->IsVisible() && uninstall.pBtnCancel->GetId() == 1627; },
                            120000))
            << "the uninstall page did not finish";
        EXPECT_EQ(uninstall.pBtnCancel->GetText(), GetLangString(27));
        EXPECT_EQ(uninstall.pStaticQuestion->GetText(), GetLangString(26));
        Sleep(300);
        Screenshot(wnd, L"uninstalled");
        ClickDesign(wnd, kUninstallFinishButton.x, kUninstallFinishButton.y);
        EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(wnd); }, 5000)) << "Finish closes the dialog";
    });

    EXPECT_FALSE(FolderExists(folder)) << "the product's folder is gone";
    EXPECT_FALSE(EntryExists());
    EXPECT_FALSE(FileExists(DesktopLink()));
    EXPECT_FALSE(FolderExists(ProgramsGroup()));
    EXPECT_FALSE(FolderExists(CommonProgramsGroup()));
    EXPECT_FALSE(FolderExists(AppDataFolder()));
    EXPECT_EQ(ReadFileBytes(chosen + L"\\thesis.txt"), "the user's");
    EXPECT_EQ(ReadFileBytes(Folder(L"Beside\\notes.txt")), "the user's");
    // The product's own steps: asked to quit, then its full uninstall.
    EXPECT_EQ(ProductStarts(*session_, L"/quit_by_setup").size(), 1u);
    const auto uninstalls = ProductStarts(*session_, L"/full_uninstall /XU");
    ASSERT_EQ(uninstalls.size(), 1u);
    EXPECT_TRUE(ProductStarts(*session_, L"/uninstall /XU").empty());
    const std::string log = LogText();
    EXPECT_TRUE(Contains(log, "Uninstall work SUCCEE."));
    EXPECT_FALSE(Contains(log, "Uninstall step failed")) << log;
}
