// The main dialog's pages and its software renderer: the pixel functions at
// exact values, the ring and disc animation at given ticks, the download
// sweep per quadrant, the download figures, the frame hand-over, pictures
// that are missing or of another size, and every page on a real window at
// 96 and 144 DPI.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "paint_fixture.h"
#include "real_dialog.h"

#include "DownloadFigures.h"
#include "Orvane.h"
#include "RendererPixels.h"
#include "SkinBitmap.h"
#include "SkinCtrls.h"
#include "TestSupport.h"
#include "Text.h"

using namespace paint_test;
using namespace testing_support;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kAccent = 0x4A47B5;    // the done picture's tile
constexpr uint32_t kLavender = 0xE6E5F7;  // the logo picture's tile
constexpr uint32_t kBand = 0xF7FBFD;      // COLORREF 0xFDFBF7 as a pixel
constexpr uint32_t kFigure = 0x198CE5;    // COLORREF 0xE58C19 as a pixel
constexpr uint32_t kWarning = 0xF0A33C;

bool IsGrey(uint32_t c) { return (c >> 16 & 0xFF) == (c >> 8 & 0xFF) && (c >> 8 & 0xFF) == (c & 0xFF); }

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > tolerance)
            return false;
    return true;
}

// ---- The pixel functions --------------------------------------------------

TEST(RendererMathTest, DistanceLerpAndBlendAtExactValues) {
    EXPECT_EQ(static_cast<int>(Distance(311, 355)), 471);
    EXPECT_EQ(static_cast<int>(Distance(127, 303)), 328);
    EXPECT_DOUBLE_EQ(Distance(3, 4), 5.0);
    EXPECT_DOUBLE_EQ(Distance(-3, -4), 5.0);
    EXPECT_EQ(LerpChannel(255, 0, 0.5), 127);  // truncated
    EXPECT_EQ(LerpChannel(255, 153, 0.95), 249);
    EXPECT_EQ(LerpChannel(10, 20, 0.0), 20);  // t is the weight of a
    EXPECT_EQ(LerpChannel(10, 20, 1.0), 10);
    EXPECT_EQ(BlendColor(0xFFFFFF, 0x999999, 0.95), 0xF9F9F9u);
    EXPECT_EQ(BlendColor(0xFF0000, 0x0000FF, 0.5), 0x7F007Fu);
    EXPECT_EQ(BlendColor(0x123456, 0xABCDEF, 1.0), 0x123456u);
    EXPECT_EQ(BlendColor(0x123456, 0xABCDEF, 0.0), 0xABCDEFu);
}

TEST(RendererMathTest, GeometryAndPicturesOfTheDesignSize) {
    PaintDlg dlg;
    dlg.PrepareRenderer();
    EXPECT_EQ(dlg.nCenterX, 311);
    EXPECT_EQ(dlg.nCenterY, 355);
    EXPECT_EQ(dlg.nMaxRadius, 471);
    EXPECT_EQ(dlg.nPictureX, 184);
    EXPECT_EQ(dlg.nPictureY, 52);
    EXPECT_EQ(dlg.nPictureRadius, 328);
    for (const BMData* picture : {&dlg.bmLogo, &dlg.bmInstallLogo, &dlg.bmFinishPicture, &dlg.bmDownloadDone,
                                  &dlg.bmDownloadFailed, &dlg.bmSpare}) {
        EXPECT_EQ(picture->nWidth, 255);
        EXPECT_EQ(picture->nHeight, 255);
    }
    EXPECT_EQ(dlg.bmBackground.nWidth, 622);
    EXPECT_EQ(dlg.bmBackground.nHeight, 405);
    EXPECT_EQ(dlg.bmFinishPicture.pPixels[0], 0x42237Eu) << "the finish picture's fill is the frame's, left out";
    ASSERT_NE(dlg.pFrameBuffers[0], nullptr);
    EXPECT_EQ(dlg.pFrameBuffers[1][622 * 405 - 1], kWhite);
    EXPECT_DOUBLE_EQ(dlg.pDistanceTable[0], Distance(311, 355));
    EXPECT_DOUBLE_EQ(dlg.pDistanceTable[355 * 622 + 311], 0.0);
    uint32_t* frame = dlg.pFrameBuffers[0];
    dlg.PrepareRenderer();
    EXPECT_EQ(dlg.pFrameBuffers[0], frame) << "a second call changes nothing";
}

TEST(RendererMathTest, DiscGrowsAPixelAFrameAndShrinksAtOnce) {
    struct Case {
        int32_t current, progress, next;
    } cases[] = {
        {0, 0, 1},      {14, 0, 15},     {15, 0, 15},    {100, 0, 15},  // target 15 at no progress
        {200, 500, 201}, {243, 500, 243}, {300, 500, 243},              // 456 * 500 / 1000 + 15
        {470, 1000, 471}, {471, 1000, 471},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pixels::NextDiscRadius(c.current, 471, c.progress), c.next) << c.current << " at " << c.progress;
}

