// The installer's main dialog run in this process on template 130 with the
// installer's own resources: its layouts and the options panel as painted,
// real clicks on its controls, the page states, the countdown, the version
// label, the pre-install checks, and the pictures at 96, 120 and 144 DPI
// (measured in child processes, which read the DPI when they start).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "LangStrings.h"
#include "Log.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "SkinMessageBox.h"
#include "SkinTestUtil.h"
#include "SystemInfo.h"
#include "StandInControl.h"
#include "TestSupport.h"
#include "Text.h"
#include "dialog_boxes.h"

using namespace skin_test;
using namespace testing_support;
using dialog_boxes::BoxPicture;
using dialog_boxes::ExpectedMessagePicture;
using dialog_boxes::MessagePicture;

namespace {

constexpr int kDesignWidth = 622;
constexpr int kDesignHeight = 405;
constexpr int kPanelHeight = 580;
const COLORREF kPage = RGB(255, 255, 255);
// The Install button's border (the product's colour 0xA74747).
const COLORREF kInstallBorder = RGB(0x47, 0x47, 0xA7);
const COLORREF kInstallFill = RGB(0xE9, 0xE9, 0xFF);
const COLORREF kAccent = RGB(0x4A, 0x47, 0xB5);

// The dialog under test: the real SetupDlg with a plain page painter (the
// pages' painters are not part of these tests) and no statistics upload.
class TestDialog : public SetupDlg {
public:
    explicit TestDialog(bool uninstallLayout = false) : uninstallLayout_(uninstallLayout) {}

    int OnInitDialog(HWND wnd) override {
        if (!uninstallLayout_) return SetupDlg::OnInitDialog(wnd);
        // The uninstall layout is built by the same code; only the layout
        // switch differs from a normal start.
        CommonDlg::OnInitDialog(wnd);
        SelectLanguage(L"Orvane", 0);
        nLayout = 0;
        CreateControls();
        return 1;
    }

    // White page, the controls at design size, presented at the display's scale.
    void OnPaint() override {
        std::lock_guard<std::mutex> lock(paintLock_);
        if (!m_hWnd) return;
        WindowDc dc(m_hWnd);
        UniqueMemoryDc memory(CreateCompatibleDC(dc.get()));
        UniqueGdi<HBITMAP> frame(CreateCompatibleBitmap(dc.get(), kDesignWidth, kPanelHeight));
        {
            SelectedObject selected(memory.get(), frame.get());
            const RECT page{0, 0, kDesignWidth, kPanelHeight};
            FillSolid(memory.get(), &page, kPage);
            PaintControls(vecPaintCtrls, memory.get());
            PresentDesign(dc.get(), memory.get(), 0, 0, kDesignWidth, kPanelHeight);
        }
        ValidateRect(m_hWnd, nullptr);
    }

    int SendFinishReport() override {
        ++finishReports;
        return 0;
    }

    // The product's supported-system mask, or another one (osMask >= 0).
    bool IsOsSupported() override { return osMask < 0 ? SetupDlg::IsOsSupported() : IsOsSupportedByMask(osMask); }

    void OnTimer(UINT_PTR id) override {
        SetupDlg::OnTimer(id);
        if (id == 1 && pStaticStatus) {
            std::lock_guard<std::mutex> lock(textLock);
            countdownTexts.push_back(pStaticStatus->GetText());
        }
    }

    std::atomic<int> finishReports{0};
    std::atomic<int> osMask{-1};
    std::mutex textLock;
    std::vector<std::wstring> countdownTexts;

private:
    bool uninstallLayout_;
    std::mutex paintLock_;
};

TestDialog* g_dialog = nullptr;

INT_PTR CALLBACK TestDialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_dialog ? g_dialog->DialogProc(wnd, message, wParam, lParam) : 0;
}

void ResetProcessFlags() {
    g_nCountdown = 30;
    g_bAutoStarted = false;
    g_bCreateDesktopIcon = true;
    g_bJoinUxProgram = true;
    g_bInstallPathChanged = false;
}

// Runs the dialog modally on this thread while drive(window) runs on another;
// the driver's end closes the dialog (the close handler stops the threads).
void RunDialog(TestDialog& dialog, const std::function<void(HWND)>& drive) {
    ResetProcessFlags();
    MouseAt(2, 2);
    if (GetAsyncKeyState(VK_LBUTTON) & 0x8000) {
        INPUT up{};
        up.type = INPUT_MOUSE;
        up.mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(1, &up, sizeof(up));
    }
    g_dialog = &dialog;
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND wnd = FindThreadDialog(uiThread, 10000);
        if (!wnd) return;
        Sleep(300);
        drive(wnd);
        if (IsWindow(wnd)) PostMessageW(wnd, WM_CLOSE, 0, 0);
    });
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMainDialogTemplate), nullptr, TestDialogProc, 0);
    driver.join();
    EXPECT_TRUE(dialog.StopThreads(10000));
    g_dialog = nullptr;
}

