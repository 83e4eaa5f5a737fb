// The dialog base: template 173, centring at the scaled design size, the
// closing flags, the message routing, mouse capture and the window drag, and
// DPI scaling measured in child processes at 96, 120 and 144 DPI.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CommonDlg.h"
#include "SkinBitmap.h"
#include "SkinTestUtil.h"
#include "TestSupport.h"

using namespace skin_test;
using namespace testing_support;

namespace {

class TestDlg : public CommonDlg {
public:
    TestDlg(int width, int height, int closeFlags) {
        m_bFixedSize = width > 0;
        m_nWidth = width;
        m_nHeight = height;
        m_nCloseFlags = closeFlags;
    }
    int OnMessage(UINT message, WPARAM, LPARAM) override {
        if (message == WM_PAINT) return paintResult;
        if (message == WM_LBUTTONDOWN) return takePress;
        return 0;
    }
    int OnCommand(WPARAM wParam, LPARAM) override {
        commands.push_back(static_cast<int>(wParam));
        return 1;
    }
    void OnPaint() override { ++paints; }
    void OnCreate() override { ++creates; }

    int paintResult = 0;
    int takePress = 0;
    int paints = 0;
    int creates = 0;
    std::vector<int> commands;
};

TestDlg* g_dlg = nullptr;
UINT g_postMessage = 0;  // posted to the dialog at WM_INITDIALOG, then WM_APP
WPARAM g_postWParam = 0;

INT_PTR CALLBACK TestDlgProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        EndDialog(wnd, 77);  // the dialog was not ended by the base
        return 1;
    }
    if (!g_dlg) return 0;
    const INT_PTR r = g_dlg->DialogProc(wnd, message, wParam, lParam);
    if (message == WM_INITDIALOG && g_postMessage) {
        PostMessageW(wnd, g_postMessage, g_postWParam, 0);
        PostMessageW(wnd, WM_APP, 0, 0);
    }
    return r;
}

HWND OpenModeless(TestDlg& dlg) {
    g_dlg = &dlg;
    HWND wnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(173), nullptr, TestDlgProc, 0);
    ShowWindow(wnd, SW_SHOW);
    Pump(100);
    return wnd;
}

TEST(SkinDialogTest, MessageBoxTemplateIsAnExtendedBorderlessPopup) {
    HRSRC info = FindResourceW(GetSkinInstance(), MAKEINTRESOURCEW(173), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    ASSERT_NE(info, nullptr);
    const auto* p = static_cast<const BYTE*>(LockResource(LoadResource(GetSkinInstance(), info)));
    ASSERT_NE(p, nullptr);
    auto word = [&](size_t at) { return *reinterpret_cast<const WORD*>(p + at); };
    auto dword = [&](size_t at) { return *reinterpret_cast<const DWORD*>(p + at); };
    EXPECT_EQ(word(0), 1);       // dlgVer
    EXPECT_EQ(word(2), 0xFFFF);  // signature: DLGTEMPLATEEX
    EXPECT_EQ(dword(8), 0u);     // exStyle
    EXPECT_EQ(dword(12), 0x80080048u);
    EXPECT_EQ(word(16), 0);  // no controls
    EXPECT_EQ(static_cast<short>(word(18)), 0);
    EXPECT_EQ(static_cast<short>(word(20)), 0);
    EXPECT_EQ(word(22), 311);
    EXPECT_EQ(word(24), 177);
    EXPECT_EQ(word(26), 0);  // no menu
    EXPECT_EQ(word(28), 0);  // default class
    EXPECT_EQ(word(30), 0);  // no title
    EXPECT_EQ(word(32), 8);  // point size
    EXPECT_EQ(word(34), 400);
    EXPECT_EQ(p[36], 0);  // not italic
    EXPECT_EQ(p[37], 1);  // character set
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(p + 38)), L"MS Shell Dlg");
}

TEST(SkinDialogTest, FixedSizeDialogIsScaledAndCentredOnThePrimaryScreen) {
    TestDlg dlg(420, 210, 3);
    HWND wnd = OpenModeless(dlg);
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(dlg.GetWindow(), wnd);
    EXPECT_EQ(dlg.GetDpi(), 96) << "the harness's display runs at 96 DPI";
    RECT r{};
    GetWindowRect(wnd, &r);
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(r.right - r.left, 420);
    EXPECT_EQ(r.bottom - r.top, 210);
    EXPECT_EQ(r.left, (sw - 420) / 2);
    EXPECT_EQ(r.top, (sh - 210) / 2);
    DestroyWindow(wnd);
    Pump(300);

    // Not fixed: the template's own size, centred.
    TestDlg plain(0, 0, 3);
    wnd = OpenModeless(plain);
    RECT t{};
    GetWindowRect(wnd, &t);
    EXPECT_GT(t.right - t.left, 300);
    EXPECT_EQ(t.left, (sw - (t.right - t.left)) / 2);
    EXPECT_EQ(t.top, (sh - (t.bottom - t.top)) / 2);
    DestroyWindow(wnd);
    Pump(300);

}