TEST(RendererMathTest, RingRadiusAndAlphaAtGivenAges) {
    const uint32_t t = 0xFFFFF000u;  // the tick wraps during the ring's life
    struct Case {
        uint32_t age;
        int32_t radius;
        float alpha;
    } cases[] = {
        {0, 0, 0.05f},       {500, 89, 0.05f},        {3000, 534, 0.05f},
        {3001, 534, 1999 * 0.000025f}, {4000, 712, 0.025f}, {4999, 889, 0.000025f},
    };
    for (const Case& c : cases) {
        std::vector<RippleRing> rings(1);
        rings[0].dwStartTick = t;
        pixels::AdvanceRings(rings, t + c.age);
        ASSERT_FALSE(rings.empty());
        EXPECT_EQ(rings[0].nRadius, c.radius) << "age " << c.age;
        EXPECT_FLOAT_EQ(rings[0].fAlpha, c.alpha) << "age " << c.age;
        EXPECT_EQ(rings.size(), c.age >= 700 ? 2u : 1u) << "a new ring every 700 ms";
    }
    std::vector<RippleRing> rings(1);
    rings[0].dwStartTick = t;
    pixels::AdvanceRings(rings, t + 5000);
    ASSERT_EQ(rings.size(), 1u) << "the 5 s ring is gone; a fresh one took its place";
    EXPECT_EQ(rings[0].dwStartTick, t + 5000);

    // At most eight rings live at once, a frame every 16 ms for 12 s.
    rings.clear();
    size_t most = 0;
    for (uint32_t now = 1000; now < 13000; now += 16) {
        pixels::AdvanceRings(rings, now);
        most = std::max(most, rings.size());
    }
    EXPECT_EQ(most, 8u);
}

TEST(RendererMathTest, RampIsGreyBandsByWholeDistance) {
    std::vector<uint32_t> ramp(pixels::kRampSize, 0);
    RippleRing a;
    a.nRadius = 89;
    pixels::BuildRamp(ramp.data(), {a});
    for (int i = 0; i < pixels::kRampSize; ++i) ASSERT_EQ(ramp[i], i < 89 ? 0xF4F4F4u : kWhite) << i;

    RippleRing older, newer;
    older.nRadius = 300;
    newer.nRadius = 100;
    pixels::BuildRamp(ramp.data(), {older, newer});
    EXPECT_EQ(ramp[0], 0xEFEFEFu);
    EXPECT_EQ(ramp[99], 0xEFEFEFu);
    EXPECT_EQ(ramp[100], 0xF4F4F4u);
    EXPECT_EQ(ramp[299], 0xF4F4F4u);
    EXPECT_EQ(ramp[300], kWhite);

    // Eight rings fading at their own alphas: every entry stays a grey.
    std::vector<RippleRing> rings;
    pixels::AdvanceRings(rings, 0);
    for (uint32_t now = 0; now < 4900; now += 100) pixels::AdvanceRings(rings, now);
    ASSERT_GE(rings.size(), 7u);
    pixels::BuildRamp(ramp.data(), rings);
    for (uint32_t c : ramp) ASSERT_TRUE(IsGrey(c)) << std::hex << c;
}

// ---- Copies stay inside both buffers --------------------------------------

TEST(RendererPixelsTest, CopiesAreCutToTheFrameAndToThePicture) {
    BMData big;  // the 622 x 405 background as an oversized source
    ASSERT_EQ(big.Load(185), 1);
    constexpr int W = 40, H = 30, kGuard = 64;
    struct Case {
        int x, y, left, top, right, bottom;
    } cases[] = {
        {5, 5, 0, 0, 622, 405},          // larger than the frame
        {-300, -200, 0, 0, 622, 405},    // starts far left and above
        {30, 20, -50, -50, 9999, 9999},  // a source rectangle beyond the picture
        {W, H, 0, 0, 622, 405},          // wholly outside
        {-622, 0, 0, 0, 622, 405},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> memory(kGuard + W * H + kGuard, 0xDEADBEEF);
        const pixels::Frame frame{memory.data() + kGuard, W, H};
        pixels::Fill(frame, 0);
        pixels::CopyPicture(frame, big, c.x, c.y, c.left, c.top, c.right, c.bottom);
        for (int i = 0; i < kGuard; ++i) {
            ASSERT_EQ(memory[i], 0xDEADBEEFu) << "before the frame, case x " << c.x;
            ASSERT_EQ(memory[kGuard + W * H + i], 0xDEADBEEFu) << "after the frame, case x " << c.x;
        }
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int sx = x - c.x, sy = y - c.y;
                const bool inside = sx >= std::max(c.left, 0) && sy >= std::max(c.top, 0) && sx < std::min(c.right, 622) &&
                                    sy < std::min(c.bottom, 405);
                ASSERT_EQ(frame.data[y * W + x], inside ? big.pPixels[sy * 622 + sx] : 0u) << x << "," << y;
            }
    }
    BMData missing;
    EXPECT_EQ(missing.Load(31999), 0);
    std::vector<uint32_t> memory(W * H, 7);
    pixels::DrawPicture(pixels::Frame{memory.data(), W, H}, missing, 0, 0);
    for (uint32_t p : memory) ASSERT_EQ(p, 7u) << "a missing picture draws nothing";
}

