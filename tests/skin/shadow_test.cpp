// The layered drop shadow: its window (class, styles, owner, geometry), the
// show and hide rules as the parent moves, resizes, hides and is maximised,
// the composition-change message, and the pixels of its image. Xvfb has no
// compositor, so the image is checked as computed, not on the screen.
#include <gtest/gtest.h>

#include <windows.h>
#include <dwmapi.h>

#include <cstdio>
#include <vector>

#include "SkinTestUtil.h"
#include "TestSupport.h"
#include "WndShadow.h"

using namespace skin_test;
using namespace testing_support;

namespace {

RECT WindowRect(HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return r;
}

WNDPROC ProcOf(HWND wnd) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(wnd, GWLP_WNDPROC)); }

class SkinShadowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CWndShadow::Initialize(GetModuleHandleW(nullptr))); }
};

TEST_F(SkinShadowTest, InitializeRunsOnceAndRegistersTheClass) {
    EXPECT_FALSE(CWndShadow::Initialize(GetModuleHandleW(nullptr)));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"PelnoShadowWnd", &wc));
    EXPECT_EQ(wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    EXPECT_NE(wc.hCursor, nullptr);
    EXPECT_EQ(wc.hIcon, nullptr);
}

TEST_F(SkinShadowTest, CreateMakesALayeredClickThroughPopupOwnedByTheParent) {
    OwnerWindow parent(200, 150, 400, 300);
    const WNDPROC original = ProcOf(parent.hwnd());
    CWndShadow shadow;
    shadow.Create(parent.hwnd(), true);
    Pump(100);
    HWND wnd = shadow.GetShadowWindow();
    ASSERT_TRUE(IsWindow(wnd));
    wchar_t cls[64] = {};
    GetClassNameW(wnd, cls, 64);
    EXPECT_STREQ(cls, L"PelnoShadowWnd");
    const LONG ex = GetWindowLongW(wnd, GWL_EXSTYLE);
    EXPECT_EQ(ex & (WS_EX_LAYERED | WS_EX_TRANSPARENT), WS_EX_LAYERED | WS_EX_TRANSPARENT);
    EXPECT_EQ(GetWindowLongW(wnd, GWL_STYLE) & WS_POPUPWINDOW, static_cast<LONG>(WS_POPUPWINDOW));
    EXPECT_EQ(GetWindow(wnd, GW_OWNER), parent.hwnd());
    const RECT r = WindowRect(wnd);
    EXPECT_EQ(r.left, 170);
    EXPECT_EQ(r.top, 120);
    EXPECT_EQ(r.right, 630);
    EXPECT_EQ(r.bottom, 480);
    EXPECT_TRUE(IsWindowVisible(wnd));
    EXPECT_EQ(shadow.GetStatus(), CWndShadow::kEnabled | CWndShadow::kVisible | CWndShadow::kParentVisible);
    EXPECT_NE(ProcOf(parent.hwnd()), original) << "the parent is subclassed";

    // Later calls do nothing: no second window, no second subclassing.
    const WNDPROC subclassed = ProcOf(parent.hwnd());
    shadow.Create(parent.hwnd(), true);
    EXPECT_EQ(shadow.GetShadowWindow(), wnd);
    EXPECT_EQ(ProcOf(parent.hwnd()), subclassed);
}

TEST_F(SkinShadowTest, CreateWithoutShowLeavesTheShadowHiddenUntilTheParentSizes) {
    OwnerWindow parent(200, 150, 400, 300);
    CWndShadow shadow;
    shadow.Create(parent.hwnd(), false);
    EXPECT_FALSE(IsWindowVisible(shadow.GetShadowWindow()));
    ShowWindow(parent.hwnd(), SW_HIDE);
    ShowWindow(parent.hwnd(), SW_SHOW);
    Pump(100);
    EXPECT_TRUE(IsWindowVisible(shadow.GetShadowWindow()));
}