// Repaints the window now and copies its client area.
void Capture(HWND wnd, Canvas& canvas) {
    InvalidateRect(wnd, nullptr, FALSE);
    UpdateWindow(wnd);
    Sleep(100);
    CaptureClient(wnd, canvas);
}

SIZE ClientSize(HWND wnd) {
    RECT r{};
    GetClientRect(wnd, &r);
    return SIZE{r.right, r.bottom};
}

// A real click at a design point of the dialog.
void ClickDesign(HWND wnd, int dpi, int x, int y) {
    POINT pt{x * dpi / 96, y * dpi / 96};
    ClientToScreen(wnd, &pt);
    MouseAt(pt.x, pt.y);
    Sleep(150);
    MouseAt(pt.x, pt.y, MOUSEEVENTF_LEFTDOWN);
    Sleep(150);
    MouseAt(pt.x, pt.y, MOUSEEVENTF_LEFTUP);
    Sleep(400);
}

int WindowHeight(HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return r.bottom - r.top;
}

std::string LogText() { return ReadFileBytes(DocumentsFolder() + L"\\Tarvex\\Orvane\\Log\\install.log"); }

void InitLog() {
    static bool done = false;
    if (done) return;
    done = true;
    std::wstring path;
    GetDocumentsPath(path, L"Tarvex\\Orvane\\Log\\", L"install.log", 1);
    GetLog()->Init(path);
}

// The pictures of the check messages, drawn before the dialog opens.
std::map<LangStringId, BoxPicture> ExpectedCheckMessages() {
    SelectLanguage(L"Orvane", 0);
    std::map<LangStringId, BoxPicture> pictures;
    for (LangStringId id : {30, 31, 32, 33}) pictures[id] = ExpectedMessagePicture(id);
    return pictures;
}

// Closes the skinned box a check shows and says which of the expected
// messages it showed; -1 when no box appeared or it showed none of them.
int CloseMessageBoxReading(DWORD uiThread, HWND main, const std::map<LangStringId, BoxPicture>& expected) {
    HWND box = FindThreadDialog(uiThread, 8000, main);
    if (!box) return -1;
    Sleep(300);
    const BoxPicture shown = MessagePicture(box);
    PostMessageW(box, WM_CLOSE, 0, 0);
    WaitFor([&] { return !IsWindow(box); }, 5000);
    for (const auto& [id, picture] : expected)
        if (!picture.empty() && picture == shown) return id;
    return -1;
}

// What the ready, options and uninstall pictures show at one DPI, measured in
// design pixels scaled by the display's DPI.
struct ScreenFacts {
    int dpi = 0;
    int width = 0, height = 0, panelHeight = 0;
    int buttonLeft = -1, buttonRight = -1;  // the Install button's border on its middle row
    int versionInk = 0;                     // label pixels in the version band
    int pictureInk = 0;                     // the ready picture's accent pixels
    int closeInk = 0;                       // the close button's glyph
    int accentBoxes = 0;                    // ticked boxes of the panel
    int editLeft = 0, editTop = 0, editWidth = 0, editHeight = 0;
    int uninstallButtonInk = 0;
};

int CountNear(const Canvas& canvas, COLORREF colour, RECT area, int tolerance) {
    int n = 0;
    for (int y = area.top; y < area.bottom && y < canvas.height(); ++y) {
        for (int x = area.left; x < area.right && x < canvas.width(); ++x) {
            const COLORREF c = canvas.At(x, y);
            if (abs(GetRValue(c) - GetRValue(colour)) <= tolerance && abs(GetGValue(c) - GetGValue(colour)) <= tolerance &&
                abs(GetBValue(c) - GetBValue(colour)) <= tolerance)
                ++n;
        }
    }
    return n;
}

RECT Scaled(int dpi, int l, int t, int r, int b) { return RECT{l * dpi / 96, t * dpi / 96, r * dpi / 96, b * dpi / 96}; }

std::wstring ScreenFolder() {
    const std::wstring folder = BuildPath(L"tests/setup/dialog_screens");
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

}  // namespace

class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override { InitLog(); }
};

