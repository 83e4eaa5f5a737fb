// The install road on a real dialog object: the download pass against the
// loopback mirrors serving the package built from the stand-in product, the
// package pass, and their failure roads. The program carries manifest 501
// naming the live mirrors and 502 naming addresses nobody serves (the tests
// pick one through the header's bitness flag); a second build of the same
// cases carries no manifest at all.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IDownloader.h"
#include "JFile.h"
#include "InstallStatsReporter.h"
#include "LangStrings.h"
#include "Log.h"
#include "Orvane.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "Registry.h"
#include "TestSupport.h"
#include "Text.h"
#include "UnpackPackage.h"

using namespace testing_support;

namespace {

const std::wstring kPayloadFiles[] = {L"orvane.exe", L"orvane32.dll", L"Data\\readme.txt", L"uninstall.exe",
                                      L"uninstall.exe.bin"};

bool HasManifests() { return FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(501), L"xml") != nullptr; }

std::wstring MirrorDir() { return FromUnixPath(INSTALL_MIRROR_DIR); }
std::wstring LocalPackage() { return MirrorDir() + L"\\www\\download\\orvane_setup.exe"; }

// Closes every message box this process shows (except the dialog's own
// window) and keeps caption and text, so failure roads run unattended.
class BoxCloser {
public:
    BoxCloser() : thread_([this] { Run(); }) {}
    ~BoxCloser() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> Seen() {
        std::lock_guard<std::mutex> lock(lock_);
        return seen_;
    }

private:
    static BOOL CALLBACK Child(HWND wnd, LPARAM param) {
        wchar_t cls[64] = {}, text[512] = {};
        GetClassNameW(wnd, cls, 64);
        if (lstrcmpiW(cls, L"Static") == 0 && GetWindowTextW(wnd, text, 512) > 0)
            *reinterpret_cast<std::wstring*>(param) += std::wstring(L"|") + text;
        return TRUE;
    }
    static BOOL CALLBACK Top(HWND wnd, LPARAM param) {
        auto* self = reinterpret_cast<BoxCloser*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(wnd, &pid);
        wchar_t cls[64] = {}, caption[256] = {};
        GetClassNameW(wnd, cls, 64);
        if (pid != GetCurrentProcessId() || lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(wnd)) return TRUE;
        if (GetPropW(wnd, L"OrvaneTestDialog")) return TRUE;
        GetWindowTextW(wnd, caption, 256);
        std::wstring seen = caption;
        EnumChildWindows(wnd, Child, reinterpret_cast<LPARAM>(&seen));
        {
            std::lock_guard<std::mutex> lock(self->lock_);
            self->seen_.push_back(seen);
        }
        PostMessageW(wnd, WM_CLOSE, 0, 0);
        return TRUE;
    }
    void Run() {
        while (!stop_) {
            EnumWindows(Top, reinterpret_cast<LPARAM>(this));
            Sleep(150);
        }
    }
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::wstring> seen_;
    std::thread thread_;
};

// An uninstaller header file as an install of productName writes it.
bool WriteUninstallerHeader(const std::wstring& path, const std::string& productName) {
    PackageHeader header;
    PackageHeader::SetFieldText(header.productName, productName);
    PackageHeader::SetFieldText(header.installFolderName, productName);
    return SUCCEEDED(WriteHeaderFile(path.c_str(), header));
}

// A folder below parent whose path is length characters long.
std::wstring FolderOfLength(const std::wstring& parent, size_t length) {
    return parent + L"\\" + std::wstring(length - parent.size() - 1, L'd');
}

bool Saw(const std::vector<std::wstring>& boxes, const std::wstring& text) {
    for (const auto& box : boxes)
        if (box.find(text) != std::wstring::npos) return true;
    return false;
}

void WriteScenario(const std::string& json) {
    std::ofstream(ToUnixPath(MirrorDir() + L"\\scenario.json"), std::ios::binary | std::ios::trunc) << json;
}