TEST(SkinDialogTest, ClosingFlagsDecideWhetherEnterAndEscapeEndTheDialog) {
    struct Case {
        int flags;
        UINT message;
        WPARAM wParam;
        bool ends;
    } cases[] = {
        {0, WM_COMMAND, IDOK, false},        {0, WM_COMMAND, IDCANCEL, false},   {3, WM_COMMAND, IDOK, true},
        {3, WM_COMMAND, IDCANCEL, true},     {1, WM_COMMAND, IDOK, false},       {1, WM_COMMAND, IDCANCEL, true},
        {2, WM_COMMAND, IDOK, true},         {2, WM_COMMAND, IDCANCEL, false},   {3, WM_KEYDOWN, VK_RETURN, true},
        {3, WM_KEYDOWN, VK_ESCAPE, true},    {0, WM_KEYDOWN, VK_RETURN, false},  {0, WM_KEYDOWN, VK_ESCAPE, false},
        {3, WM_COMMAND, 1629, false},
    };
    for (const auto& c : cases) {
        TestDlg dlg(100, 50, c.flags);
        g_dlg = &dlg;
        g_postMessage = c.message;
        g_postWParam = c.wParam;
        const INT_PTR result =
            DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(173), nullptr, TestDlgProc, 0);
        g_postMessage = 0;
        const std::string what = "flags " + std::to_string(c.flags) + " message " + std::to_string(c.message) +
                                 " wParam " + std::to_string(c.wParam);
        EXPECT_EQ(result, c.ends ? 0 : 77) << what;
        if (c.ends) {
            EXPECT_TRUE(dlg.commands.empty()) << what;
        } else {
            ASSERT_EQ(dlg.commands.size(), 1u) << what;
            EXPECT_EQ(LOWORD(dlg.commands[0]), c.message == WM_COMMAND ? c.wParam : (c.wParam == VK_RETURN ? IDOK : IDCANCEL))
                << what;
        }
    }
}