TEST_F(SetupDialogTest, ReadyPageShowsItsControlsAndTheVersionFromTheResource) {
    TestDialog dialog;
    RunDialog(dialog, [&](HWND wnd) {
        EXPECT_EQ(ClientSize(wnd).cx, kDesignWidth);
        EXPECT_EQ(ClientSize(wnd).cy, kDesignHeight);
        wchar_t title[64] = {};
        GetWindowTextW(wnd, title, 64);
        EXPECT_STREQ(title, L"Orvane Installer");
        EXPECT_NE(SendMessageW(wnd, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_EQ(GetWindowLongW(wnd, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0) << "borderless";
        EXPECT_NE(GetWindowLongW(wnd, GWL_STYLE) & WS_MINIMIZEBOX, 0);
        EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready);

        // The version label comes from the text resource with "official"
        // in the active language.
        EXPECT_EQ(VersionText, "2.0.0.5 official (17/08/2021)");
        ASSERT_NE(dialog.pStaticVersion, nullptr);
        EXPECT_TRUE(dialog.pStaticVersion->IsVisible());
        EXPECT_EQ(dialog.pStaticVersion->GetText(), L"2.0.0.5 official (17/08/2021)");

        // English: the Install button spans 191 to 431.
        ASSERT_NE(dialog.pBtnInstall, nullptr);
        const RECT button = *dialog.pBtnInstall->GetRect()->GetRect();
        EXPECT_EQ(button.left, 191);
        EXPECT_EQ(button.right, 431);
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Click to Install");

        // Painted: the button's border at its edges, the label's ink, the picture.
        Canvas canvas(kDesignWidth, kDesignHeight);
        Capture(wnd, canvas);
        EXPECT_GT(CountNear(canvas, kInstallBorder, RECT{191, 354, 193, 394}, 8), 30) << "left border";
        EXPECT_GT(CountNear(canvas, kInstallBorder, RECT{429, 354, 431, 394}, 8), 30) << "right border";
        EXPECT_EQ(CountNear(canvas, kInstallBorder, RECT{170, 354, 189, 394}, 8), 0) << "nothing left of the button";
        EXPECT_GT(CountNear(canvas, RGB(0xBF, 0xBF, 0xBF), RECT{13, 39, 413, 59}, 40), 20) << "version label";
        EXPECT_GT(CountNear(canvas, kAccent, RECT{184, 52, 439, 307}, 8), 1000) << "ready picture";
        canvas.SaveBmp(ScreenFolder() + L"\\ready_inprocess.bmp");
    });
}

TEST_F(SetupDialogTest, PageStatesShowTheControlsOfEachPage) {
    TestDialog dialog;
    RunDialog(dialog, [&](HWND) {
        struct Row {
            const char* name;
            CommonCtrl* control;
        };
        const Row rows[] = {
            {"close", dialog.pBtnClose},       {"minimise", dialog.pBtnMinimize}, {"version", dialog.pStaticVersion},
            {"install", dialog.pBtnInstall},   {"logo", dialog.pStaticLogo},     {"logo alt", dialog.pStaticLogoAlt},
            {"picture", dialog.pStaticPicture}, {"status", dialog.pStaticStatus},
        };
        // 1 shown, 0 hidden, -1 unchanged from the state before.
        struct Case {
            int state;
            int expected[8];
            const wchar_t* buttonText;
        } cases[] = {
            {0, {1, 1, 1, 1, 1, 0, 1, -1}, L"Click to Install"},
            {1, {0, 0, 0, 0, 0, 0, 0, 0}, nullptr},
            {3, {1, -1, -1, 1, 1, 0, 1, -1}, L"Try Again"},
            {2, {1, 1, -1, 1, 0, 0, 0, -1}, L"Start Orvane"},
            {7, {1, 1, 1, 1, 1, 0, 1, -1}, L"Click to Install"},  // any other value is the ready page
        };
        for (const auto& c : cases) {
            bool before[8];
            for (int i = 0; i < 8; ++i) before[i] = rows[i].control->IsVisible();
            dialog.UpdateCtrlStatus(c.state);
            for (int i = 0; i < 8; ++i) {
                const bool want = c.expected[i] < 0 ? before[i] : c.expected[i] == 1;
                EXPECT_EQ(rows[i].control->IsVisible(), want) << "state " << c.state << " " << rows[i].name;
            }
            if (c.buttonText) {
                EXPECT_EQ(dialog.pBtnInstall->GetText(), c.buttonText) << "state " << c.state;
            }
        }

        // The finished page's button: widened once from its created
        // rectangle, however often the worker applies the state.
        for (int i = 0; i < 4; ++i) dialog.UpdateCtrlStatus(2);
        const RECT wide = *dialog.pBtnInstall->GetRect()->GetRect();
        EXPECT_EQ(wide.left, 91);
        EXPECT_EQ(wide.right, 531);
        EXPECT_EQ(wide.top, 354);
        EXPECT_EQ(wide.bottom, 394);
        dialog.bNeedRestart = true;
        dialog.UpdateCtrlStatus(2);
        EXPECT_EQ(dialog.pBtnInstall->GetText(), L"Restart Now");
        dialog.bFinishButtonEnabled = 0;
        dialog.UpdateCtrlStatus(2);
        EXPECT_FALSE(dialog.pBtnInstall->IsVisible()) << "a failed unpack shows no button";
        dialog.bNeedRestart = false;
        dialog.bFinishButtonEnabled = 1;
    });
}

TEST_F(SetupDialogTest, CountdownCountsFromThirtyAndStartsTheInstall) {
    TestDialog dialog;
    ScratchFolder folder(L"dialog_countdown");
    RunDialog(dialog, [&](HWND wnd) {
        SetWindowTextW(dialog.GetEditPathWindow(), (folder / L"Orvane").c_str());
        // Only the period changes: the same timer, ticking faster.
        SetTimer(wnd, 1, 40, nullptr);
        EXPECT_TRUE(WaitFor([&] { return dialog.eInstall.load() == E_Install_Working; }, 30000));
        Sleep(300);
    });
    std::vector<std::wstring> texts;
    {
        std::lock_guard<std::mutex> lock(dialog.textLock);
        texts = dialog.countdownTexts;
    }
    ASSERT_GE(texts.size(), 31u);
    for (int i = 0; i <= 30; ++i) {
        EXPECT_EQ(texts[i], L"Installation will start automatically in " + std::to_wstring(30 - i) + L" seconds.");
    }
    EXPECT_TRUE(g_bAutoStarted);
    EXPECT_EQ(g_nCountdown, -1);
    EXPECT_EQ(dialog.finishReports, 1);
}

TEST_F(SetupDialogTest, ClicksOpenThePanelToggleTheBoxesAndStartTheInstall) {
    TestDialog dialog;
    ScratchFolder folder(L"dialog_clicks");
    RunDialog(dialog, [&](HWND wnd) {
        // Custom: the window grows to 580 and the panel shows; the countdown stops.
        ClickDesign(wnd, 96, 540, 372);
        EXPECT_TRUE(WaitFor([&] { return WindowHeight(wnd) == kPanelHeight; }, 5000));
        EXPECT_TRUE(dialog.pChkCustom->GetCheck());
        EXPECT_TRUE(dialog.pChkAccept->IsVisible());
        EXPECT_TRUE(dialog.pChkDesktop->IsVisible());
        EXPECT_TRUE(IsWindowVisible(dialog.GetEditPathWindow()));
        EXPECT_FALSE(dialog.pStaticStatus->IsVisible());
        const int countdown = g_nCountdown;
        Sleep(2500);
        EXPECT_EQ(g_nCountdown, countdown) << "the countdown has stopped";

        // Accept off disables Install; on again enables it.
        ClickDesign(wnd, 96, 51, 435);
        EXPECT_FALSE(dialog.pChkAccept->GetCheck());
        EXPECT_FALSE(dialog.pBtnInstall->IsEnabled());
        ClickDesign(wnd, 96, 51, 435);
        EXPECT_TRUE(dialog.pChkAccept->GetCheck());
        EXPECT_TRUE(dialog.pBtnInstall->IsEnabled());

        // The two option boxes drive the process-wide flags.
        const bool desktop = dialog.pChkDesktop->GetCheck() != 0;
        ClickDesign(wnd, 96, 51, 511);
        EXPECT_EQ(dialog.pChkDesktop->GetCheck() != 0, !desktop);
        EXPECT_EQ(g_bCreateDesktopIcon.load(), !desktop);
        const bool join = dialog.pChkJoin->GetCheck() != 0;
        ClickDesign(wnd, 96, 51, 546);
        EXPECT_EQ(g_bJoinUxProgram.load(), !join);

        Canvas panel(kDesignWidth, kPanelHeight);
        Capture(wnd, panel);
        panel.SaveBmp(ScreenFolder() + L"\\options_inprocess.bmp");

        // Custom again: the panel closes, the countdown text does not return.
        ClickDesign(wnd, 96, 540, 372);
        EXPECT_TRUE(WaitFor([&] { return WindowHeight(wnd) == kDesignHeight; }, 5000));
        EXPECT_FALSE(dialog.pChkAccept->IsVisible());
        EXPECT_FALSE(IsWindowVisible(dialog.GetEditPathWindow()));
        EXPECT_FALSE(dialog.pStaticStatus->IsVisible());

        // Install: the checks pass for a new folder, which they create.
        const std::wstring target = folder / L"Chosen\\Orvane";
        SetWindowTextW(dialog.GetEditPathWindow(), target.c_str());
        ClickDesign(wnd, 96, 311, 374);
        EXPECT_TRUE(WaitFor([&] { return dialog.eInstall.load() == E_Install_Working; }, 5000));
        EXPECT_TRUE(FolderExists(target));
        EXPECT_EQ(dialog.GetInstallFolder(), target);
        EXPECT_TRUE(g_bInstallPathChanged);
        EXPECT_FALSE(dialog.pChkCustom->IsVisible());
        EXPECT_FALSE(dialog.pStaticVersion->IsVisible());
        EXPECT_EQ(dialog.nCfgFlag, (desktop ? 0 : 1) | (join ? 0 : 2));
        // Pressing Install on the working page only logs.
        dialog.OnBtnInstall();
        EXPECT_NE(LogText().find("OnBtnInstall(what ?\?\?)"), std::string::npos);
    });
}

TEST_F(SetupDialogTest, LinksOpenTheirPagesThroughTheShell) {
    standins::UrlRecorderRegistration registration;
    ASSERT_TRUE(registration.ok());
    ScratchFolder folder(L"dialog_links");
    standins::StandInSession session(folder / L"standins.log");
    TestDialog dialog;
    RunDialog(dialog, [&](HWND wnd) {
        ClickDesign(wnd, 96, 540, 372);
        ASSERT_TRUE(WaitFor([&] { return WindowHeight(wnd) == kPanelHeight; }, 5000));
        // The licence link starts right of the Accept box (44 + W0).
        ClickDesign(wnd, 96, 44 + 75 + 30, 435);
        const auto licence = session.WaitForRecord([](const standins::Record& r) { return r.Is("url", "open"); }, 20000);
        EXPECT_NE(licence.Get("url").find(L"v=" + NarrowToWide(PackageHeader::FieldText(dialog.packageHeader.version))),
                  std::wstring::npos)
            << WideToNarrow(licence.Get("url"));
        ClickDesign(wnd, 96, 44 + 55 + 40, 546);
        const auto programme = session.WaitForRecord(
            [&](const standins::Record& r) { return r.Is("url", "open") && r.Get("url") != licence.Get("url"); },
            20000);
        EXPECT_FALSE(programme.Get("url").empty());
    });
}

TEST_F(SetupDialogTest, FolderChecksAndFreeSpaceRefuseWithAMessage) {
    const auto expected = ExpectedCheckMessages();
    ASSERT_NE(expected.at(31), expected.at(32));
    TestDialog dialog;
    const DWORD uiThread = GetCurrentThreadId();
    RunDialog(dialog, [&](HWND wnd) {
        KillTimer(wnd, 1);
        // A folder that cannot be made: one message, the page stays.
        SetWindowTextW(dialog.GetEditPathWindow(), L"Q:\\nowhere\\Orvane");
        std::thread clicker([&] { ClickDesign(wnd, 96, 311, 374); });
        EXPECT_EQ(CloseMessageBoxReading(uiThread, wnd, expected), 31);
        clicker.join();
        EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready);
        EXPECT_NE(LogText().find("Install Path Info : Q:\\nowhere\\Orvane ."), std::string::npos);

        // A folder the edit box takes but the product's files below it
        // would not fit: the same message, and nothing is created.
        ScratchFolder folder(L"dialog_space");
        const std::wstring deep = folder.path() + L"\\" + std::wstring(240 - folder.path().size() - 1, L'd');
        SetWindowTextW(dialog.GetEditPathWindow(), deep.c_str());
        std::thread clicker1([&] { ClickDesign(wnd, 96, 311, 374); });
        EXPECT_EQ(CloseMessageBoxReading(uiThread, wnd, expected), 31);
        clicker1.join();
        EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready);
        EXPECT_FALSE(FolderExists(deep));
        EXPECT_NE(LogText().find("Install Path too long : 240 characters."), std::string::npos);

        // A package larger than the volume: the free-space message.
        SetWindowTextW(dialog.GetEditPathWindow(), (folder / L"Orvane").c_str());
        dialog.packageHeader.archiveSize = 1ull << 55;
        std::thread clicker2([&] { ClickDesign(wnd, 96, 311, 374); });
        EXPECT_EQ(CloseMessageBoxReading(uiThread, wnd, expected), 32);
        clicker2.join();
        EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready);
        EXPECT_NE(LogText().find("FreeSpace Info : "), std::string::npos);
        dialog.packageHeader.archiveSize = 0;

        // A 64-bit package needs a 64-bit Windows (the harness's is one).
        dialog.packageHeader.isX64 = 1;
        SetWindowTextW(dialog.GetEditPathWindow(), (folder / L"Orvane").c_str());
        ClickDesign(wnd, 96, 311, 374);
        EXPECT_TRUE(WaitFor([&] { return dialog.eInstall.load() == E_Install_Working; }, 5000));
    });
}