// As the Install trigger does: the chosen folder is created before the
// worker starts.
void ChooseFolder(SetupDlg& dlg, const std::wstring& folder) {
    CreateDirectories(folder);
    dlg.SetInstallFolder(folder);
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = scratch_ / L"install.log";
        GetLog()->Init(log_);
        WriteScenario("{}");
        // No setup file from an earlier case: every download is a real one.
        std::wstring downloads;
        GetDownloadsPath(downloads, ProductConfig::GetProductFolderW(), nullptr, 0);
        RemoveTree(downloads);
        g_bDownloadDone = false;
        g_bNoDownloadNeeded = false;
        dlg_.eInstall = E_Install_Working;
        reporter_ = new InstallStatsReporter("http://127.0.0.1:9/", InstallStatsParams{});
        dlg_.pReporter = reporter_;
    }
    void TearDown() override {
        if (HasFailure()) printf("---- install log ----\n%s\n", Log().c_str());
        dlg_.pReporter = nullptr;
        delete reporter_;
        // Programs the road started (the resident stand-in product, a
        // browser for the finish page) inherit this process's output; left
        // running they would hold the test open until their own bound.
        for (const wchar_t* name : {L"orvane.exe", L"winebrowser.exe"})
            for (int i = 0; i < 8 && KillProcessByName(name, 2000) > 0; ++i) {
            }
    }
    std::string Log() { return ReadFileBytes(log_); }
    void ExpectInstalledIn(const std::wstring& folder) {
        for (const auto& name : kPayloadFiles) EXPECT_TRUE(FileExists(folder + L"\\" + name)) << ToUnixPath(folder);
    }
    // Runs the package pass alone on a copy of the local package.
    void InstallPackageInto(const std::wstring& folder, const std::wstring& package) {
        dlg_.SetPackagePath(package);
        ChooseFolder(dlg_, folder);
        dlg_.DoInstall();
    }

    ScratchFolder scratch_{L"install"};
    std::wstring log_;
    Orvane dlg_;
    InstallStatsReporter* reporter_ = nullptr;
};