TEST(SkinDialogTest, RoutingAnswersAndThePaintResultComesFromOnMessage) {
    TestDlg dlg(100, 50, 3);
    dlg.paintResult = 5;
    EXPECT_EQ(dlg.DialogProc(nullptr, WM_PAINT, 0, 0), 5);
    dlg.paintResult = 0;
    EXPECT_EQ(dlg.DialogProc(nullptr, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(dlg.paints, 2);
    EXPECT_EQ(dlg.DialogProc(nullptr, WM_CREATE, 0, 0), 1);
    EXPECT_EQ(dlg.creates, 1);
    EXPECT_EQ(dlg.DialogProc(nullptr, WM_COMMAND, 1629, 0), 1);  // OnCommand's answer
    EXPECT_EQ(dlg.DialogProc(nullptr, WM_TIMER, 1, 0), 0);
    EXPECT_EQ(dlg.OnSpare(1, 2), 0);
}

TEST(SkinDialogTest, DpiFallsBackTo96WithoutAWindow) {
    TestDlg dlg(622, 405, 0);
    EXPECT_EQ(dlg.GetDpi(), 96);
    OwnerWindow owner;
    dlg.OnInitDialog(owner.hwnd());
    DestroyWindow(owner.hwnd());
    EXPECT_EQ(dlg.GetDpi(), 96);
    EXPECT_EQ(dlg.Scale(622), 622);
    EXPECT_EQ(dlg.Scale(-7), -7);
}

TEST(SkinDialogTest, PressTakenByAControlCapturesTheMouseUntilRelease) {
    TestDlg dlg(200, 100, 3);
    dlg.takePress = 1;
    HWND wnd = OpenModeless(dlg);
    SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(GetCapture(), wnd);
    RECT before{}, after{};
    GetWindowRect(wnd, &before);
    SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(GetCapture(), nullptr);
    GetWindowRect(wnd, &after);
    EXPECT_EQ(before.left, after.left);
    DestroyWindow(wnd);
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

TEST(SkinDialogTest, PressOnNoControlDragsTheWindowWithRealInput) {
    TestDlg dlg(300, 150, 3);
    HWND wnd = OpenModeless(dlg);
    // On top of the windows of tests running beside this one, and settled.
    SetWindowPos(wnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(wnd);
    Pump(500);
    RECT before{};
    GetWindowRect(wnd, &before);
    const POINT start{before.left + 50, before.top + 50};
    ASSERT_EQ(WindowFromPoint(start), wnd) << "another window covers the test dialog";
    std::atomic<bool> done{false};
    std::thread driver([&] {
        // The button state is shared by every test on the display; start
        // from a released button, away from any window.
        MouseAt(5, 5, MOUSEEVENTF_LEFTUP);
        Sleep(100);
        MouseAt(start.x, start.y);
        Sleep(150);
        MouseAt(start.x, start.y, MOUSEEVENTF_LEFTDOWN);
        Sleep(300);
        for (int i = 1; i <= 10; ++i) {
            MouseAt(start.x + 8 * i, start.y + 5 * i);
            Sleep(30);
        }
        Sleep(200);
        MouseAt(start.x + 80, start.y + 50, MOUSEEVENTF_LEFTUP);
        // The platform's move loop runs on the test's thread until it sees a
        // release; should that one get lost, end the loop rather than hang.
        for (int i = 0; i < 100 && !done; ++i) {
            Sleep(50);
            if (i % 20 == 19) {
                SendMouse(MOUSEEVENTF_LEFTUP);
                keybd_event(VK_ESCAPE, 0, 0, 0);
                keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
            }
        }
    });
    const DWORD deadline = GetTickCount() + 5000;
    RECT after{};
    while (GetTickCount() < deadline) {
        Pump(50);
        GetWindowRect(wnd, &after);
        if (after.left == before.left + 80 && !(GetAsyncKeyState(VK_LBUTTON) & 0x8000)) break;
    }
    done = true;
    driver.join();
    Pump(200);
    GetWindowRect(wnd, &after);
    EXPECT_EQ(after.left - before.left, 80);
    EXPECT_EQ(after.top - before.top, 50);
    EXPECT_EQ(after.right - after.left, 300) << "moved, not resized";
    DestroyWindow(wnd);
}

// Child-process measurements: Wine reads the DPI from its registry when a
// process starts.
class SkinDpiTest : public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { SetLogPixels(96); }
};

TEST_P(SkinDpiTest, WindowSizesAreTruncatedScaledDesignSizes) {
    const int dpi = GetParam();
    SetLogPixels(dpi);
    ScratchFolder scratch(L"skin_dpi");
    const std::wstring out = scratch / L"probe.txt";
    const auto result = RunProcess(L"\"" + BuildPath(L"tests/skin/skin_probe.exe") + L"\" \"" + out + L"\"", 60000);
    ASSERT_TRUE(result.finished);
    ASSERT_EQ(result.exitCode, 0u);
    const std::string text = ReadFileBytes(out);
    // The box as the display showed it, kept for looking at.
    CopyFileW((out + L".bmp").c_str(), BuildPath(L"tests/skin/msgbox_" + std::to_wstring(dpi) + L".bmp").c_str(), FALSE);
    int gotDpi = 0, w1 = 0, h1 = 0, x1 = 0, y1 = 0, w2 = 0, h2 = 0, x2 = 0, y2 = 0, boxW = 0, boxH = 0, result2 = 0;
    unsigned corner = 0, footer = 0, header = 0;
    ASSERT_EQ(sscanf(text.c_str(), "%d %d %d %d %d %d %d %d %d %d %d %x %x %x %d", &gotDpi, &w1, &h1, &x1, &y1, &w2,
                     &h2, &x2, &y2, &boxW, &boxH, &header, &footer, &corner, &result2),
              15)
        << text;
    EXPECT_EQ(gotDpi, dpi);
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(w1, 622 * dpi / 96);  // 622, 777, 933
    EXPECT_EQ(h1, 405 * dpi / 96);  // 405, 506, 607
    EXPECT_EQ(x1, (sw - w1) / 2);
    EXPECT_EQ(y1, (sh - h1) / 2);
    EXPECT_EQ(w2, 420 * dpi / 96);  // 420, 525, 630
    EXPECT_EQ(h2, 210 * dpi / 96);  // 210, 262, 315
    EXPECT_EQ(x2, (sw - w2) / 2);
    EXPECT_EQ(y2, (sh - h2) / 2);
    // The message box at this DPI: its window scaled, its whole area painted.
    EXPECT_EQ(boxW, w2);
    EXPECT_EQ(boxH, h2);
    EXPECT_EQ(header, 0x4A47B5u) << "header band at the top right";
    EXPECT_EQ(footer, 0xF7FBFDu) << "footer band under the button";
    EXPECT_EQ(corner, 0xF7FBFDu) << "footer band at the bottom right corner";
    EXPECT_EQ(result2, 1629) << "a click on the button as the display shows it";
}

INSTANTIATE_TEST_SUITE_P(Dpi, SkinDpiTest, ::testing::Values(96, 120, 144));

}  // namespace