// ---- The download sweep -----------------------------------------------------

TEST(DownloadSweepTest, QuadrantsFollowThePercent) {
    PaintDlg dlg;
    dlg.PrepareRenderer();
    // Probes in picture coordinates: lower-left, upper-left, upper-right,
    // lower-right quadrant, on the tiles and off the glyphs; and the edge of
    // the rectangle at 37 % (S 87, N 35: x below 35, y from 40).
    const int kProbes[][2] = {{64, 200}, {64, 64}, {200, 64}, {200, 200}, {34, 50}, {40, 50}, {34, 38}};
    struct Case {
        int percent;
        bool done[7];  // which picture each probe shows
    } cases[] = {
        {0, {false, false, false, false, false, false, false}},
        {25, {true, false, false, false, false, false, false}},
        {37, {true, false, false, false, true, false, false}},
        {50, {true, true, false, false, true, true, true}},
        {75, {true, true, true, false, true, true, true}},
        {100, {true, true, true, true, true, true, true}},
    };
    for (const Case& c : cases) {
        dlg.nDownloadPercent = c.percent;
        dlg.DrawProgressWipe();
        ASSERT_EQ(dlg.m_pageBuffer.size(), 622u * 405u);
        for (int i = 0; i < 7; ++i) {
            const int x = kProbes[i][0], y = kProbes[i][1];
            const BMData& source = c.done[i] ? dlg.bmDownloadDone : dlg.bmLogo;
            EXPECT_EQ(dlg.m_pageBuffer[(52 + y) * 622 + 184 + x], source.pPixels[y * 255 + x])
                << c.percent << "% probe " << x << "," << y;
        }
        EXPECT_EQ(dlg.m_pageBuffer[10 * 622 + 10], kWhite) << "outside the picture";
    }
    // The sweep composes in the page's own buffer; the render thread's
    // buffer is not touched.
    EXPECT_EQ(dlg.pWorkBuffer, nullptr);
}

// ---- The render thread's frames ---------------------------------------------

TEST(RippleFrameTest, DiscUncoversTheBackgroundAndCoversThePictureAtTheEnd) {
    PaintDlg dlg;
    dlg.PrepareRenderer();
    dlg.pWorkBuffer = new uint32_t[622 * 405];
    const auto at = [&](int x, int y) { return dlg.pWorkBuffer[y * 622 + x]; };
    const auto background = [&](int x, int y) { return dlg.bmBackground.pPixels[y * 622 + x]; };

    dlg.nInstallProgress = 0;
    dlg.RenderRippleFrame();
    EXPECT_EQ(dlg.nDiscRadius, 1) << "one pixel a frame";
    dlg.nDiscRadius = 14;
    dlg.RenderRippleFrame();
    EXPECT_EQ(dlg.nDiscRadius, 15);
    EXPECT_EQ(at(311, 350), background(311, 350));
    EXPECT_TRUE(IsGrey(at(311, 330))) << "rings outside the disc";
    EXPECT_EQ(at(184 + 40, 52 + 128), dlg.bmInstallLogo.pPixels[128 * 255 + 40]) << "the install picture";

    dlg.nInstallProgress = 1000;
    dlg.nDiscRadius = 470;
    dlg.RenderRippleFrame();
    EXPECT_EQ(dlg.nDiscRadius, 471);
    for (int y = 0; y < 405; y += 7)
        for (int x = 10; x < 612; x += 7) ASSERT_EQ(at(x, y), background(x, y)) << x << "," << y;
    EXPECT_TRUE(IsGrey(at(0, 0))) << "the corner's whole distance equals the maximum";
    EXPECT_TRUE(IsGrey(at(621, 0)));

    dlg.RenderFinishFrame();
    EXPECT_EQ(at(5, 5), 0x42237Eu);
    EXPECT_EQ(at(184 + 50 + 127, 52 + 40), kWhite) << "the finish picture's ring";
}

TEST(RenderLoopTest, StopsAtTheFrameWaitWhenAskedAndKeepsDataBeforeFlag) {
    PaintDlg dlg;
    dlg.PrepareRenderer();
    dlg.nRenderStage = 3;  // finish frames: no control states, no 300 ms pause
    std::thread render(RenderThreadProc, &dlg);
    const DWORD start = GetTickCount();
    while (!(dlg.bFrameFull[0] && dlg.bFrameFull[1]) && GetTickCount() - start < 20000) Sleep(5);
    ASSERT_TRUE(dlg.bFrameFull[0] && dlg.bFrameFull[1]) << "two frames ahead, then it waits";
    EXPECT_EQ(dlg.pFrameBuffers[0][5], 0x42237Eu);
    EXPECT_EQ(dlg.pFrameBuffers[1][5], 0x42237Eu);
    Sleep(100);  // nobody takes frames: it stays at the wait
    dlg.bExitThreads = 1;
    const DWORD stopAsked = GetTickCount();
    render.join();
    EXPECT_LT(GetTickCount() - stopAsked, 2000u) << "the wait ends on the close handler's flag";
}

