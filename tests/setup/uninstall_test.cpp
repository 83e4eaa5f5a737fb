// The uninstall worker on an installed tree laid out by the test: what it
// removes, what it leaves alone, the folders it refuses to delete, the log it
// writes and the uninstall page it moves along.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "LangStrings.h"
#include "Log.h"
#include "Orvane.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "Registry.h"
#include "StandInControl.h"
#include "TestSupport.h"
#include "Text.h"

using namespace testing_support;

namespace {

// The product dialog with its folder steps recorded on the way through.
class RecordingDialog : public Orvane {
public:
    void QuitRunningApp(std::wstring installFolder, std::wstring exeName) override {
        calls.push_back(L"quit " + installFolder + L" " + exeName);
        if (onQuit) onQuit();
        Orvane::QuitRunningApp(installFolder, exeName);
    }
    bool RunMainExeUninstall(std::wstring installFolder, std::wstring exeName, bool* needRestart) override {
        calls.push_back(L"uninstall " + installFolder + L" " + exeName);
        return Orvane::RunMainExeUninstall(installFolder, exeName, needRestart);
    }
    void DeleteHelperFiles(std::wstring installFolder) override {
        calls.push_back(L"helpers " + installFolder);
        Orvane::DeleteHelperFiles(installFolder);
    }
    std::vector<std::wstring> calls;
    std::function<void()> onQuit;  // on the worker, as the product is asked to quit
};

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream stream(ReadFileBytes(path));
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Drop the elapsed-time prefix "00:00:00 :" (the log's own first line
        // has a blank after it).
        if (line.size() < 10 || line.compare(8, 2, " :") != 0) continue;
        std::string message = line.substr(10);
        if (message == " Init Log OK.") message.erase(0, 1);
        lines.push_back(message);
    }
    return lines;
}

int IndexOf(const std::vector<std::string>& lines, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == text) return static_cast<int>(i);
    return -1;
}

bool AnyStartsWith(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

std::wstring AppDataProductFolder() {
    wchar_t appData[MAX_PATH] = {};
    GetAppDataPath(appData);
    return PathJoin(appData, ProductConfig::GetProductFolderW());
}

// An installed product: the installation folder "Tarvex\Orvane" below a
// scratch folder, with the stand-in product, the uninstaller and data; a
// neighbour file beside it and a neighbour folder that must survive; the
// uninstall entry and the application-data folder.
class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetLog()->Init(scratch_ / L"install.log");
        parent_ = scratch_ / L"Tarvex";
        folder_ = parent_ + L"\\Orvane";
        CreateDirectoryW(parent_.c_str(), nullptr);
        CreateDirectoryW(folder_.c_str(), nullptr);
        CreateDirectoryW((folder_ + L"\\data").c_str(), nullptr);
        ASSERT_TRUE(standins::CopyProductStandIns(folder_));
        WriteFileBytes(folder_ + L"\\uninstall.exe", "uninstaller");
        WriteFileBytes(folder_ + L"\\data\\settings.dat", "data");
        WriteFileBytes(parent_ + L"\\neighbour.txt", "keep");
        CreateDirectoryW((scratch_ / L"Other").c_str(), nullptr);
        WriteFileBytes(scratch_ / L"Other\\keep.txt", "keep");

        PackageHeader::SetFieldText(dlg_.packageHeader.productName, ProductConfig::GetProductName());
        keyName_ = dlg_.MakeUninstallKeyName(dlg_.GetProductName());
        ASSERT_EQ(SetUninstallItemString(keyName_, "InstallLocation", WideToNarrow(folder_)), 1);

        appData_ = AppDataProductFolder();
        SHCreateDirectoryExW(nullptr, (appData_ + L"\\Config").c_str(), nullptr);
        WriteFileBytes(appData_ + L"\\Config\\user.ini", "user");

        // The shortcuts an install makes (plain files stand in for links)
        // and one of another program's.
        const std::wstring display = NarrowToWide(dlg_.MakeDisplayName(ProductConfig::GetProductName()));
        wchar_t desktop[MAX_PATH] = {}, programs[MAX_PATH] = {};
        GetDesktopPath(desktop);
        GetProgramsPath(programs);
        desktopLink_ = PathJoin(desktop, display + L".lnk");
        programsGroup_ = PathJoin(programs, display);
        otherLink_ = PathJoin(desktop, L"Another Program.lnk");
        SHCreateDirectoryExW(nullptr, programsGroup_.c_str(), nullptr);
        WriteFileBytes(desktopLink_, "link");
        WriteFileBytes(programsGroup_ + L"\\" + display + L".lnk", "link");
        WriteFileBytes(otherLink_, "link");

        keep_ = std::make_unique<CheckButtonCtrl>(nullptr, RECT{12, 364, 26, 378});
        dlg_.pChkKeepConfig = keep_.get();
        dlg_.SetPackagePath(folder_ + L"\\uninstall.exe");
    }

    void TearDown() override {
        dlg_.pChkKeepConfig = nullptr;
        DeleteUninstallItem(keyName_);
        RemoveTree(appData_);
        RemoveTree(programsGroup_);
        DeleteFileW(desktopLink_.c_str());
        DeleteFileW(otherLink_.c_str());
    }

    // Runs the worker on its own thread, as the Uninstall button does.
    std::vector<std::string> RunWorker() {
        unsigned code = 1;
        std::thread worker([&] { code = UninstallThreadProc(&dlg_); });
        worker.join();
        EXPECT_EQ(code, 0u);
        return ReadLines(scratch_ / L"install.log");
    }

    bool EntryExists() {
        HKEY key = nullptr;
        const std::string path = std::string(kUninstallKey) + keyName_;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    void ExpectNeighboursKept() {
        EXPECT_TRUE(FileExists(parent_ + L"\\neighbour.txt"));
        EXPECT_TRUE(FileExists(scratch_ / L"Other\\keep.txt"));
    }

    ScratchFolder scratch_{L"uninstall"};
    standins::StandInSession session_{scratch_ / L"standins.log"};
    RecordingDialog dlg_;
    std::unique_ptr<CheckButtonCtrl> keep_;
    std::wstring parent_, folder_, appData_, desktopLink_, programsGroup_, otherLink_;
    std::string keyName_;
};