TEST_F(SkinShadowTest, SecondShadowOnTheSameParentIsRefused) {
    OwnerWindow parent(200, 150, 400, 300);
    CWndShadow first, second;
    first.Create(parent.hwnd(), true);
    const WNDPROC subclassed = ProcOf(parent.hwnd());
    second.Create(parent.hwnd(), true);
    EXPECT_EQ(second.GetShadowWindow(), reinterpret_cast<HWND>(-1));
    EXPECT_EQ(ProcOf(parent.hwnd()), subclassed) << "subclassing twice would recurse without end";
    // The parent still works and its one shadow follows it.
    SetWindowPos(parent.hwnd(), nullptr, 250, 160, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Pump(50);
    EXPECT_EQ(WindowRect(first.GetShadowWindow()).left, 220);
    EXPECT_EQ(WindowRect(first.GetShadowWindow()).top, 130);
}

TEST_F(SkinShadowTest, FollowsMovesAndShrinksAtOnceGrowsAtTheNextPaint) {
    OwnerWindow parent(200, 150, 400, 300);
    CWndShadow shadow;
    shadow.Create(parent.hwnd(), true);
    HWND wnd = shadow.GetShadowWindow();
    // The first size after attaching counts as growth (the last size starts
    // at 50): it waits for the next paint.
    SendMessageW(parent.hwnd(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
    UpdateWindow(parent.hwnd());
    Pump(50);

    SetWindowPos(parent.hwnd(), nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r = WindowRect(wnd);
    EXPECT_EQ(r.left, 270);
    EXPECT_EQ(r.top, 170);
    EXPECT_EQ(r.right - r.left, 460) << "a move keeps the size";

    SetWindowPos(parent.hwnd(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    r = WindowRect(wnd);
    EXPECT_EQ(r.right - r.left, 360) << "shrinking rebuilds at once";
    EXPECT_EQ(r.bottom - r.top, 260);

    ValidateRect(parent.hwnd(), nullptr);
    SetWindowPos(parent.hwnd(), nullptr, 0, 0, 500, 350, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    r = WindowRect(wnd);
    EXPECT_EQ(r.right - r.left, 360) << "growing waits for the parent's paint";
    InvalidateRect(parent.hwnd(), nullptr, FALSE);
    UpdateWindow(parent.hwnd());
    r = WindowRect(wnd);
    EXPECT_EQ(r.right - r.left, 560);
    EXPECT_EQ(r.bottom - r.top, 410);
    EXPECT_EQ(r.left, 270);

    // The end of a move or size loop places the shadow again.
    SendMessageW(parent.hwnd(), WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(WindowRect(wnd).right - WindowRect(wnd).left, 560);
}

TEST_F(SkinShadowTest, HiddenWhileTheParentIsHiddenMaximisedOrMinimised) {
    OwnerWindow parent(200, 150, 400, 300, WS_POPUP | WS_VISIBLE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU);
    CWndShadow shadow;
    shadow.Create(parent.hwnd(), true);
    HWND wnd = shadow.GetShadowWindow();
    const uint8_t shown = CWndShadow::kEnabled | CWndShadow::kVisible | CWndShadow::kParentVisible;

    ShowWindow(parent.hwnd(), SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(wnd));
    EXPECT_EQ(shadow.GetStatus(), CWndShadow::kEnabled) << "visible and parent-visible bits cleared";
    ShowWindow(parent.hwnd(), SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(wnd));
    EXPECT_EQ(shadow.GetStatus(), shown);

    SendMessageW(parent.hwnd(), WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1280, 1024));
    EXPECT_FALSE(IsWindowVisible(wnd));
    SendMessageW(parent.hwnd(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(400, 300));
    EXPECT_TRUE(IsWindowVisible(wnd));

    ShowWindow(parent.hwnd(), SW_MINIMIZE);
    Pump(100);
    EXPECT_FALSE(IsWindowVisible(wnd)) << "minimised";
    ShowWindow(parent.hwnd(), SW_RESTORE);
    Pump(100);
    EXPECT_TRUE(IsWindowVisible(wnd)) << "restored";
    EXPECT_EQ(shadow.GetStatus(), shown);
}

TEST_F(SkinShadowTest, CompositionOnHidesTheShadowUntilItIsReportedOff) {
    BOOL composition = FALSE;
    ASSERT_EQ(DwmIsCompositionEnabled(&composition), S_OK);
    ASSERT_TRUE(composition) << "the harness's prefix reports Windows 10, with composition";
    OwnerWindow parent(200, 150, 400, 300);
    CWndShadow shadow;
    shadow.Create(parent.hwnd(), true);
    HWND wnd = shadow.GetShadowWindow();
    ASSERT_TRUE(IsWindowVisible(wnd));
    SendMessageW(parent.hwnd(), WM_DWMCOMPOSITIONCHANGED, 0, 0);
    EXPECT_FALSE(IsWindowVisible(wnd));
    EXPECT_TRUE(shadow.GetStatus() & CWndShadow::kDisabledByComposition);
    // It stays hidden through everything the parent does.
    ShowWindow(parent.hwnd(), SW_HIDE);
    ShowWindow(parent.hwnd(), SW_SHOW);
    SetWindowPos(parent.hwnd(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(parent.hwnd(), WM_DWMCOMPOSITIONCHANGED, 0, 0);
    Pump(50);
    EXPECT_FALSE(IsWindowVisible(wnd));
}

TEST_F(SkinShadowTest, CompositionReportedOffKeepsTheShadow) {
    // Wine answers by the Windows version it reports; a Windows 7 setting for
    // the probe makes it report composition off.
    const wchar_t* appKey = L"Software\\Wine\\AppDefaults\\skin_probe.exe";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, appKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
    const wchar_t version[] = L"win7";
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
    RegCloseKey(key);
    ScratchFolder scratch(L"skin_shadow");
    const std::wstring out = scratch / L"probe.txt";
    const auto result =
        RunProcess(L"\"" + BuildPath(L"tests/skin/skin_probe.exe") + L"\" \"" + out + L"\" shadow", 60000);
    RegDeleteTreeW(HKEY_CURRENT_USER, appKey);
    ASSERT_TRUE(result.finished);
    ASSERT_EQ(result.exitCode, 0u);
    int composition = -1, visible = -1, status = -1;
    ASSERT_EQ(sscanf(ReadFileBytes(out).c_str(), "%d %d %d", &composition, &visible, &status), 3);
    EXPECT_EQ(composition, 0);
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(status, CWndShadow::kEnabled | CWndShadow::kVisible | CWndShadow::kParentVisible);
}

TEST_F(SkinShadowTest, DestroyingTheParentDestroysTheShadowAndAForeignWindowFallsThrough) {
    CWndShadow shadow;
    HWND wnd = nullptr;
    WNDPROC parentProc = nullptr;
    {
        OwnerWindow parent(200, 150, 400, 300);
        shadow.Create(parent.hwnd(), true);
        wnd = shadow.GetShadowWindow();
        parentProc = ProcOf(parent.hwnd());
        // A window that is not in the shadow's map gets the default procedure.
        OwnerWindow other(10, 10, 50, 50);
        EXPECT_EQ(CallWindowProcW(parentProc, other.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"fallthrough")),
                  TRUE);
        wchar_t text[32] = {};
        GetWindowTextW(other.hwnd(), text, 32);
        EXPECT_STREQ(text, L"fallthrough");
    }
    EXPECT_FALSE(IsWindow(wnd));
    // A new parent, a new shadow: the old entry is gone from the map.
    OwnerWindow parent(100, 100, 200, 100);
    CWndShadow next;
    next.Create(parent.hwnd(), true);
    EXPECT_TRUE(IsWindowVisible(next.GetShadowWindow()));
}

TEST_F(SkinShadowTest, DestroyingTheShadowFirstGivesTheParentItsProcedureBack) {
    OwnerWindow parent(200, 150, 400, 300);
    const WNDPROC original = ProcOf(parent.hwnd());
    HWND wnd = nullptr;
    {
        CWndShadow shadow;
        shadow.Create(parent.hwnd(), true);
        wnd = shadow.GetShadowWindow();
    }
    EXPECT_EQ(ProcOf(parent.hwnd()), original);
    EXPECT_FALSE(IsWindow(wnd));
    SetWindowPos(parent.hwnd(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
    SendMessageW(parent.hwnd(), WM_DWMCOMPOSITIONCHANGED, 0, 0);  // nothing left to call
    CWndShadow again;
    again.Create(parent.hwnd(), true);
    EXPECT_TRUE(IsWindowVisible(again.GetShadowWindow())) << "the parent can take a shadow again";
}

TEST(SkinShadowPixelsTest, PreMultiplyTable) {
    struct Case {
        COLORREF colour;
        uint8_t alpha;
        uint32_t want;
    } cases[] = {
        {0x323232, 30, 0x050505}, {0x323232, 29, 0x050505}, {0x323232, 0, 0},
        {RGB(255, 128, 0), 128, 0x804000}, {RGB(255, 255, 255), 255, 0xFFFFFF}, {RGB(10, 20, 30), 255, 0x0A141E},
    };
    for (const auto& c : cases) EXPECT_EQ(CWndShadow::PreMultiply(c.colour, c.alpha), c.want);
}

TEST(SkinShadowPixelsTest, ImageIsASoftSymmetricEdgeAroundATransparentParent) {
    const int W = 100, H = 80, s = 30, SW = W + 2 * s, SH = H + 2 * s;
    std::vector<uint32_t> image(SW * SH, 0);
    const RECT parentRect{500, 400, 500 + W, 400 + H};
    CWndShadow shadow;
    shadow.MakeShadow(image.data(), nullptr, &parentRect);
    auto px = [&](int x, int y) { return image[(SH - 1 - y) * SW + x]; };  // bottom-up rows
    auto alpha = [&](int x, int y) { return px(x, y) >> 24; };

    int inside = 0;
    for (int y = s; y < s + H; ++y)
        for (int x = s; x < s + W; ++x) inside += px(x, y) != 0;
    EXPECT_EQ(inside, 0) << "the parent's own area stays transparent";

    // Next to the parent the kernel is one pixel from its centre: alpha 29.
    EXPECT_EQ(px(s - 1, s + H / 2), 0x1D050505u);
    EXPECT_EQ(px(s + W, s + H / 2), 0x1D050505u);
    EXPECT_EQ(px(s + W / 2, s - 1), 0x1D050505u);
    EXPECT_EQ(px(s + W / 2, s + H), 0x1D050505u);
    EXPECT_EQ(px(0, 0), 0u) << "corners fade out";
    EXPECT_EQ(px(SW - 1, SH - 1), 0u);

    for (int x = 1; x < s; ++x) EXPECT_GE(alpha(x, s + H / 2), alpha(x - 1, s + H / 2)) << x;
    EXPECT_LE(alpha(0, s + H / 2), 1u);
    for (int y = 0; y < SH; ++y) {
        for (int x = 0; x < SW; ++x) {
            const uint32_t a = alpha(x, y);
            ASSERT_LE(a, 30u);
            ASSERT_EQ(px(x, y) & 0xFFFFFF, CWndShadow::PreMultiply(0x323232, static_cast<uint8_t>(a))) << x << "," << y;
            ASSERT_EQ(px(x, y), px(SW - 1 - x, y)) << "left-right symmetry at " << x << "," << y;
            ASSERT_EQ(px(x, y), px(x, SH - 1 - y)) << "top-bottom symmetry at " << x << "," << y;
        }
    }
}

TEST(SkinShadowPixelsTest, ParentRegionShapesTheCutOut) {
    // A parent with a window region narrower than its rectangle: the columns
    // outside the region are shadow, not transparent.
    OwnerWindow parent(200, 150, 100, 80);
    SetWindowRgn(parent.hwnd(), CreateRectRgn(20, 0, 100, 80), TRUE);
    const int W = 100, H = 80, s = 30, SW = W + 2 * s, SH = H + 2 * s;
    std::vector<uint32_t> image(SW * SH, 0);
    const RECT rect{0, 0, W, H};
    CWndShadow shadow;
    shadow.MakeShadow(image.data(), parent.hwnd(), &rect);
    auto px = [&](int x, int y) { return image[(SH - 1 - y) * SW + x]; };
    EXPECT_EQ(px(s + 25, s + 40), 0u) << "inside the region";
    EXPECT_NE(px(s + 5, s + 40), 0u) << "left of the region, inside the rectangle";
    EXPECT_EQ(px(s + 19, s + 40), 0x1D050505u);
}

}  // namespace
