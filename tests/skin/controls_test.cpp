// The window-less controls and the owner's mouse protocol, driven with the
// owner's mouse messages and painted into off-screen canvases.
#include <gtest/gtest.h>

#include <memory>

#include "SkinCtrls.h"
#include "SkinTestUtil.h"

using namespace skin_test;

namespace {

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

TEST(SkinCommonRectTest, InflateAndDeflateKeepSizeRectInStep) {
    struct Case {
        RECT start;
        int n;
        bool deflate;
        RECT want;
    } cases[] = {
        {{2, 3, 100, 50}, 5, true, {7, 8, 95, 45}},
        {{2, 3, 100, 50}, -5, true, {0, 0, 105, 55}},
        {{2, 3, 100, 50}, 5, false, {0, 0, 105, 55}},
        {{10, 20, 30, 40}, 4, false, {6, 16, 34, 44}},
    };
    for (const auto& c : cases) {
        CommonRect r(c.start.left, c.start.top, c.start.right, c.start.bottom);
        c.deflate ? r.Deflate(c.n) : r.Inflate(c.n);
        const RECT* got = r.GetRect();
        EXPECT_EQ(got->left, c.want.left);
        EXPECT_EQ(got->top, c.want.top);
        EXPECT_EQ(got->right, c.want.right);
        EXPECT_EQ(got->bottom, c.want.bottom);
        EXPECT_EQ(r.GetWidth(), c.want.right - c.want.left);
        EXPECT_EQ(r.GetHeight(), c.want.bottom - c.want.top);
        EXPECT_EQ(r.GetSizeRect()->right, r.GetWidth());
        EXPECT_EQ(r.GetSizeRect()->bottom, r.GetHeight());
        CommonRect copy(r);
        EXPECT_EQ(copy.GetRect()->left, got->left);
        EXPECT_EQ(copy.GetHeight(), r.GetHeight());
    }
}

TEST(SkinCommonCtrlTest, HitTestIncludesAllFourEdges) {
    OwnerWindow owner;
    ButtonCtrlEx button(owner.hwnd(), RECT{10, 20, 50, 40});
    struct Case {
        int x, y;
        bool hit;
    } cases[] = {
        {10, 30, true},  {50, 30, true},  {30, 20, true},  {30, 40, true},  {10, 20, true}, {50, 40, true},
        {9, 30, false},  {51, 30, false}, {30, 19, false}, {30, 41, false}, {-1, -1, false},
    };
    for (const auto& c : cases) EXPECT_EQ(button.HitTest(c.x, c.y), c.hit) << c.x << "," << c.y;
}

// Two buttons side by side in a real owner window that records commands.
class SkinButtonProtocolTest : public ::testing::Test {
protected:
    SkinButtonProtocolTest() {
        a_.SetId(101);
        b_.SetId(102);
        controls_ = {&a_, &b_};
    }
    void Move(int x, int y, bool button) { DispatchMouseMove(controls_, button ? MK_LBUTTON : 0, At(x, y), pressed_); }
    int Down(int x, int y) {
        pressed_ = true;
        return DispatchLButtonDown(controls_, At(x, y));
    }
    int Up(int x, int y) {
        pressed_ = false;
        return DispatchLButtonUp(controls_, At(x, y));
    }