TEST_F(InstallTest, CleanInstallDownloadsVerifiesAndExtracts) {
    if (!HasManifests()) GTEST_SKIP() << "no manifests in this build";
    const std::wstring folder = scratch_ / L"Orvane";
    ChooseFolder(dlg_, folder);
    dlg_.DoInstall();

    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
    ExpectInstalledIn(folder);
    EXPECT_EQ(ReadFileBytes(folder + L"\\Data\\readme.txt"), "Orvane stand-in data\r\n");
    EXPECT_EQ(dlg_.nDownloadPercent.load(), 100);
    EXPECT_EQ(dlg_.nInstallProgress.load(), 1000);
    EXPECT_EQ(dlg_.nRenderStage.load(), 3);
    EXPECT_TRUE(dlg_.bDownloadFinished.load());
    {
        std::lock_guard<std::mutex> lock(dlg_.m_downloadLock);
        EXPECT_EQ(dlg_.pDownload, nullptr) << "the engine is released";
    }
    // The downloaded package is the mirrors' one, byte for byte.
    EXPECT_EQ(ReadFileBytes(dlg_.GetPackagePath()), ReadFileBytes(LocalPackage()));
    if (getenv("ORVANE_PROFILE_OUTSIDE_CODE_PAGE")) {
        // Run again in a prefix whose user profile the ANSI code page cannot
        // spell: the package, the folder and the log all live below it.
        BOOL lossy = FALSE;
        const std::wstring package = dlg_.GetPackagePath();
        WideCharToMultiByte(CP_ACP, 0, package.c_str(), -1, nullptr, 0, nullptr, &lossy);
        EXPECT_TRUE(lossy) << WideToUtf8(package);
    }
    EXPECT_EQ(reporter_->GetInstallStatus(), "success");
    const std::string log = Log();
    for (const char* line : {"Url : ", "Download Finish Result : succeed(5).", "Begin install...",
                             "Do Install File : ", "Install Path : ", "Begin depack file.", "Begin delete file.(",
                             "End delete file.", "Install File Result 0", "Create Icons for x86",
                             "Refresh Icons Finish.", "New : ", "UpdateCtrlStatus(AfterInstall)",
                             "Finish(AfterInstall)"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

TEST_F(InstallTest, AllMirrorsDownEndsOnTheFailedPageAndTheRetryDownloadsAgain) {
    if (!HasManifests()) GTEST_SKIP() << "no manifests in this build";
    const std::wstring folder = scratch_ / L"Orvane";
    ChooseFolder(dlg_, folder);
    dlg_.packageHeader.isX64 = 1;  // manifest 502: addresses nobody serves
    dlg_.DoInstall();
    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Failed);
    EXPECT_TRUE(dlg_.GetPackagePath().empty());
    EXPECT_FALSE(FileExists(folder + L"\\orvane.exe"));
    EXPECT_EQ(reporter_->GetInstallStatus(), "downLoad_fail");
    std::string log = Log();
    EXPECT_NE(log.find("Download Finish Result : failed(4)."), std::string::npos);
    EXPECT_NE(log.find("Download Failed. Show retry."), std::string::npos);

    // The failed page's button runs the whole road again with a new engine.
    dlg_.packageHeader.isX64 = 0;
    dlg_.eInstall = E_Install_Working;
    dlg_.DoInstall();
    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
    ExpectInstalledIn(folder);
    EXPECT_EQ(reporter_->GetInstallStatus(), "success");
    log = Log();
    EXPECT_NE(log.find("Download Finish Result : succeed(5)."), std::string::npos);
}

TEST_F(InstallTest, CorruptPayloadEndsOnTheFinishedPageWithTheButtonOff) {
    std::string bytes = ReadFileBytes(LocalPackage());
    ASSERT_GT(bytes.size(), 20000u);
    // The payload starts at 8192: spoil a stretch of the compressed data.
    for (size_t i = 9000; i < 12000; ++i) bytes[i] = static_cast<char>(~bytes[i]);
    const std::wstring package = scratch_ / L"corrupt.exe";
    ASSERT_TRUE(WriteFileBytes(package, bytes));
    const std::wstring folder = scratch_ / L"Orvane";
    BoxCloser boxes;
    InstallPackageInto(folder, package);

    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
    EXPECT_EQ(dlg_.bFinishButtonEnabled.load(), 0);
    EXPECT_NE(dlg_.nRenderStage.load(), 3) << "the closing steps did not run";
    const std::string log = Log();
    EXPECT_NE(log.find("Install File FAILED error code = 80004005, last error = 10008."), std::string::npos) << log;
    EXPECT_EQ(log.find("Finish(AfterInstall)"), std::string::npos);
    const auto seen = boxes.Seen();
    ASSERT_FALSE(seen.empty());
    EXPECT_NE(seen.front().find(L"ERROR"), std::wstring::npos);
    EXPECT_NE(seen.front().find(L"Install Failed!"), std::wstring::npos);
}

// Emptying the install folder reaches only what is the product's own: its
// executable, or an uninstaller header naming it. Another program's folder
// with its own uninstaller, or with a header of another product, keeps its
// files; the install goes into the product's sub-folder.
TEST_F(InstallTest, AUserFolderWithOtherDataIsNeverEmptied) {
    struct Case {
        const wchar_t* name;
        std::vector<std::wstring> before;  // files in the chosen folder
        const char* headerProduct;         // uninstall.exe.bin is a header naming it; null: no header
        bool subFolderTaken;               // the sub-folder "Orvane" already holds other data
        const wchar_t* installedIn;        // relative to the chosen folder; null: stopped
        bool keptOldFiles;
    };
    const Case cases[] = {
        {L"documents", {L"thesis.docx", L"photos\\cat.jpg"}, nullptr, false, L"Orvane", true},
        {L"earlier", {L"orvane.exe", L"old-plugin.dll"}, nullptr, false, L"", false},
        {L"uninstaller", {L"uninstall.exe", L"stale.dat"}, "Orvane", false, L"", false},
        {L"other program", {L"uninstall.exe", L"viewer.exe", L"settings.ini"}, nullptr, false, L"Orvane", true},
        {L"other header", {L"uninstall.exe", L"viewer.exe"}, "Quillon Viewer", false, L"Orvane", true},
        {L"junk header", {L"uninstall.exe", L"notes.txt"}, "", false, L"Orvane", true},
        {L"empty", {}, nullptr, false, L"", true},
        {L"crowded", {L"thesis.docx"}, nullptr, true, nullptr, true},
        {L"crowded program", {L"uninstall.exe", L"viewer.exe"}, nullptr, true, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToNarrow(c.name));
        const std::wstring chosen = scratch_ / c.name;
        CreateDirectoryW(chosen.c_str(), nullptr);
        for (const auto& f : c.before) {
            const std::wstring path = chosen + L"\\" + f;
            CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
            ASSERT_TRUE(WriteFileBytes(path, "user data"));
        }
        const std::wstring header = chosen + L"\\uninstall.exe.bin";
        if (c.headerProduct && *c.headerProduct) ASSERT_TRUE(WriteUninstallerHeader(header, c.headerProduct));
        if (c.headerProduct && !*c.headerProduct) ASSERT_TRUE(WriteFileBytes(header, "not a header"));
        if (c.subFolderTaken) {
            CreateDirectoryW((chosen + L"\\Orvane").c_str(), nullptr);
            ASSERT_TRUE(WriteFileBytes(chosen + L"\\Orvane\\diary.txt", "mine"));
        }
        BoxCloser boxes;
        dlg_.eInstall = E_Install_Working;
        InstallPackageInto(chosen, LocalPackage());
        const bool installedHere = c.installedIn && !*c.installedIn;
        for (const auto& f : c.before) {
            // What the package installs again is there either way.
            const bool reinstalled = installedHere && (f == L"orvane.exe" || f == L"uninstall.exe");
            EXPECT_EQ(FileExists(chosen + L"\\" + f), c.keptOldFiles || reinstalled) << WideToNarrow(f);
            if (c.keptOldFiles && !reinstalled)
                EXPECT_TRUE(ReadFileBytes(chosen + L"\\" + f) == "user data") << WideToNarrow(f) << " was replaced";
        }
        if (c.headerProduct && !installedHere) {
            PackageHeader kept;
            const bool readable = SUCCEEDED(ReadHeaderFile(header.c_str(), kept));
            if (*c.headerProduct) {
                ASSERT_TRUE(readable);
                EXPECT_EQ(PackageHeader::FieldText(kept.productName), c.headerProduct);
            } else {
                EXPECT_EQ(ReadFileBytes(header), "not a header");
            }
        }
        if (!c.installedIn) {
            EXPECT_EQ(dlg_.eInstall.load(), E_Install_Failed);
            EXPECT_TRUE(FileExists(chosen + L"\\Orvane\\diary.txt"));
            EXPECT_FALSE(FileExists(chosen + L"\\Orvane\\orvane.exe"));
            EXPECT_NE(Log().find("Install stopped : no folder of the product's own"), std::string::npos);
            EXPECT_TRUE(Saw(boxes.Seen(), GetLangString(31)));
            continue;
        }
        EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
        const std::wstring target = *c.installedIn ? chosen + L"\\" + c.installedIn : chosen;
        ExpectInstalledIn(target);
        EXPECT_EQ(dlg_.GetInstallFolder(), target);
    }
}

// The Install trigger refuses a folder whose files would not fit the path
// buffers; a folder that reaches the package pass all the same (here set
// directly) stops before anything in it is touched, on the failed page with
// the folder message, reported as a failed install.
TEST_F(InstallTest, AFolderTooLongForTheProductsFilesStopsBeforeItIsEmptied) {
    const std::wstring folder = FolderOfLength(scratch_.path(), 240);
    ASSERT_FALSE(InstallFolderFits(folder));
    ASSERT_TRUE(InstallFolderFits(FolderOfLength(scratch_.path(), 220)));
    ASSERT_TRUE(CreateDirectories(folder) || FolderExists(folder));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\orvane.exe", "earlier install"));
    // The download pass would have reported its success.
    reporter_->OnDownloadStart();
    DownloadStatsRecord downloaded;
    downloaded.bSucceeded = true;
    reporter_->OnDownloadFinished(downloaded);

    BoxCloser boxes;
    InstallPackageInto(folder, LocalPackage());
    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Failed);
    EXPECT_EQ(ReadFileBytes(folder + L"\\orvane.exe"), "earlier install") << "the folder was not emptied";
    EXPECT_FALSE(FileExists(folder + L"\\uninstall.exe"));
    EXPECT_EQ(reporter_->GetInstallStatus(), "install_fail");
    EXPECT_NE(Log().find("Install stopped : the folder is too long for the product's files (240 characters)."),
              std::string::npos);
    EXPECT_EQ(Log().find("Begin delete file."), std::string::npos);
    EXPECT_TRUE(Saw(boxes.Seen(), GetLangString(31)));
}

// Latin-1 and Cyrillic folder names under a Western locale (the harness's
// Wine runs with the ANSI code page 1252, its user profile is "jörg"): the
// folder reaches the archiver and the uninstaller files whole.
TEST_F(InstallTest, NonAsciiInstallFolders) {
    EXPECT_EQ(GetACP(), 1252u);
    const wchar_t* latin1 = L"Gr\u00f6\u00dfe \u00c9t\u00e9";
    const wchar_t* cyrillic = L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b";
    for (const wchar_t* name : {latin1, cyrillic}) {
        const std::wstring folder = scratch_ / name;
        SCOPED_TRACE(WideToUtf8(folder));
        dlg_.eInstall = E_Install_Working;
        InstallPackageInto(folder, LocalPackage());
        EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
        EXPECT_EQ(dlg_.bFinishButtonEnabled.load(), 1);
        ExpectInstalledIn(folder);
    }
}

TEST_F(InstallTest, AMirrorThatCorruptsAndOneThatStallsStillInstall) {
    if (!HasManifests()) GTEST_SKIP() << "no manifests in this build";
    const std::string net = INSTALL_MIRROR_NET;
    WriteScenario("{\"" + net + ".6\": {\"corrupt_at\": [5000, 1200000]}, \"" + net +
                  ".7\": {\"stall_after\": 40000}}");
    const std::wstring folder = scratch_ / L"Orvane";
    ChooseFolder(dlg_, folder);
    dlg_.DoInstall();
    WriteScenario("{}");
    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Finished);
    ExpectInstalledIn(folder);
    EXPECT_EQ(ReadFileBytes(dlg_.GetPackagePath()), ReadFileBytes(LocalPackage()));
}