TEST(UninstallThreadTest, NullDialogEndsAtOnce) { EXPECT_EQ(UninstallThreadProc(nullptr), 0xFFFFFFFFu); }

TEST_F(UninstallTest, RemovesTheProductAndItsDataAndLeavesTheRestAlone) {
    keep_->SetCheck(0);
    const std::vector<std::string> lines = RunWorker();

    EXPECT_FALSE(FolderExists(folder_)) << "the installation folder is gone";
    EXPECT_TRUE(FolderExists(parent_)) << "the maker's folder holds other things";
    ExpectNeighboursKept();
    EXPECT_FALSE(EntryExists());
    EXPECT_FALSE(FolderExists(appData_));

    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Init Log OK.");
    EXPECT_EQ(lines[1], "Begin Uninstall Work. x64mode = false");
    const int begin = IndexOf(lines, "Begin delete file.(" + WideToNarrow(folder_) + ")");
    const int end = IndexOf(lines, "End delete file.");
    const int icons = IndexOf(lines, "RefreshIcons.");
    const int config = IndexOf(lines, "End Remove AppConfig.");
    const int entry = IndexOf(lines, "End DeleteUninstallItem. szProgram(" + keyName_ + ")");
    EXPECT_TRUE(begin >= 0 && begin < end && end < icons && icons < config && config < entry)
        << begin << " " << end << " " << icons << " " << config << " " << entry;
    EXPECT_EQ(lines.back(), "Uninstall work SUCCEE.");
    EXPECT_FALSE(AnyStartsWith(lines, "Uninstall refused"));
    EXPECT_TRUE(FileExists(otherLink_));
    EXPECT_GE(IndexOf(lines, "End delete Icon."), 0) << "the shortcut step ran";
    EXPECT_FALSE(FileExists(desktopLink_));
    EXPECT_FALSE(FolderExists(programsGroup_));

    const std::wstring exe = ProductConfig::GetMainExeNameW();
    const std::vector<std::wstring> expected = {L"quit " + folder_ + L" " + exe, L"uninstall " + folder_ + L" " + exe,
                                                L"helpers " + folder_};
    EXPECT_EQ(dlg_.calls, expected);
}

TEST_F(UninstallTest, KeptConfigurationSurvives) {
    keep_->SetCheck(1);
    const std::vector<std::string> lines = RunWorker();
    EXPECT_FALSE(FolderExists(folder_));
    EXPECT_TRUE(FileExists(appData_ + L"\\Config\\user.ini"));
    EXPECT_GE(IndexOf(lines, "End Remove AppConfig."), 0);
    EXPECT_FALSE(EntryExists());
    EXPECT_EQ(lines.back(), "Uninstall work SUCCEE.");
}