// The system checks come first. A 64-bit product on a 32-bit Windows gets the
// 64-bit message and no other check runs (tests/setup/dialog.cmake runs this
// case again in a 32-bit prefix); a supported-system mask without the
// running Windows's bit gets the unsupported-system message. Either way the
// page stays and nothing is created.
TEST_F(SetupDialogTest, SystemChecksRefuseWithTheirMessage) {
    const char* bits = std::getenv("ORVANE_EXPECT_WINDOWS_BITS");
    const bool expect64 = bits == nullptr || std::string(bits) == "64";
    ASSERT_EQ(Is64BitWindows(), expect64);
    DWORD major = 0, minor = 0;
    GetWindowsVersion(major, minor);
    const int runningBit = OsVersionBit(major, minor);
    ASSERT_NE(runningBit, 0);
    EXPECT_TRUE(IsOsSupportedByMask(0xFF)) << "the product's mask takes Windows " << major << "." << minor;
    EXPECT_FALSE(IsOsSupportedByMask(0xFF & ~runningBit));

    const auto expected = ExpectedCheckMessages();
    ASSERT_NE(expected.at(30), expected.at(33));
    ScratchFolder folder(L"dialog_system");
    const std::wstring target = folder / L"Orvane";
    TestDialog dialog;
    const DWORD uiThread = GetCurrentThreadId();
    RunDialog(dialog, [&](HWND wnd) {
        KillTimer(wnd, 1);
        SetWindowTextW(dialog.GetEditPathWindow(), target.c_str());
        struct Case {
            const char* name;
            int isX64;
            int mask;
            int message;
        };
        std::vector<Case> cases = {{"a mask without this Windows", 0, 0xFF & ~runningBit, 30}};
        if (!expect64) {
            cases.push_back({"64-bit product", 1, -1, 33});
            cases.push_back({"64-bit product, unsupported system too", 1, 0xFF & ~runningBit, 33});
        }
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            dialog.packageHeader.isX64 = c.isX64;
            dialog.osMask = c.mask;
            std::thread clicker([&] { ClickDesign(wnd, 96, 311, 374); });
            EXPECT_EQ(CloseMessageBoxReading(uiThread, wnd, expected), c.message);
            clicker.join();
            EXPECT_EQ(dialog.eInstall.load(), E_Install_Ready);
            EXPECT_FALSE(FolderExists(target)) << "the folder check did not run";
        }
        dialog.packageHeader.isX64 = 0;
        dialog.osMask = -1;
    });
    EXPECT_NE(LogText().find("OnBtnInstall(MySkinMessagxBox)"), std::string::npos);
}