TEST_F(InstallTest, AStopRequestEndsTheDownloadWait) {
    if (!HasManifests()) GTEST_SKIP() << "no manifests in this build";
    const std::string net = INSTALL_MIRROR_NET;
    std::string slow = "{";
    for (int i = 2; i <= 9; ++i)
        slow += (i > 2 ? ",\"" : "\"") + net + "." + std::to_string(i) + "\": {\"get_hang\": true}";
    WriteScenario(slow + "}");
    ChooseFolder(dlg_, scratch_ / L"Orvane");
    std::thread stopper([this] {
        Sleep(3000);
        dlg_.bStopWork = true;
    });
    const auto start = std::chrono::steady_clock::now();
    dlg_.DoInstall();
    stopper.join();
    WriteScenario("{}");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_TRUE(dlg_.GetPackagePath().empty());
    std::lock_guard<std::mutex> lock(dlg_.m_downloadLock);
    EXPECT_EQ(dlg_.pDownload, nullptr);
}

TEST_F(InstallTest, AMissingManifestEndsOnTheFailedPage) {
    if (HasManifests()) GTEST_SKIP() << "this build carries manifests";
    ChooseFolder(dlg_, scratch_ / L"Orvane");
    dlg_.DoInstall();
    EXPECT_EQ(dlg_.eInstall.load(), E_Install_Failed);
    EXPECT_NE(Log().find("Download Failed. No download manifest."), std::string::npos);
    std::lock_guard<std::mutex> lock(dlg_.m_downloadLock);
    EXPECT_EQ(dlg_.pDownload, nullptr);
}