// ---- Pages on a real window -------------------------------------------------

class PaintPageTest : public ::testing::Test {
protected:
    void SetUp() override { dlg.Open(); }
    PaintDlg dlg;
};

TEST_F(PaintPageTest, ShownSpeedNeverJumpsWhenBytesFall) {
    dlg.Show(Page::Download, 40);
    dlg.OnPaint();
    Sleep(1100);
    dlg.engine.written = 1000;  // a retried range: the count falls
    dlg.OnPaint();
    const Picture shown = CaptureWindow(dlg.wnd());

    // What the page draws for a speed of 0, drawn apart on white.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 622, 405);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all{0, 0, 622, 405};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, 0xE58C19);
    HGDIOBJ oldFont = SelectObject(memory, dlg.hTextFont);
    wchar_t text[32] = {};
    FormatByteSize(0u, text, 29);
    wcscat(text, L"/s");
    RECT speed{20, 358, 120, 378};
    DrawTextW(memory, text, -1, &speed, DT_VCENTER | DT_SINGLELINE);
    SelectObject(memory, oldFont);
    int differing = 0, ink = 0;
    for (int y = 358; y < 378; ++y)
        for (int x = 20; x < 120; ++x) {
            const COLORREF c = GetPixel(memory, x, y);
            const uint32_t expected = GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
            differing += shown.At(x, y) != expected;
            ink += expected != kWhite;
        }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    EXPECT_GT(ink, 20) << "the reference text has ink";
    EXPECT_EQ(differing, 0) << "after the fall the page shows " << "0Byte/s, not a wrapped-around rate";

    // Percent and text 51 still follow the bytes.
    int figure = 0;
    for (int y = 358; y < 378; ++y)
        for (int x = 502; x < 602; ++x) figure += Near(shown.At(x, y), kFigure, 40);
    EXPECT_GT(figure, 5) << "the percent is drawn";
}

TEST_F(PaintPageTest, OpenOptionsPanelExtendsThePageAndLeavesTheEditBoxAlone) {
    // The panel open: the window reaches design y 580, the path box is a
    // real child window (here a dark rectangle, to see it is not painted over).
    dlg.pChkCustom = new CheckButtonCtrlEx(dlg.wnd(), RECT{474, 359, 609, 385});
    dlg.pChkCustom->SetCheck(1);
    dlg.vecPaintCtrls.push_back(dlg.pChkCustom);
    dlg.rcEditPath = RECT{44, 460, 549, 486};
    dlg.hEditPath = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKRECT, 44, 460, 505, 26, dlg.wnd(),
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowPos(dlg.wnd(), nullptr, 0, 0, 622, 580, SWP_NOMOVE | SWP_NOZORDER);
    Pump(50);
    dlg.Show(Page::Ready);
    const Picture before = CaptureWindow(dlg.wnd());
    dlg.OnPaint();
    const Picture shown = CaptureWindow(dlg.wnd());
    ASSERT_EQ(shown.height, 580);
    EXPECT_EQ(shown.At(10, 100), kWhite);
    EXPECT_EQ(shown.At(10, 380), kBand);
    EXPECT_EQ(shown.At(10, 420), 0xFCFEFFu) << "the panel below the design height";
    EXPECT_EQ(shown.At(10, 575), 0xFCFEFFu);
    EXPECT_EQ(shown.At(43, 470), 0xFCFEFFu) << "beside the edit box";
    for (int y = 461; y < 485; y += 3)
        for (int x = 45; x < 548; x += 7) {
            ASSERT_EQ(shown.At(x, y), before.At(x, y)) << "the edit box at " << x << "," << y;
            ASSERT_NE(shown.At(x, y), 0xFCFEFFu) << "the edit box at " << x << "," << y;
        }
    DestroyWindow(dlg.hEditPath);
    dlg.hEditPath = nullptr;
}