TEST_F(SetupDialogTest, BrowsedFolderLandsInTheFolderBoxWithTheProductFolder) {
    TestDialog dialog;
    ScratchFolder folder(L"dialog_browse");
    const std::wstring start = folder / L"Chosen Place";
    const DWORD uiThread = GetCurrentThreadId();
    RunDialog(dialog, [&](HWND wnd) {
        KillTimer(wnd, 1);
        dialog.SetInstallFolder(start);
        ClickDesign(wnd, 96, 540, 372);
        ASSERT_TRUE(WaitFor([&] { return WindowHeight(wnd) == kPanelHeight; }, 5000));
        std::thread clicker([&] { ClickDesign(wnd, 96, 563, 473); });
        // The folder to preselect is made before the browser opens.
        HWND browser = FindThreadDialog(uiThread, 15000, wnd);
        clicker.join();
        ASSERT_NE(browser, nullptr) << "the folder browser did not open";
        EXPECT_TRUE(FolderExists(start));
        Sleep(1500);  // the browser fills its tree and selects the folder
        PostMessageW(browser, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }, 10000));
        // The chosen folder lacks the product's folder name, so it is added.
        // Wine's browser opens on the desktop, not on the preselected folder
        // (it ignores BFFM_SETSELECTIONW), so the chosen folder is whatever
        // it had selected.
        EXPECT_TRUE(WaitFor([&] { return dialog.GetInstallFolder() != start; }, 5000));
        const std::wstring chosen = dialog.GetInstallFolder();
        ASSERT_GT(chosen.size(), 7u);
        EXPECT_EQ(chosen.substr(chosen.size() - 7), L"\\Orvane") << WideToUtf8(chosen);
        EXPECT_TRUE(chosen == start + L"\\Orvane" || chosen.find(L"Desktop") != std::wstring::npos) << WideToUtf8(chosen);
        wchar_t text[600] = {};
        GetWindowTextW(dialog.GetEditPathWindow(), text, 600);
        EXPECT_EQ(std::wstring(text), dialog.GetInstallFolder());
    });
}