// The product's own uninstall run gets the switches that match the box, as
// the stand-in records them.
TEST_F(UninstallTest, ProductExecutableGetsTheUninstallSwitches) {
    for (const int keep : {0, 1}) {
        if (keep) SetUp();  // a fresh installation for the second run
        keep_->SetCheck(keep);
        const size_t before = session_.ReadRecords().size();
        const std::vector<std::string> lines = RunWorker();
        ASSERT_TRUE(AnyStartsWith(lines, "Run MainExe.exe /uninstall")) << "the product's uninstall step ran, keep "
                                                                         << keep;
        const std::wstring expected = keep ? L"/uninstall /XU" : L"/full_uninstall /XU";
        const std::vector<standins::Record> records = session_.ReadRecords();
        std::vector<std::wstring> uninstallStarts;
        for (size_t i = before; i < records.size(); ++i) {
            const std::wstring commandLine = records[i].Get("cmdline");
            const bool uninstallSwitch = commandLine.find(L"/uninstall") != std::wstring::npos ||
                                         commandLine.find(L"/full_uninstall") != std::wstring::npos;
            if (records[i].Is("orvane", "start") && uninstallSwitch)
                uninstallStarts.push_back(commandLine);
        }
        ASSERT_EQ(uninstallStarts.size(), 1u) << "keep " << keep;
        EXPECT_NE(uninstallStarts[0].find(expected), std::wstring::npos) << WideToNarrow(uninstallStarts[0]);
    }
}