// The pre-install step asks for a restart: nothing is extracted, the package
// is registered to run once (quoted, as its path has blanks), and a box
// closed without its button restarts nothing.
class RestartingDialog : public Orvane {
public:
    bool ProcessBeforeInstall(std::wstring, bool* needRestart) override {
        *needRestart = true;
        return true;
    }
};

TEST_F(InstallTest, ARestartRequestRegistersThePackageToRunOnce) {
    const std::wstring dir = scratch_ / L"pkg dir";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring package = dir + L"\\orvane setup.exe";
    ASSERT_TRUE(CopyFileW(LocalPackage().c_str(), package.c_str(), FALSE));
    RestartingDialog dlg;
    dlg.SetPackagePath(package);
    ChooseFolder(dlg, scratch_ / L"Orvane");
    dlg.eInstall = E_Install_Working;
    {
        BoxCloser boxes;
        dlg.DoInstall();
        EXPECT_FALSE(boxes.Seen().empty()) << "the restart question was shown";
    }
    EXPECT_EQ(dlg.eInstall.load(), E_Install_Finished);
    EXPECT_TRUE(dlg.bNeedRestart.load());
    EXPECT_FALSE(FileExists(scratch_ / L"Orvane\\orvane.exe"));
    const std::wstring command = RunOnceValue(L"Orvane_Once");
    RemoveRunOnceValue(L"Orvane_Once");
    ASSERT_FALSE(command.empty()) << "no RunOnce value";
    EXPECT_EQ(command, L"\"" + package + L"\"");
    EXPECT_NE(Log().find("Add Run Once : Rel = 1"), std::string::npos);
}