    OwnerWindow owner_;
    ButtonCtrlEx a_{owner_.hwnd(), RECT{10, 10, 60, 40}};
    ButtonCtrlEx b_{owner_.hwnd(), RECT{100, 10, 150, 40}};
    std::vector<CommonCtrl*> controls_;
    bool pressed_ = false;
};

TEST_F(SkinButtonProtocolTest, ClickSendsTheButtonsIdToTheOwner) {
    Move(20, 20, false);
    EXPECT_EQ(a_.GetState(), CtrlStateHover);
    EXPECT_EQ(Down(20, 20), 1);
    EXPECT_EQ(a_.GetState(), CtrlStatePressed);
    EXPECT_EQ(Up(20, 20), 1);
    EXPECT_EQ(owner_.commands, std::vector<int>{101});
    EXPECT_EQ(a_.GetState(), CtrlStateHover);
    EXPECT_FALSE(a_.IsPressed());
}

TEST_F(SkinButtonProtocolTest, ReleaseOutsideSendsNothingButBackOnBeforeReleaseDoes) {
    Down(20, 20);
    Move(80, 20, true);  // off the button with the mouse button held
    EXPECT_EQ(a_.GetState(), CtrlStateNormal);
    EXPECT_EQ(Up(80, 20), 0);
    EXPECT_TRUE(owner_.commands.empty());

    Down(20, 20);
    Move(80, 20, true);
    Move(30, 25, true);  // back on it
    EXPECT_EQ(a_.GetState(), CtrlStatePressed);
    EXPECT_EQ(Up(30, 25), 1);
    EXPECT_EQ(owner_.commands, std::vector<int>{101});
}

TEST_F(SkinButtonProtocolTest, SlideFromOneButtonToAnotherSendsTheSecondsCommand) {
    EXPECT_EQ(Down(20, 20), 1);
    Move(120, 20, true);
    EXPECT_EQ(a_.GetState(), CtrlStateNormal);
    EXPECT_EQ(b_.GetState(), CtrlStatePressed);
    EXPECT_EQ(Up(120, 20), 1);
    EXPECT_EQ(owner_.commands, std::vector<int>{102});
}

TEST_F(SkinButtonProtocolTest, MoveWithoutButtonWhilePressedSendsTheCommand) {
    EXPECT_EQ(a_.OnLButtonDown(20, 20), 1);  // the release never arrives
    Move(25, 25, false);
    EXPECT_EQ(owner_.commands, std::vector<int>{101});
    EXPECT_EQ(a_.GetState(), CtrlStateHover);
}

TEST_F(SkinButtonProtocolTest, PressOnNoControlIsTakenByNone) {
    EXPECT_EQ(Down(80, 80), 0);
    EXPECT_EQ(Up(80, 80), 0);
    EXPECT_TRUE(owner_.commands.empty());
}

TEST_F(SkinButtonProtocolTest, HiddenAndDisabledButtonsIgnoreTheMouse) {
    a_.OnLButtonDown(20, 20);  // pressed, state pressed
    a_.SetVisible(false);
    EXPECT_EQ(Down(20, 20), 0);
    EXPECT_EQ(Up(20, 20), 0);
    Move(20, 20, false);
    EXPECT_EQ(a_.GetState(), CtrlStatePressed) << "a hidden button keeps its state";
    EXPECT_TRUE(a_.IsPressed());
    EXPECT_TRUE(owner_.commands.empty());
    Canvas canvas(200, 60);
    EXPECT_EQ(a_.Paint(canvas.dc()), 0);

    b_.SetEnabled(false);
    EXPECT_EQ(b_.GetState(), CtrlStateDisabled);
    EXPECT_EQ(Down(120, 20), 0);
    EXPECT_EQ(Up(120, 20), 0);
    EXPECT_TRUE(owner_.commands.empty());

    // Re-enabled, it keeps the disabled look until the mouse moves.
    b_.SetEnabled(true);
    EXPECT_EQ(b_.GetState(), CtrlStateDisabled);
    Move(190, 50, false);
    EXPECT_EQ(b_.GetState(), CtrlStateNormal);
    Move(120, 20, false);
    EXPECT_EQ(b_.GetState(), CtrlStateHover);
}

TEST(SkinButtonPaintTest, StateBitmapAndStateTextColourFollowTheState) {
    OwnerWindow owner;
    TestFont font(28);
    const COLORREF bitmapColours[4] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(90, 90, 90)};
    const COLORREF textColours[4] = {RGB(255, 255, 0), RGB(0, 255, 255), RGB(255, 0, 255), RGB(255, 255, 255)};
    HBITMAP bitmaps[4];
    for (int i = 0; i < 4; ++i) bitmaps[i] = SolidBitmap(120, 40, bitmapColours[i]);
    ButtonCtrlEx button(owner.hwnd(), RECT{0, 0, 120, 40});
    button.SetId(7);
    button.SetDrawBitmap(true);
    button.SetFont(font.get());
    button.SetText(L"MWMW");
    button.SetStateBitmaps(bitmaps[0], bitmaps[1], bitmaps[2], bitmaps[3]);
    button.SetStateColors(textColours[0], textColours[1], textColours[2], textColours[3]);

    auto paintState = [&](int state) {
        Canvas canvas(120, 40);
        EXPECT_EQ(button.Paint(canvas.dc()), 1);
        EXPECT_EQ(canvas.At(1, 1), bitmapColours[state]) << "state " << state;
        EXPECT_GT(canvas.Count(textColours[state]), 20) << "state " << state;
    };
    paintState(CtrlStateNormal);
    button.OnMouseMove(50, 20);
    paintState(CtrlStateHover);
    button.OnLButtonDown(50, 20);
    paintState(CtrlStatePressed);
    button.SetEnabled(false);
    paintState(CtrlStateDisabled);