// The keep box is read once, as Uninstall is pressed: unticked while the
// worker runs, it reaches neither the product's own uninstall run nor the
// application data.
TEST_F(UninstallTest, TheKeepChoiceIsTheBoxAsUninstallWasPressed) {
    keep_->SetCheck(1);
    UniqueHandle reached(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    dlg_.onQuit = [&] {
        SetEvent(reached.get());
        WaitForSingleObject(go.get(), 30000);
    };
    const size_t before = session_.ReadRecords().size();
    dlg_.OnBtnUninstall();
    const bool quitReached = WaitForSingleObject(reached.get(), 30000) == WAIT_OBJECT_0;
    keep_->SetCheck(0);
    SetEvent(go.get());
    const bool finished = WaitFor(
        [&] {
            const std::vector<std::string> lines = ReadLines(scratch_ / L"install.log");
            return !lines.empty() && lines.back() == "Uninstall work SUCCEE.";
        },
        60000);
    EXPECT_TRUE(dlg_.StopThreads(30000));
    ASSERT_TRUE(quitReached);
    ASSERT_TRUE(finished);

    EXPECT_FALSE(FolderExists(folder_));
    EXPECT_TRUE(FileExists(appData_ + L"\\Config\\user.ini")) << "kept, as the box showed when pressed";
    std::vector<std::wstring> uninstallStarts;
    const std::vector<standins::Record> records = session_.ReadRecords();
    for (size_t i = before; i < records.size(); ++i) {
        const std::wstring commandLine = records[i].Get("cmdline");
        const bool uninstallSwitch = commandLine.find(L"/uninstall") != std::wstring::npos ||
                                     commandLine.find(L"/full_uninstall") != std::wstring::npos;
        if (records[i].Is("orvane", "start") && uninstallSwitch) uninstallStarts.push_back(commandLine);
    }
    ASSERT_EQ(uninstallStarts.size(), 1u);
    EXPECT_NE(uninstallStarts[0].find(L"/uninstall /XU"), std::wstring::npos) << WideToNarrow(uninstallStarts[0]);
}

// A folder that cannot be deleted (a file held open) and a missing entry are
// logged as failures before the final line.
TEST_F(UninstallTest, FailedStepsAreLoggedBeforeTheFinalLine) {
    keep_->SetCheck(1);
    DeleteUninstallItem(keyName_);
    HANDLE held = CreateFileW((folder_ + L"\\data\\settings.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::vector<std::string> lines = RunWorker();
    CloseHandle(held);

    const int folderFailed =
        IndexOf(lines, "Uninstall step failed: the installation folder is still there.(" + WideToNarrow(folder_) + ")");
    const int entryFailed =
        IndexOf(lines, "Uninstall step failed: the uninstall entry was not deleted.(" + keyName_ + ")");
    EXPECT_GE(folderFailed, 0);
    EXPECT_GE(entryFailed, 0);
    EXPECT_LT(folderFailed, IndexOf(lines, "RefreshIcons."));
    EXPECT_EQ(lines.back(), "Uninstall work SUCCEE.");
    ExpectNeighboursKept();
}

// Package paths whose folder is not an installation folder of ours: the
// folder steps are skipped, the refusal is logged, nothing in it is deleted
// and the rest of the uninstall still runs.
TEST_F(UninstallTest, RefusesFoldersThatAreNotTheProducts) {
    const std::wstring downloads = DownloadsFolder();
    const std::wstring documents = DocumentsFolder();
    ASSERT_FALSE(downloads.empty());
    WriteFileBytes(downloads + L"\\uninstall.exe", "not ours");
    WriteFileBytes(downloads + L"\\photo.jpg", "keep");
    WriteFileBytes(documents + L"\\uninstall.exe", "not ours");
    CreateDirectoryW((downloads + L"\\Orvane").c_str(), nullptr);
    CreateDirectoryW((scratch_ / L"NotOurs").c_str(), nullptr);
    WriteFileBytes(scratch_ / L"NotOurs\\file.txt", "keep");

    const struct {
        std::wstring packagePath;
        const char* reason;
    } cases[] = {
        {L"", "no folder"},
        {L"uninstall.exe", "no folder"},
        {L"Orvane\\uninstall.exe", "a relative folder"},
        {L"\\\\?\\C:\\uninstall.exe", "a drive root or no folder that may be deleted"},
        {L"C:\\uninstall.exe", "a drive root or no folder that may be deleted"},
        {L"C:\\Orvane\\..\\uninstall.exe", "a drive root or no folder that may be deleted"},
        {downloads + L"\\uninstall.exe", "a folder of the user or of the system"},
        {downloads + L"\\Orvane\\..\\uninstall.exe", "a folder of the user or of the system"},
        {documents + L"\\uninstall.exe", "a folder of the user or of the system"},
        {scratch_ / L"NotOurs\\uninstall.exe", "the folder holds no uninstall.exe"},
    };
    for (const auto& c : cases) {
        dlg_.calls.clear();
        DeleteFileW((scratch_ / L"install.log").c_str());
        GetLog()->Init(scratch_ / L"install.log");
        dlg_.SetPackagePath(c.packagePath);
        const std::vector<std::string> lines = RunWorker();
        const std::string refusal = std::string("Uninstall refused to delete the installation folder: ") + c.reason +
                                    ".(" + WideToNarrow(c.packagePath) + ")";
        EXPECT_GE(IndexOf(lines, refusal), 0) << WideToNarrow(c.packagePath);
        EXPECT_TRUE(dlg_.calls.empty()) << WideToNarrow(c.packagePath);
        EXPECT_FALSE(AnyStartsWith(lines, "Begin delete file.")) << WideToNarrow(c.packagePath);
        EXPECT_GE(IndexOf(lines, "End Remove AppConfig."), 0);
        EXPECT_EQ(lines.back(), "Uninstall work SUCCEE.");
    }
    EXPECT_TRUE(FileExists(downloads + L"\\photo.jpg"));
    EXPECT_TRUE(FileExists(downloads + L"\\uninstall.exe"));
    EXPECT_TRUE(FileExists(documents + L"\\uninstall.exe"));
    EXPECT_TRUE(FileExists(scratch_ / L"NotOurs\\file.txt"));
    EXPECT_TRUE(FileExists(folder_ + L"\\uninstall.exe")) << "the real installation was never named";
    DeleteFileW((downloads + L"\\uninstall.exe").c_str());
    DeleteFileW((downloads + L"\\photo.jpg").c_str());
    RemoveDirectoryW((downloads + L"\\Orvane").c_str());
    DeleteFileW((documents + L"\\uninstall.exe").c_str());
}

// The uninstall page: the start text, the position, and the finished state
// with the Finish button and the thanks (or restart) text.
TEST(UninstallPageTest, ProgressEventsMoveThePage) {
    Orvane dlg;
    const RECT rect{10, 10, 100, 30};
    StaticCtrl question(nullptr, rect), keepLabel(nullptr, rect);
    ProcessCtrl progress(nullptr, rect);
    ButtonCtrlEx cancel(nullptr, rect);
    dlg.pStaticQuestion = &question;
    dlg.pStaticKeepConfig = &keepLabel;
    dlg.pProgress = &progress;
    dlg.pBtnCancel = &cancel;
    cancel.SetId(1626);
    cancel.SetVisible(false);

    for (const bool restart : {false, true}) {
        dlg.bNeedRestart = restart;
        EXPECT_EQ(dlg.OnUninstallProgress(0, 0, 0), 1);
        EXPECT_EQ(question.GetText(), std::wstring(GetLangString(25)));
        EXPECT_EQ(dlg.OnUninstallProgress(3, 40, 0), 1);
        EXPECT_EQ(dlg.OnUninstallProgress(3, 101, 0), 1);
        EXPECT_EQ(progress.BarWidth(100), 40) << "a position above 100 is ignored";
        EXPECT_EQ(dlg.OnUninstallProgress(1, 0, 0), 1);
        EXPECT_EQ(progress.BarWidth(100), 100);
        EXPECT_FALSE(progress.IsVisible());
        EXPECT_FALSE(keepLabel.IsVisible());
        EXPECT_TRUE(cancel.IsVisible());
        EXPECT_EQ(cancel.GetId(), 1627);
        EXPECT_EQ(cancel.GetText(), std::wstring(GetLangString(27)));
        EXPECT_EQ(question.GetText(), std::wstring(GetLangString(restart ? 41 : 26)));
    }
    dlg.pStaticQuestion = nullptr;
    dlg.pStaticKeepConfig = nullptr;
    dlg.pProgress = nullptr;
    dlg.pBtnCancel = nullptr;
}

}  // namespace