TEST(SetupDialogFigures, OsBitsAndNeededSpace) {
    struct Os {
        DWORD major, minor;
        int bit;
    } oses[] = {{5, 1, 1}, {6, 0, 2}, {6, 1, 4}, {6, 2, 8}, {6, 3, 16}, {6, 4, 0}, {10, 0, 32}, {11, 0, 32}, {7, 0, 1}};
    for (const auto& o : oses) EXPECT_EQ(OsVersionBit(o.major, o.minor), o.bit) << o.major << "." << o.minor;
    // 8.1 passes the product's mask; a mask without bit 16 refuses it.
    EXPECT_NE(OsVersionBit(6, 3) & 0xFF, 0);
    EXPECT_EQ(OsVersionBit(6, 3) & 0xEF, 0);

    const uint64_t size = 300ull << 20;  // 300 MiB
    // size / (0.1 x 3) x 1.1 = 1100 MiB on D:, once more the size on C:.
    EXPECT_EQ(NeededFreeSpaceMB(size, L"D:\\Apps\\Orvane"), 1099u);
    EXPECT_EQ(NeededFreeSpaceMB(size, L"C:\\Apps\\Orvane"), 1399u);
    EXPECT_EQ(NeededFreeSpaceMB(size, L"c:\\Apps\\Orvane"), 1099u) << "the drive test is case-sensitive";
    EXPECT_EQ(NeededFreeSpaceMB(0, L"C:\\"), 0u);
}