// A stand-in for the dialog's window that counts the WM_CLOSE it receives.
class CloseCounter {
public:
    CloseCounter() {
        static const wchar_t kClass[] = L"OrvaneTestCloseCounter";
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);  // fails harmlessly when already registered
        wnd_ = CreateWindowExW(0, kClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~CloseCounter() { DestroyWindow(wnd_); }
    HWND wnd() const { return wnd_; }
    int closes() const { return closes_; }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CloseCounter*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (message == WM_CLOSE && self) {
            ++self->closes_;
            return 0;
        }
        return DefWindowProcW(wnd, message, wParam, lParam);
    }
    HWND wnd_ = nullptr;
    std::atomic<int> closes_{0};
};

// A silent run: the start-up options never make one (the command line is
// not read), so the dialog's own question is answered here.
class SilentDialog : public Orvane {
public:
    explicit SilentDialog(HWND window) { m_hWnd = window; }
    bool IsSilent() override { return true; }
    bool ExitWindowsForRestart(UINT, DWORD) override {
        ++restarts;
        return true;
    }
    int restarts = 0;
};

// Every ending of a silent run closes the dialog, exactly once, and shows no
// box that nobody would answer.
TEST_F(InstallTest, EveryEndingOfASilentRunClosesTheDialog) {
    std::string corrupt = ReadFileBytes(LocalPackage());
    ASSERT_GT(corrupt.size(), 20000u);
    for (size_t i = 9000; i < 12000; ++i) corrupt[i] = static_cast<char>(~corrupt[i]);
    const std::wstring corruptPackage = scratch_ / L"corrupt.exe";
    ASSERT_TRUE(WriteFileBytes(corruptPackage, corrupt));

    struct Case {
        const char* name;
        bool manifests;  // runs only in the build with (true) or without (false) manifests; else both
        bool anyBuild;
        std::function<void(SilentDialog&, const std::wstring&)> run;
        InstallState page;
    };
    const Case cases[] = {
        {"the checks refuse the folder", false, true,
         [&](SilentDialog& dlg, const std::wstring&) {
             dlg.SetInstallFolder(FolderOfLength(scratch_.path(), 240));
             dlg.eInstall = E_Install_Ready;
             dlg.OnBtnInstall();
         },
         E_Install_Ready},
        {"all mirrors down", true, false,
         [&](SilentDialog& dlg, const std::wstring& folder) {
             ChooseFolder(dlg, folder);
             dlg.packageHeader.isX64 = 1;  // manifest 502: addresses nobody serves
             dlg.DoInstall();
         },
         E_Install_Failed},
        {"no manifest", false, false,
         [&](SilentDialog& dlg, const std::wstring& folder) {
             ChooseFolder(dlg, folder);
             dlg.DoInstall();
         },
         E_Install_Failed},
        {"no folder of the product's own", false, true,
         [&](SilentDialog& dlg, const std::wstring& folder) {
             ChooseFolder(dlg, folder);
             ASSERT_TRUE(WriteFileBytes(folder + L"\\thesis.docx", "mine"));
             CreateDirectories(folder + L"\\Orvane");
             ASSERT_TRUE(WriteFileBytes(folder + L"\\Orvane\\diary.txt", "mine"));
             dlg.SetPackagePath(LocalPackage());
             dlg.DoInstall();
         },
         E_Install_Failed},
        {"a folder too long for the product", false, true,
         [&](SilentDialog& dlg, const std::wstring&) {
             ChooseFolder(dlg, FolderOfLength(scratch_.path(), 240));
             dlg.SetPackagePath(LocalPackage());
             dlg.DoInstall();
         },
         E_Install_Failed},
        {"a corrupt package", false, true,
         [&](SilentDialog& dlg, const std::wstring& folder) {
             ChooseFolder(dlg, folder);
             dlg.SetPackagePath(corruptPackage);
             dlg.DoInstall();
         },
         E_Install_Finished},
        {"a restart asked for", false, true,
         [&](SilentDialog& dlg, const std::wstring& folder) {
             ChooseFolder(dlg, folder);
             dlg.SetPackagePath(LocalPackage());
             dlg.bNeedRestart = true;
             dlg.DoInstall();
             EXPECT_EQ(dlg.restarts, 0) << "nobody was asked";
             EXPECT_NE(Log().find("Add Run Once : Rel = 1"), std::string::npos);
             EXPECT_FALSE(RunOnceValue(L"Orvane_Once").empty()) << "the package runs once after a restart";
             RemoveRunOnceValue(L"Orvane_Once");
         },
         E_Install_Finished},
        {"installed", false, true,
         [&](SilentDialog& dlg, const std::wstring& folder) {
             ChooseFolder(dlg, folder);
             dlg.SetPackagePath(LocalPackage());
             dlg.DoInstall();
         },
         E_Install_Finished},
    };
    int n = 0;
    for (const auto& c : cases) {
        if (!c.anyBuild && c.manifests != HasManifests()) continue;
        SCOPED_TRACE(c.name);
        const std::wstring folder = scratch_ / (L"silent" + std::to_wstring(++n));
        CloseCounter window;
        ASSERT_NE(window.wnd(), nullptr);
        SilentDialog dlg(window.wnd());
        dlg.eInstall = E_Install_Working;
        BoxCloser boxes;
        c.run(dlg, folder);
        EXPECT_EQ(dlg.eInstall.load(), c.page);
        EXPECT_EQ(window.closes(), 1);
        EXPECT_TRUE(boxes.Seen().empty()) << WideToNarrow(boxes.Seen().front());
    }
}