    // A null state bitmap leaves the area as it was.
    button.SetStateBitmaps(nullptr, nullptr, nullptr, nullptr);
    Canvas canvas(120, 40, RGB(1, 2, 3));
    button.Paint(canvas.dc());
    EXPECT_EQ(canvas.At(1, 1), RGB(1, 2, 3));
    EXPECT_EQ(button.Paint(nullptr), 0);
    for (HBITMAP b : bitmaps) DeleteObject(b);
}

TEST(SkinButtonPaintTest, DefaultStateColours) {
    OwnerWindow owner;
    TestFont font(28);
    ButtonCtrlEx button(owner.hwnd(), RECT{0, 0, 120, 40});
    button.SetFont(font.get());
    button.SetText(L"MWMW");
    const COLORREF defaults[4] = {0x333333, 0x666666, 0x111111, 0x999999};
    Canvas normal(120, 40);
    button.Paint(normal.dc());
    EXPECT_GT(normal.Count(defaults[0]), 20);
    button.SetEnabled(false);
    Canvas disabled(120, 40);
    button.Paint(disabled.dc());
    EXPECT_GT(disabled.Count(defaults[3]), 20);
}

TEST(SkinColorButtonTest, BorderThenInsetFillAndZeroMeansNoFill) {
    OwnerWindow owner;
    ButtonColorCtrlEx button(owner.hwnd(), RECT{10, 10, 110, 50});
    button.SetBorderWidth(3);
    button.SetBorderColors(RGB(200, 0, 0), RGB(0, 200, 0), 0, 0);
    button.SetFillColors(RGB(0, 0, 200), RGB(0, 100, 100), 0, 0);
    Canvas normal(120, 60);
    button.Paint(normal.dc());
    EXPECT_EQ(normal.At(10, 10), RGB(200, 0, 0));
    EXPECT_EQ(normal.At(12, 30), RGB(200, 0, 0));
    EXPECT_EQ(normal.At(13, 30), RGB(0, 0, 200));
    EXPECT_EQ(normal.At(106, 46), RGB(0, 0, 200));
    EXPECT_EQ(normal.At(107, 46), RGB(200, 0, 0));
    EXPECT_EQ(normal.Count(RGB(0, 0, 200)), 94 * 34);

    button.OnMouseMove(50, 30);
    Canvas hover(120, 60);
    button.Paint(hover.dc());
    EXPECT_EQ(hover.At(11, 11), RGB(0, 200, 0));
    EXPECT_EQ(hover.At(50, 30), RGB(0, 100, 100));

    // Border and fill colour 0 in the pressed state: only the text is drawn.
    TestFont font(24);
    button.SetFont(font.get());
    button.SetText(L"MW");
    button.SetStateColors(0, 0, RGB(255, 0, 255), 0);
    button.OnLButtonDown(50, 30);
    Canvas pressed(120, 60, RGB(250, 250, 250));
    button.Paint(pressed.dc());
    EXPECT_EQ(pressed.At(11, 11), RGB(250, 250, 250));
    EXPECT_GT(pressed.Count(RGB(255, 0, 255)), 10);
    EXPECT_EQ(pressed.Count(RGB(250, 250, 250)) + pressed.Count(RGB(255, 0, 255)), 120 * 60);
}

TEST(SkinHyLinkTest, HoverFontOnlyWhileHoveredAndNoInvalidationWithoutIt) {
    OwnerWindow owner(100, 100, 300, 100);
    TestFont small(12, FW_NORMAL), large(30);
    HyLinkCtrlEx link(owner.hwnd(), RECT{0, 0, 280, 60});
    link.SetFont(small.get());
    link.SetText(L"MWMWMW");
    link.SetStateColors(RGB(0, 0, 0), RGB(0, 0, 0), RGB(0, 0, 0), RGB(0, 0, 0));
    auto inkHeight = [&]() {
        Canvas canvas(280, 60);
        link.Paint(canvas.dc());
        const RECT all{0, 0, 280, 60};
        return canvas.LastInkRow(RGB(255, 255, 255), all) - canvas.FirstInkRow(RGB(255, 255, 255), all);
    };
    const int normalHeight = inkHeight();
    link.SetHoverFont(large.get());
    link.OnMouseMove(10, 10);
    EXPECT_EQ(link.GetState(), CtrlStateHover);
    EXPECT_GT(inkHeight(), normalHeight + 5) << "the hover font draws while hovered";
    link.OnMouseMove(290, 90);
    EXPECT_EQ(link.GetState(), CtrlStateNormal);
    EXPECT_EQ(inkHeight(), normalHeight);

    // Without a hover font a hovered link draws in the dc's font and
    // invalidates nothing; with a font it invalidates its rectangle.
    link.SetHoverFont(nullptr);
    ValidateRect(owner.hwnd(), nullptr);
    {
        Canvas canvas(280, 60);
        link.Paint(canvas.dc());
    }
    EXPECT_TRUE(GetUpdateRect(owner.hwnd(), nullptr, FALSE)) << "a drawn font invalidates the control";
    ValidateRect(owner.hwnd(), nullptr);
    link.OnMouseMove(10, 10);
    {
        Canvas canvas(280, 60);
        link.Paint(canvas.dc());
    }
    EXPECT_FALSE(GetUpdateRect(owner.hwnd(), nullptr, FALSE));
}