TEST_F(SetupDialogTest, UninstallLayoutStartsTheUninstallOnItsButton) {
    TestDialog dialog(true);
    RunDialog(dialog, [&](HWND wnd) {
        ASSERT_NE(dialog.pBtnUninstall, nullptr);
        EXPECT_EQ(dialog.pBtnInstall, nullptr);
        Canvas canvas(kDesignWidth, kDesignHeight);
        Capture(wnd, canvas);
        EXPECT_GT(CountNear(canvas, kAccent, RECT{402, 356, 502, 388}, 8), 1500) << "Uninstall button";
        canvas.SaveBmp(ScreenFolder() + L"\\uninstall_inprocess.bmp");
        // The keep-configurations box toggles.
        ClickDesign(wnd, 96, 19, 371);
        EXPECT_EQ(dialog.pChkKeepConfig->GetCheck(), 0);
        ClickDesign(wnd, 96, 452, 372);
        EXPECT_FALSE(dialog.pBtnUninstall->IsVisible());
        EXPECT_FALSE(dialog.pBtnClose->IsVisible());
        EXPECT_TRUE(dialog.pProgress->IsVisible());
        EXPECT_EQ(dialog.pStaticKeepConfig->GetText(), L"Uninstalling...");
        EXPECT_EQ(dialog.pStaticKeepConfig->GetRect()->GetRect()->top, 348);
    });
}