// A folder longer than the unpack step's 260-character buffer is refused
// with a log line, not copied past the buffer's end, and ends as a failed
// extraction does: the "Install Failed!" box and no finish button.
TEST_F(InstallTest, AnOverlongFolderIsRefused) {
    dlg_.SetPackagePath(LocalPackage());
    const std::wstring folder = scratch_ / std::wstring(300, L'x');
    BoxCloser boxes;
    EXPECT_LT(dlg_.InstallFile(LocalPackage(), folder), 0);
    EXPECT_NE(Log().find("Install File : folder too long (3"), std::string::npos);
    EXPECT_EQ(dlg_.bFinishButtonEnabled.load(), 0);
    EXPECT_TRUE(Saw(boxes.Seen(), L"Install Failed!"));
}

TEST_F(InstallTest, ProgressFiguresStayInRange) {
    struct Case {
        unsigned value;
        long extra;
        int percent;
    } const cases[] = {{50, 100, 50}, {100, 100, 100}, {7, 0, -1}, {7, -5, -1}, {300, 100, 100},
                       {0xFFFFFFFFu, 0x7FFFFFFF, 100}};
    for (const auto& c : cases) {
        dlg_.nDownloadPercent = -1;
        dlg_.OnDownloadEvent(E_Download_Progress, c.value, c.extra);
        EXPECT_EQ(dlg_.nDownloadPercent.load(), c.percent) << c.value << "/" << c.extra;
    }
    dlg_.OnInstallProgress(E_Unpack_Progress, 42, 0);
    EXPECT_EQ(dlg_.nInstallProgress.load(), 420);
    dlg_.OnInstallProgress(E_Unpack_Progress, 5000, 0);  // MiB counts of an unknown total
    EXPECT_EQ(dlg_.nInstallProgress.load(), 1000);
    dlg_.OnInstallProgress(3, 1001, 0);
    EXPECT_EQ(dlg_.nInstallProgress.load(), 1000);
    dlg_.OnInstallProgress(3, 10, 0);
    EXPECT_EQ(dlg_.nInstallProgress.load(), 10);
}

}  // namespace