TEST(DownloadSpeedMeterTest, FallingBytesCountAsNoProgressAndRestartTheSample) {
    DownloadSpeedMeter meter;
    EXPECT_EQ(meter.Sample(2000000, 10000), 200000u);    // 2 MB over the first 10 s
    EXPECT_EQ(meter.Sample(3000000, 10500), 200000u);    // within the second: unchanged
    EXPECT_EQ(meter.Sample(4000000, 12000), 1000000u);   // 2 MB in 2 s
    EXPECT_EQ(meter.Sample(1000, 13500), 0u) << "a fall shows no speed";
    EXPECT_EQ(meter.Sample(1501000, 14000), 3000000u) << "counted from the fallen value (shown 0 samples at once)";
    EXPECT_EQ(meter.Sample(1501000, 14000), 3000000u);
    EXPECT_EQ(DownloadSpeedMeter::Average(6000000, 1000, 4000), 2000000u);
    EXPECT_EQ(DownloadSpeedMeter::Average(6000000, 4000, 4000), 0u) << "no time has passed";
    EXPECT_EQ(DownloadSpeedMeter::Average(uint64_t(1) << 40, 0, 1), 0xFFFFFFFFu) << "saturates";
}

TEST_F(PaintPageTest, AnimationAdvancesOnlyWhereTheRingsAre) {
    RippleRing ring;  // a ring beyond the disc, so its growth shows
    ring.dwStartTick = GetTickCount() - 1500;
    dlg.vecRings = {ring};
    dlg.Show(Page::Install, 37);
    dlg.OnPaint();
    const Picture first = CaptureWindow(dlg.wnd());
    Sleep(250);
    dlg.HandOverRippleFrame();
    dlg.OnPaint();
    const Picture second = CaptureWindow(dlg.wnd());
    ASSERT_EQ(first.width, 622);
    const int r = dlg.nDiscRadius;
    ASSERT_EQ(r, (471 - 15) * 370 / 1000 + 15);
    int changed = 0;
    for (int y = 0; y < 405; ++y)
        for (int x = 0; x < 622; ++x) {
            if (first.At(x, y) == second.At(x, y)) continue;
            ++changed;
            const int px = x - 184, py = y - 52;
            const bool onPicture = px >= 0 && py >= 0 && px < 255 && py < 255 &&
                                   dlg.bmInstallLogo.pPixels[py * 255 + px] != kWhite;
            const double d = Distance(x - 311, y - 355);
            const bool onText = x >= 261 && x < 361 && y >= 325 && y < 385;
            const bool onClose = x >= 600 && y < 21;
            ASSERT_FALSE(onPicture || d < r - 1 || onText || onClose) << "changed at " << x << "," << y;
            if (d >= r) {
                ASSERT_TRUE(IsGrey(second.At(x, y))) << "a ring pixel at " << x << "," << y;
            }
        }
    EXPECT_GT(changed, 1000) << "the rings moved";
}

TEST_F(PaintPageTest, InstallPainterShowsEachFrameOnceAndHandsTheBufferBack) {
    dlg.Show(Page::Install, 0);
    EXPECT_EQ(dlg.bFrameFull[0].load(), 1);
    dlg.OnPaint();
    EXPECT_EQ(dlg.bFrameFull[0].load(), 0) << "shown, handed back";
    EXPECT_EQ(dlg.nReadIndex.load(), 1);
    dlg.OnPaint();  // no new frame: nothing changes
    EXPECT_EQ(dlg.nReadIndex.load(), 1);
}

TEST_F(PaintPageTest, MissingOrOversizedPicturesDrawTheRest) {
    // A logo that failed to load moves the picture position to (311, 179);
    // pictures of the background's size overrun every buffer unless cut.
    dlg.bmLogo.Load(31999);
    dlg.nPictureX = 311 - dlg.bmLogo.nWidth / 2;
    dlg.nPictureY = (355 - dlg.bmLogo.nHeight) / 2 + 2;
    ASSERT_EQ(dlg.nPictureY, 179);
    dlg.bmDownloadFailed.Load(185);
    dlg.bmInstallLogo.Load(185);
    dlg.bmFinishPicture.Load(185);
    dlg.bmDownloadDone.Load(185);
    dlg.bmBackground.Load(31999);

    dlg.Show(Page::Failed);
    dlg.OnPaint();
    Picture shown = CaptureWindow(dlg.wnd());
    EXPECT_EQ(shown.At(10, 380), kBand);
    int text = 0;
    for (int y = 259; y < 339; ++y)
        for (int x = 30; x < 592; ++x) text += Near(shown.At(x, y), 0x373737, 40);
    EXPECT_GT(text, 50) << "the retry text";

    for (int percent : {0, 37, 60, 100}) {
        dlg.Show(Page::Download, percent);
        dlg.OnPaint();
    }
    dlg.Show(Page::Install, 37);
    dlg.OnPaint();
    shown = CaptureWindow(dlg.wnd());
    EXPECT_EQ(shown.At(311, 350), kWhite) << "a missing background uncovers white";
    dlg.RenderFinishFrame();
    dlg.Show(Page::Finished);
    dlg.OnPaint();
    shown = CaptureWindow(dlg.wnd());
    EXPECT_EQ(shown.At(10, 100), kWhite);
    EXPECT_EQ(shown.At(10, 380), kBand);
    EXPECT_TRUE(Near(shown.At(200, 374), kAccent, 8)) << "the button is drawn";
}