TEST(SkinCheckButtonTest, ClickDoesNotToggleAndCheckedSetIsDrawnWhileChecked) {
    OwnerWindow owner;
    const COLORREF plain[4] = {RGB(10, 0, 0), RGB(20, 0, 0), RGB(30, 0, 0), RGB(40, 0, 0)};
    const COLORREF checked[4] = {RGB(0, 10, 0), RGB(0, 20, 0), RGB(0, 30, 0), RGB(0, 40, 0)};
    HBITMAP bp[4], bc[4];
    for (int i = 0; i < 4; ++i) {
        bp[i] = SolidBitmap(20, 20, plain[i]);
        bc[i] = SolidBitmap(20, 20, checked[i]);
    }
    CheckButtonCtrl box(owner.hwnd(), RECT{0, 0, 20, 20});
    box.SetId(55);
    box.SetDrawBitmap(true);
    box.SetStateBitmaps(bp[0], bp[1], bp[2], bp[3]);
    box.SetCheckedBitmaps(bc[0], bc[1], bc[2], bc[3]);
    std::vector<CommonCtrl*> list{&box};
    DispatchLButtonDown(list, At(5, 5));
    DispatchLButtonUp(list, At(5, 5));
    EXPECT_EQ(owner.commands, std::vector<int>{55});
    EXPECT_EQ(box.GetCheck(), 0) << "the owner flips the flag, not the control";

    box.SetCheck(1);
    EXPECT_EQ(box.GetCheck(), 1);
    box.OnMouseMove(5, 5);
    Canvas canvas(20, 20);
    box.Paint(canvas.dc());
    EXPECT_EQ(canvas.At(10, 10), checked[CtrlStateHover]);
    box.SetCheck(0);
    box.Paint(canvas.dc());
    EXPECT_EQ(canvas.At(10, 10), plain[CtrlStateHover]);

    // The extended check box draws its box and text at offsets.
    CheckButtonCtrlEx ex(owner.hwnd(), RECT{30, 10, 200, 40});
    ex.SetDrawBitmap(true);
    ex.SetStateBitmaps(bp[0], bp[1], bp[2], bp[3]);
    ex.SetCheckedBitmaps(bc[0], bc[1], bc[2], bc[3]);
    ex.SetBoxRect(2, 5, 20, 20);
    ex.SetTextRect(30, 0, 140, 30);
    ex.SetCheck(1);
    Canvas exCanvas(220, 60);
    ex.Paint(exCanvas.dc());
    EXPECT_EQ(exCanvas.At(32, 15), checked[CtrlStateNormal]);
    EXPECT_EQ(exCanvas.At(51, 34), checked[CtrlStateNormal]);
    EXPECT_EQ(exCanvas.At(52, 34), RGB(255, 255, 255));
    EXPECT_EQ(exCanvas.Count(checked[CtrlStateNormal]), 400);
    for (int i = 0; i < 4; ++i) {
        DeleteObject(bp[i]);
        DeleteObject(bc[i]);
    }
}