// Child side of the DPI test: not run on its own (DISABLED_), run by
// SetupDialogDpiTest in a process started at the chosen DPI. Writes the
// measured facts and the three pictures into the screens folder.
TEST(SetupDialogScreens, DISABLED_CaptureAtThisDpi) {
    InitLog();
    ScreenFacts facts;
    const std::wstring screens = ScreenFolder();
    {
        TestDialog dialog;
        RunDialog(dialog, [&](HWND wnd) {
            KillTimer(wnd, 1);
            facts.dpi = dialog.GetDpi();
            const int dpi = facts.dpi;
            const SIZE size = ClientSize(wnd);
            facts.width = size.cx;
            facts.height = size.cy;
            Canvas ready(size.cx, size.cy);
            Capture(wnd, ready);
            ready.SaveBmp(screens + L"\\ready_" + std::to_wstring(dpi) + L".bmp");
            // The button's border on its middle row, in window pixels.
            const int row = 374 * dpi / 96;
            for (int x = 0; x < size.cx; ++x) {
                const COLORREF c = ready.At(x, row);
                if (CountNear(ready, kInstallBorder, RECT{x, row, x + 1, row + 1}, 24) && abs(GetRValue(c) - 0x47) < 24) {
                    if (facts.buttonLeft < 0) facts.buttonLeft = x;
                    facts.buttonRight = x;
                }
            }
            facts.versionInk = CountNear(ready, RGB(0xBF, 0xBF, 0xBF), Scaled(dpi, 13, 39, 413, 59), 40);
            facts.pictureInk = CountNear(ready, kAccent, Scaled(dpi, 184, 52, 439, 307), 12);
            facts.closeInk = CountNear(ready, RGB(0x9A, 0x9A, 0xA6), Scaled(dpi, 600, 0, 617, 21), 40);

            ClickDesign(wnd, dpi, 540, 372);
            WaitFor([&] { return ClientSize(wnd).cy > size.cy; }, 5000);
            Sleep(300);
            const SIZE open = ClientSize(wnd);
            facts.panelHeight = open.cy;
            Canvas panel(open.cx, open.cy);
            Capture(wnd, panel);
            panel.SaveBmp(screens + L"\\options_" + std::to_wstring(dpi) + L".bmp");
            facts.accentBoxes = CountNear(panel, kAccent, Scaled(dpi, 44, 425, 58, 445), 12);
            RECT edit{};
            GetWindowRect(dialog.GetEditPathWindow(), &edit);
            POINT origin{0, 0};
            ClientToScreen(wnd, &origin);
            facts.editLeft = edit.left - origin.x;
            facts.editTop = edit.top - origin.y;
            facts.editWidth = edit.right - edit.left;
            facts.editHeight = edit.bottom - edit.top;
        });
    }
    {
        TestDialog dialog(true);
        RunDialog(dialog, [&](HWND wnd) {
            const SIZE size = ClientSize(wnd);
            Canvas canvas(size.cx, size.cy);
            Capture(wnd, canvas);
            canvas.SaveBmp(screens + L"\\uninstall_" + std::to_wstring(facts.dpi) + L".bmp");
            facts.uninstallButtonInk = CountNear(canvas, kAccent, Scaled(facts.dpi, 402, 356, 502, 388), 12);
        });
    }
    FILE* f = _wfopen((screens + L"\\facts.txt").c_str(), L"w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "%d %d %d %d %d %d %d %d %d %d %d %d %d %d %d\n", facts.dpi, facts.width, facts.height,
            facts.panelHeight, facts.buttonLeft, facts.buttonRight, facts.versionInk, facts.pictureInk, facts.closeInk,
            facts.accentBoxes, facts.editLeft, facts.editTop, facts.editWidth, facts.editHeight,
            facts.uninstallButtonInk);
    fclose(f);
}

class SetupDialogDpiTest : public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { SetLogPixels(96); }
};

TEST_P(SetupDialogDpiTest, PagesAreTheDesignPictureAtTheDisplaysScale) {
    const int dpi = GetParam();
    SetLogPixels(dpi);
    const std::wstring facts = ScreenFolder() + L"\\facts.txt";
    DeleteFileW(facts.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const auto result = RunProcess(L"\"" + std::wstring(self) +
                                       L"\" --gtest_also_run_disabled_tests "
                                       L"--gtest_filter=SetupDialogScreens.DISABLED_CaptureAtThisDpi",
                                   180000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    const std::string text = ReadFileBytes(facts);
    ScreenFacts f;
    ASSERT_EQ(sscanf(text.c_str(), "%d %d %d %d %d %d %d %d %d %d %d %d %d %d %d", &f.dpi, &f.width, &f.height,
                     &f.panelHeight, &f.buttonLeft, &f.buttonRight, &f.versionInk, &f.pictureInk, &f.closeInk,
                     &f.accentBoxes, &f.editLeft, &f.editTop, &f.editWidth, &f.editHeight, &f.uninstallButtonInk),
              15)
        << text;
    const auto scaled = [&](int v) { return v * dpi / 96; };
    EXPECT_EQ(f.dpi, dpi);
    EXPECT_EQ(f.width, scaled(kDesignWidth));
    EXPECT_EQ(f.height, scaled(kDesignHeight));
    EXPECT_EQ(f.panelHeight, scaled(kPanelHeight));
    // The Install button's borders stand at the scaled design columns 191 and 430.
    EXPECT_NEAR(f.buttonLeft, scaled(191), 2);
    EXPECT_NEAR(f.buttonRight, scaled(431) - 1, 2);
    // Ink scales with the area: at least the 96-DPI amount.
    EXPECT_GT(f.versionInk, 20);
    EXPECT_GT(f.pictureInk, 1000 * dpi / 96 * dpi / 96);
    EXPECT_GT(f.closeInk, 5);
    EXPECT_GT(f.accentBoxes, 60) << "the ticked Accept box";
    // The real edit window sits at the scaled folder rectangle.
    EXPECT_EQ(f.editLeft, scaled(44));
    EXPECT_EQ(f.editTop, scaled(460));
    EXPECT_EQ(f.editWidth, scaled(549) - scaled(44));
    EXPECT_EQ(f.editHeight, scaled(486) - scaled(460));
    EXPECT_GT(f.uninstallButtonInk, 1500 * dpi / 96 * dpi / 96);
}

INSTANTIATE_TEST_SUITE_P(Dpi, SetupDialogDpiTest, ::testing::Values(96, 120, 144));