// ---- The real dialog's working and finished pages ----------------------------

// Figures as a running download gives them: the bytes grow at a steady rate
// from a start up to a limit, on one running range.
class SteadyEngine : public FakeEngine {
public:
    SteadyEngine(uint64_t size, uint64_t from, uint64_t upTo, uint32_t bytesPerSecond)
        : size_(size), from_(from), upTo_(upTo), rate_(bytesPerSecond), start_(GetTickCount()) {}
    int GetProgress(DownloadProgress* progress) override {
        progress->fileSize = size_;
        progress->written = WrittenNow();
        progress->items.clear();
        DownloadItem item;
        item.speed = rate_;
        progress->items[0] = item;
        return 0;
    }
    uint64_t WrittenNow() const {
        return std::min<uint64_t>(upTo_, from_ + uint64_t(rate_) * (GetTickCount() - start_) / 1000);
    }
    int PercentNow() const { return static_cast<int>(WrittenNow() * 100 / size_); }

private:
    uint64_t size_, from_, upTo_;
    uint32_t rate_;
    uint32_t start_;
};

// The README's pictures of the working and finished pages come from here:
// the installer's own dialog, controls and painters, with the page fields
// and figures set as the install worker sets them.
TEST(RealDialogPagesTest, WorkingAndFinishedPagesShowOnlyTheirOwnControls) {
    real_dialog::Window<Orvane> window;
    ASSERT_NE(window.wnd(), nullptr);
    Orvane& dlg = window.dialog;
    ASSERT_EQ(dlg.GetDpi(), 96) << "the pictures are taken at 96 DPI";
    wchar_t keep[MAX_PATH] = {};
    std::wstring shots;
    if (GetEnvironmentVariableW(L"ORVANE_PAINT_SHOTS", keep, MAX_PATH)) {
        shots = std::wstring(keep) + L"\\real";
        CreateDirectoryW(keep, nullptr);
        CreateDirectoryW(shots.c_str(), nullptr);
    }
    const auto keepShot = [&](const Picture& picture, const wchar_t* name) {
        if (!shots.empty()) {
            EXPECT_TRUE(SaveBmp(picture, shots + L"\\" + name + L".bmp")) << name;
        }
    };
    const auto count = [](const Picture& p, RECT r, auto&& test) {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) n += test(p.At(x, y)) ? 1 : 0;
        return n;
    };
    const RECT closeBox{600, 0, 617, 21}, minimiseBox{580, 0, 597, 21}, logoBox{0, 0, 206, 45};
    const RECT speedText{20, 358, 120, 378}, percentText{502, 358, 602, 378}, mainText{40, 358, 582, 378};
    const auto figureInk = [](uint32_t c) { return Near(c, kFigure, 60); };
    const auto white = [](uint32_t c) { return c == kWhite; };
    const auto waitFor = [](auto&& condition, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (!condition() && GetTickCount() - start < timeoutMs) Pump(50);
        return condition();
    };

    // The download: the trigger's and the worker's working page, from 35 %
    // to 37.2 % of 100 MiB at 1.5 MiB/s; past a second the shown speed has
    // its first real sample.
    dlg.ShowOptionsPanel(false);
    dlg.pChkCustom->SetVisible(false);
    dlg.pStaticVersion->SetVisible(false);
    dlg.UpdateCtrlStatus(E_Install_Working);
    dlg.eInstall = E_Install_Working;
    dlg.nRenderStage = 0;
    SteadyEngine engine(100ull << 20, 35ull << 20, (372ull << 20) / 10, 3u << 19);
    {
        std::lock_guard<std::mutex> lock(dlg.m_downloadLock);
        dlg.pDownload = &engine;
    }
    const DWORD downloadStart = GetTickCount();
    while (GetTickCount() - downloadStart < 1650) {
        dlg.nDownloadPercent = engine.PercentNow();  // as the engine's progress events set it
        Pump(20);
    }
    const Picture download = CaptureWindow(window.wnd());
    {
        std::lock_guard<std::mutex> lock(dlg.m_downloadLock);
        dlg.pDownload = nullptr;
    }
    ASSERT_EQ(download.width, 622);
    ASSERT_EQ(download.height, 405);
    for (CommonCtrl* control : dlg.vecPaintCtrls) EXPECT_FALSE(control->IsVisible()) << "a working-page control";
    EXPECT_EQ(count(download, closeBox, white), 17 * 21) << "no close button on the working page";
    EXPECT_EQ(count(download, minimiseBox, white), 17 * 21) << "no minimise button";
    EXPECT_EQ(count(download, logoBox, white), 206 * 45) << "no product logo";
    EXPECT_TRUE(Near(download.At(184 + 64, 52 + 200), kAccent, 3)) << "the sweep's first quadrant";
    for (const auto& probe : {std::pair<int, int>{64, 64}, {200, 64}, {200, 200}})
        EXPECT_TRUE(Near(download.At(184 + probe.first, 52 + probe.second), kLavender, 3)) << "the logo still shows";
    EXPECT_GT(count(download, speedText, figureInk), 5) << "speed";
    EXPECT_GT(count(download, percentText, figureInk), 5) << "percent";
    EXPECT_GT(count(download, mainText, figureInk), 20) << "the main text";
    EXPECT_EQ(download.At(10, 380), kWhite) << "no band on the download page";
    keepShot(download, L"working-page-download");

    // The install: stage 1 at 37 %, frames from the real render thread; the
    // disc grows a pixel a frame, the rings spawn every 700 ms.
    dlg.nInstallProgress = 370;
    dlg.nRenderStage = 1;
    dlg.bDownloadFinished = true;
    window.StartRenderThread();
    BMData background;
    ASSERT_EQ(background.Load(185), 1);
    const int discRadius = (471 - 15) * 370 / 1000 + 15;
    const int rimY = 355 - (discRadius - 4);
    const DWORD installStart = GetTickCount();
    Picture install;
    EXPECT_TRUE(waitFor(
        [&] {
            install = CaptureWindow(window.wnd());
            return GetTickCount() - installStart > 4000 && install.At(311, rimY) == background.pPixels[rimY * 622 + 311];
        },
        60000))
        << "the disc reached its radius";
    EXPECT_EQ(count(install, closeBox, [](uint32_t c) { return IsGrey(c); }), 17 * 21) << "rings, no close button";
    EXPECT_EQ(count(install, logoBox, [](uint32_t c) { return IsGrey(c); }), 206 * 45) << "rings, no product logo";
    const uint32_t ring = install.At(20, 355);
    EXPECT_TRUE(IsGrey(ring) && ring != kWhite) << std::hex << ring;
    EXPECT_GT(count(install, RECT{261, 325, 361, 385}, white), 20) << "the percent";
    keepShot(install, L"working-page-install");

    // The finished page: what the worker's closing steps set.
    dlg.bFinishButtonEnabled = 1;
    dlg.UpdateCtrlStatus(E_Install_Finished);
    dlg.eInstall = E_Install_Finished;
    dlg.nRenderStage = 3;
    for (int i = 0; i < 3; ++i) dlg.UpdateCtrlStatus(E_Install_Finished);
    Pump(300);
    const Picture finished = CaptureWindow(window.wnd());
    EXPECT_TRUE(Near(finished.At(10, 100), background.pPixels[100 * 622 + 10], 3)) << "the background";
    EXPECT_EQ(finished.At(10, 380), kBand);
    EXPECT_TRUE(dlg.pBtnClose->IsVisible());
    EXPECT_TRUE(dlg.pBtnMinimize->IsVisible());
    EXPECT_FALSE(dlg.pStaticLogo->IsVisible());
    // The start button is widened text on the band: no fill, no border.
    const RECT button{91, 354, 531, 394};
    EXPECT_EQ(count(finished, button, [](uint32_t c) { return Near(c, kAccent, 40); }), 0) << "no filled button";
    EXPECT_GT(count(finished, button, [](uint32_t c) { return Near(c, 0x0053BF, 40); }), 50) << "the button's text";
    EXPECT_EQ(finished.At(92, 355), kBand) << "no border";
    const auto onBackground = [&](RECT r) {
        int ink = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) ink += !Near(finished.At(x, y), background.pPixels[y * 622 + x], 8);
        return ink;
    };
    EXPECT_GT(onBackground(closeBox), 10) << "the finished page's close glyph";
    EXPECT_GT(onBackground(minimiseBox), 5) << "the finished page's minimise glyph";
    keepShot(finished, L"finished-page");

    EXPECT_TRUE(window.Stop());
}