TEST(SkinProcessCtrlTest, BarWidthTable) {
    OwnerWindow owner;
    struct Case {
        int min, max, pos, border, controlWidth, bar;
    } cases[] = {
        {0, 100, 33, 0, 600, 198},  {0, 100, 100, 0, 600, 600}, {0, 100, 0, 0, 600, 0},
        {0, 100, 33, 1, 602, 198},  {0, 100, 100, 1, 602, 600}, {0, 100, 150, 0, 600, 600},
        {0, 100, -20, 0, 600, 0},   {50, 50, 50, 0, 600, 0},    {50, 50, 70, 0, 600, 0},
        {10, 20, 15, 0, 100, 50},   {0, 3, 1, 0, 100, 33},
    };
    for (const auto& c : cases) {
        ProcessCtrl bar(owner.hwnd(), RECT{0, 0, c.controlWidth, 12});
        bar.SetRange(c.min, c.max);
        bar.SetBorder(c.border, RGB(0, 0, 0));
        bar.SetBarColors(RGB(0, 200, 0), RGB(200, 200, 200));
        bar.SetVisible(false);  // keep SetPos from drawing on the window
        bar.SetPos(c.pos);
        bar.SetVisible(true);
        Canvas canvas(c.controlWidth + 10, 12, RGB(255, 0, 0));
        EXPECT_EQ(bar.Paint(canvas.dc()), 1);
        const int inner = c.controlWidth - 2 * c.border;
        const RECT row{0, 6, c.controlWidth + 10, 7};
        EXPECT_EQ(canvas.Count(RGB(0, 200, 0), row), c.bar)
            << c.min << ".." << c.max << " at " << c.pos << " border " << c.border;
        EXPECT_EQ(canvas.Count(RGB(200, 200, 200), row), inner - c.bar);
        EXPECT_EQ(canvas.At(c.controlWidth + 2, 6), RGB(255, 0, 0)) << "nothing beyond the control";
        if (c.border) {
            EXPECT_EQ(canvas.At(0, 6), RGB(0, 0, 0));
        }
    }
}

TEST(SkinProcessCtrlTest, TrackAndBarBitmapsAndSetPosDrawsOnTheOwnerAtOnce) {
    OwnerWindow owner(50, 50, 300, 60);
    HBITMAP track = SolidBitmap(600, 20, RGB(220, 220, 220));
    HBITMAP fill = SolidBitmap(600, 20, RGB(0, 120, 255));
    ProcessCtrl bar(owner.hwnd(), RECT{10, 10, 210, 30});
    bar.SetDrawBitmap(true);
    bar.SetStateBitmaps(track, fill, nullptr, nullptr);
    Pump(100);
    bar.SetPos(25);  // draws on the owner window, outside any back buffer
    Canvas canvas(300, 60);
    CaptureClient(owner.hwnd(), canvas);
    const RECT row{0, 20, 300, 21};
    EXPECT_EQ(canvas.Count(RGB(0, 120, 255), row), 50);
    EXPECT_EQ(canvas.Count(RGB(220, 220, 220), row), 150);
    DeleteObject(track);
    DeleteObject(fill);
}

TEST(SkinStaticCtrlTest, EditControlFormatCentresMultiLineTextVertically) {
    OwnerWindow owner;
    TestFont font(16, FW_NORMAL);
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, font.get());
    TEXTMETRICW tm{};
    GetTextMetricsW(screen, &tm);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    const int line = tm.tmHeight;
    const RECT rect{10, 10, 310, 10 + 5 * line};

    auto firstInk = [&](UINT format) {
        StaticCtrl text(owner.hwnd(), rect);
        text.SetFont(font.get());
        text.SetTextColor(RGB(0, 0, 0));
        text.SetFormat(format);
        text.SetText(L"first line\r\nsecond line");
        Canvas canvas(320, 20 + 5 * line);
        EXPECT_EQ(text.Paint(canvas.dc()), 1);
        return canvas.FirstInkRow(RGB(255, 255, 255), RECT{0, 0, 320, 20 + 5 * line});
    };
    const int top = firstInk(DT_WORDBREAK);
    const int centred = firstInk(0x2010);
    ASSERT_GE(top, 0);
    EXPECT_EQ(centred - top, (5 * line - 2 * line) / 2) << "line height " << line;
}

TEST(SkinStaticCtrlTest, PicturesAndTextColourAndHiddenPaintsNothing) {
    OwnerWindow owner;
    HBITMAP picture = SolidBitmap(30, 30, RGB(240, 160, 60));
    StaticCtrl icon(owner.hwnd(), RECT{32, 90, 62, 120});
    icon.SetDrawBitmap(true);
    icon.SetStateBitmaps(picture, nullptr, nullptr, nullptr);
    Canvas canvas(100, 130);
    EXPECT_EQ(icon.Paint(canvas.dc()), 1);
    EXPECT_EQ(canvas.Count(RGB(240, 160, 60)), 900);
    EXPECT_EQ(canvas.At(32, 90), RGB(240, 160, 60));
    EXPECT_EQ(canvas.At(61, 119), RGB(240, 160, 60));
    icon.SetVisible(false);
    Canvas hidden(100, 130);
    EXPECT_EQ(icon.Paint(hidden.dc()), 0);
    EXPECT_EQ(hidden.Count(RGB(240, 160, 60)), 0);
    DeleteObject(picture);
}

}  // namespace