// ---- Every page at 96 and 144 DPI -------------------------------------------

class PaintDpiTest : public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { skin_test::SetLogPixels(96); }
};

TEST_P(PaintDpiTest, EveryPageAtTheDisplayScale) {
    const int dpi = GetParam();
    skin_test::SetLogPixels(dpi);
    ScratchFolder scratch(L"paint_dpi");
    // ORVANE_PAINT_SHOTS keeps the pictures for a look.
    wchar_t keep[MAX_PATH] = {};
    const std::wstring out = GetEnvironmentVariableW(L"ORVANE_PAINT_SHOTS", keep, MAX_PATH)
                                 ? std::wstring(keep) + L"\\" + std::to_wstring(dpi)
                                 : scratch / L"shots";
    CreateDirectoryW(out.c_str(), nullptr);
    const auto result =
        RunProcess(L"\"" + BuildPath(L"tests/setup/setup_paint_probe.exe") + L"\" \"" + out + L"\"", 120000);
    ASSERT_TRUE(result.finished);
    ASSERT_EQ(result.exitCode, 0u);
    EXPECT_EQ(std::atoi(ReadFileBytes(out + L"\\dpi.txt").c_str()), dpi);

    BMData background;
    ASSERT_EQ(background.Load(185), 1);
    const auto page = [&](const wchar_t* name) {
        Picture p = LoadBmp(out + L"\\" + name + L".bmp");
        EXPECT_EQ(p.width, 622 * dpi / 96) << name;
        EXPECT_EQ(p.height, 405 * dpi / 96) << name;
        return p;
    };
    // A design pixel's colour, read in the middle of its scaled area.
    const auto at = [&](const Picture& p, int x, int y) {
        return p.At(static_cast<int>((x + 0.5) * dpi / 96), static_cast<int>((y + 0.5) * dpi / 96));
    };
    const auto count = [&](const Picture& p, RECT r, auto&& test) {
        int n = 0;
        for (int y = r.top * dpi / 96; y < r.bottom * dpi / 96; ++y)
            for (int x = r.left * dpi / 96; x < r.right * dpi / 96; ++x) n += test(p.At(x, y));
        return n;
    };
    const auto figureInk = [&](uint32_t c) { return Near(c, kFigure, 60) ? 1 : 0; };
    const RECT speedText{20, 358, 120, 378}, percentText{502, 358, 602, 378}, mainText{40, 358, 582, 378};
    constexpr int kTolerance = 3;
    const auto expectNear = [&](const Picture& p, int x, int y, uint32_t colour, const char* what) {
        EXPECT_TRUE(Near(at(p, x, y), colour, kTolerance))
            << what << " at " << x << "," << y << ": " << std::hex << at(p, x, y) << " not " << colour;
    };

    const Picture ready = page(L"ready");
    ASSERT_GT(ready.width, 0);
    expectNear(ready, 10, 100, kWhite, "ready page");
    expectNear(ready, 10, 380, kBand, "ready band");
    expectNear(ready, 184 + 40, 52 + 128, kLavender, "ready picture");
    expectNear(ready, 200, 374, kAccent, "Install button");

    // The download sweep against the percent, and the figures' row.
    const int quadrant[4][2] = {{64, 200}, {64, 64}, {200, 64}, {200, 200}};
    struct Download {
        const wchar_t* name;
        int doneQuadrants;
        bool figures;
    } downloads[] = {{L"download_0", 0, false}, {L"download_37", 1, true}, {L"download_100", 4, false}};
    for (const Download& d : downloads) {
        const Picture p = page(d.name);
        for (int q = 0; q < 4; ++q)
            expectNear(p, 184 + quadrant[q][0], 52 + quadrant[q][1], q < d.doneQuadrants ? kAccent : kLavender,
                       "sweep quadrant");
        EXPECT_EQ(count(p, speedText, figureInk) > 5, d.figures) << "speed text";
        EXPECT_EQ(count(p, percentText, figureInk) > 5, d.figures) << "percent text";
        EXPECT_GT(count(p, mainText, figureInk), 20) << "the main text";
        expectNear(p, 10, 380, kWhite, "no band on the download page");
    }

    // The install animation: the disc grows with the progress; the percent in white.
    struct Install {
        const wchar_t* name;
        int discRadius;
    } installs[] = {{L"install_0", 15}, {L"install_37", 183}, {L"install_100", 471}};
    for (const Install& i : installs) {
        const Picture p = page(i.name);
        // (At 0 % the whole disc lies under the percent text.)
        const int y = std::max(355 - (i.discRadius - 4), 5);
        if (i.discRadius > 40) expectNear(p, 311, y, background.pPixels[y * 622 + 311], "inside the disc");
        if (i.discRadius < 280) {
            const uint32_t ring = at(p, 20, 355);
            EXPECT_TRUE(IsGrey(ring) && ring != kWhite) << "grey rings outside the disc: " << std::hex << ring;
        }
        const RECT text{261, 325, 361, 385};
        EXPECT_GT(count(p, text, [](uint32_t c) { return c == kWhite ? 1 : 0; }), 20) << "the percent";
    }

    const Picture finished = page(L"finished");
    expectNear(finished, 10, 100, background.pPixels[100 * 622 + 10], "finished background");
    expectNear(finished, 311 - 70, 179, kWhite, "the check's circle");
    expectNear(finished, 10, 380, kBand, "finished band");
    expectNear(finished, 200, 374, kAccent, "the finished page's button");

    const Picture failed = page(L"failed");
    expectNear(failed, 10, 100, kWhite, "failed page");
    expectNear(failed, 184 + 112, 52 + 40, kWarning, "the failed sign");
    expectNear(failed, 10, 380, kBand, "failed band");
    const RECT retry{30, 132, 592, 212};
    EXPECT_GT(count(failed, retry, [](uint32_t c) { return Near(c, 0x373737, 60) ? 1 : 0; }), 50)
        << "the retry text";
}

INSTANTIATE_TEST_SUITE_P(Dpi, PaintDpiTest, ::testing::Values(96, 144));

}  // namespace
