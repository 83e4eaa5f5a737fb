// The working page's animation: a render thread composes whole frames pixel
// by pixel (a still logo, then grey rings with a disc that uncovers the
// background as the install progresses, then a finish frame) and hands them
// to the install painter through two frame buffers. The download page's
// clockwise sweep is composed here too, on the paint thread.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "RendererPixels.h"
#include "SetupDlg.h"

namespace pixels {

void Fill(Frame frame, uint32_t colour) {
    if (!frame.data || frame.width <= 0 || frame.height <= 0) return;
    const size_t count = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    for (size_t i = 0; i < count; ++i) frame.data[i] = colour;
}

void CopyPicture(Frame frame, const BMData& picture, int x, int y, int left, int top, int right, int bottom,
                 uint64_t key) {
    if (!frame.data || !picture.pPixels) return;
    // Cut the source rectangle to the picture, then to the part that lands
    // inside the frame.
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right > picture.nWidth) right = picture.nWidth;
    if (bottom > picture.nHeight) bottom = picture.nHeight;
    if (left < -x) left = -x;
    if (top < -y) top = -y;
    if (right > frame.width - x) right = frame.width - x;
    if (bottom > frame.height - y) bottom = frame.height - y;
    for (int sy = top; sy < bottom; ++sy) {
        const uint32_t* src = picture.pPixels + static_cast<size_t>(sy) * picture.nWidth;
        // Indexed from the row's start: x may be negative, x + sx never is.
        uint32_t* row = frame.data + static_cast<size_t>(y + sy) * frame.width;
        for (int sx = left; sx < right; ++sx) {
            const uint32_t pixel = src[sx] & 0x00FFFFFFu;
            if (key == kOpaque || pixel != key) row[x + sx] = pixel;
        }
    }
}

void DrawPicture(Frame frame, const BMData& picture, int x, int y, uint64_t key) {
    CopyPicture(frame, picture, x, y, 0, 0, picture.nWidth, picture.nHeight, key);
}

int PutPixels(HDC dc, HBITMAP bitmap, const uint32_t* data, int width, int height) {
    if (!dc || !bitmap || !data) return 0;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return SetDIBits(dc, bitmap, 0, height, data, &info, DIB_RGB_COLORS);
}


int32_t NextDiscRadius(int32_t current, int32_t maxRadius, int32_t progress) {
    const int32_t target = (maxRadius - 15) * progress / 1000 + 15;
    return current + 1 < target ? current + 1 : target;
}

void AdvanceRings(std::vector<RippleRing>& rings, uint32_t now) {
    constexpr uint32_t kSpawnMs = 700, kLifeMs = 5000, kFadeMs = 2000;
    if (rings.empty() || now - rings.back().dwStartTick >= kSpawnMs) {
        RippleRing ring;
        ring.dwStartTick = now;
        rings.push_back(ring);
    }
    for (auto it = rings.begin(); it != rings.end();) {
        const uint32_t age = now - it->dwStartTick;
        if (age >= kLifeMs) {
            it = rings.erase(it);
            continue;
        }
        // Full strength, then a linear fade to nothing over the last 2 s.
        const uint32_t left = kLifeMs - age;
        it->fAlpha = left < kFadeMs ? static_cast<float>(left) * 0.000025f : 0.05f;
        it->nRadius = static_cast<int32_t>(static_cast<float>(age) * 0.178f);
        ++it;
    }
}

void BuildRamp(uint32_t* ramp, const std::vector<RippleRing>& rings) {
    constexpr uint32_t kWhite = 0x00FFFFFF, kGrey = 0x999999;
    const auto fill = [ramp](int32_t from, int32_t to, uint32_t colour) {
        from = std::max(from, 0);
        to = std::min(to, kRampSize);
        for (int32_t i = from; i < to; ++i) ramp[i] = colour;
    };
    fill(0, kRampSize, kWhite);
    // As many colours as rings, plus the white start and the centre's grey.
    std::vector<uint32_t> colours(rings.size() + 2);
    colours[0] = kWhite;
    int32_t prev = 0;
    for (size_t i = 0; i < rings.size(); ++i) {
        colours[i + 1] = BlendColor(colours[i], rings[i].crColor, 1.0 - rings[i].fAlpha);
        fill(std::min(prev, rings[i].nRadius), std::max(prev, rings[i].nRadius), colours[i + 1]);
        prev = rings[i].nRadius;
    }
    const size_t n = rings.size();
    colours[n + 1] = BlendColor(colours[n], kGrey, 0.95);
    fill(0, prev, colours[n + 1]);
}

}  // namespace pixels

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr uint32_t kFinishColour = 0x42237E;
constexpr float kPi = 3.14159265f;

uint32_t* NewPixels(size_t count, uint32_t colour) {
    uint32_t* data = new (std::nothrow) uint32_t[count];
    if (data)
        for (size_t i = 0; i < count; ++i) data[i] = colour;
    return data;
}

int Red(uint32_t c) { return (c >> 16) & 0xFF; }
int Green(uint32_t c) { return (c >> 8) & 0xFF; }
int Blue(uint32_t c) { return c & 0xFF; }

}  // namespace

double Distance(int32_t dx, int32_t dy) { return std::sqrt(static_cast<double>(dx * dx + dy * dy)); }

int LerpChannel(int a, int b, double t) { return static_cast<int>((1 - t) * b + t * a); }

uint32_t BlendColor(uint32_t a, uint32_t b, double t) {
    const uint32_t red = LerpChannel(Red(a), Red(b), t) & 0xFF;
    const uint32_t green = LerpChannel(Green(a), Green(b), t) & 0xFF;
    const uint32_t blue = LerpChannel(Blue(a), Blue(b), t) & 0xFF;
    return red << 16 | green << 8 | blue;
}

void SetupDlg::PrepareRenderer() {
    const int width = m_nWidth, height = m_nHeight;
    if (width <= 0 || height <= 0 || pFrameBuffers[0]) return;
    nCenterX = width / 2;
    nCenterY = height - 50;
    nMaxRadius = static_cast<int32_t>(Distance(nCenterX, nCenterY));
    bmLogo.Load(190);
    bmInstallLogo.Load(132);
    bmFinishPicture.Load(133);
    bmDownloadDone.Load(183);
    bmDownloadFailed.Load(182);
    bmSpare.Load(184);
    bmBackground.Load(185);
    nPictureX = nCenterX - bmLogo.nWidth / 2;
    nPictureY = (nCenterY - bmLogo.nHeight) / 2 + 2;
    nPictureRadius = static_cast<int32_t>(Distance(nCenterX - nPictureX, nCenterY - nPictureY));

    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    pFrameBuffers[0] = NewPixels(count, kWhite);
    pFrameBuffers[1] = NewPixels(count, kWhite);
    pDistanceTable = new (std::nothrow) double[count];
    if (pDistanceTable)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pDistanceTable[static_cast<size_t>(y) * width + x] = Distance(x - nCenterX, y - nCenterY);
    pRamp = NewPixels(pixels::kRampSize, kWhite);
}

void SetupDlg::ReleaseRenderer() {
    for (uint32_t*& frame : pFrameBuffers) {
        delete[] frame;
        frame = nullptr;
    }
    delete[] pDistanceTable;
    pDistanceTable = nullptr;
    for (uint32_t** buffer : {&pRamp, &pWorkBuffer, &pDisplayBuffer, &pBackground}) {
        delete[] *buffer;
        *buffer = nullptr;
    }
}

unsigned RenderThreadProc(SetupDlg* dlg) {
    if (!dlg) return 0;
    dlg->RenderLoop();
    return 0;
}

void SetupDlg::RenderLoop() {
    const size_t count = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight);
    // Without its tables the renderer has nothing to compose into.
    if (!count || !pFrameBuffers[0] || !pFrameBuffers[1] || !pDistanceTable || !pRamp) return;
    while (!bExitThreads) {
        if (!pWorkBuffer) pWorkBuffer = NewPixels(count, kWhite);
        if (!pWorkBuffer) return;
        const int stage = nRenderStage;
        if (stage == 1 || stage == 2)
            RenderRippleFrame();
        else if (stage == 3)
            RenderFinishFrame();
        else
            RenderLogoFrame();

        // Frames are made only as fast as the install painter takes them;
        // the close handler's flag ends the wait too, so the thread can be
        // joined while no painter serves it.
        const int index = nWriteIndex;
        while (bFrameFull[index] && !bExitThreads) Sleep(1);
        if (bExitThreads) break;
        std::memcpy(pFrameBuffers[index], pWorkBuffer, count * sizeof(uint32_t));
        nWriteIndex = 1 - index;
        bFrameFull[index] = 1;  // the pixels are written before the flag
    }
}

void SetupDlg::RenderLogoFrame() {
    // Hiding the working page's controls belongs to the working page only,
    // and to the window's thread: the dialog applies it there while the page
    // is still the working one.
    if (eInstall == E_Install_Working) HideWorkingControls();
    const pixels::Frame frame{pWorkBuffer, m_nWidth, m_nHeight};
    pixels::Fill(frame, kWhite);
    pixels::DrawPicture(frame, bmLogo, nPictureX, nPictureY, kWhite);
    Sleep(300);
    nDiscRadius = 0;
    // The next ripple run starts from an empty disc; the install worker
    // owns the progress once it has moved past the logo.
    if (nRenderStage <= 0) nInstallProgress = 0;
}

void SetupDlg::RenderRippleFrame() {
    const int width = m_nWidth, height = m_nHeight;
    const pixels::Frame frame{pWorkBuffer, width, height};

    const int32_t r = pixels::NextDiscRadius(nDiscRadius, nMaxRadius, nInstallProgress);
    nDiscRadius = r;
    pixels::AdvanceRings(vecRings, GetTickCount());
    pixels::BuildRamp(pRamp, vecRings);

    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < count; ++i) {
        const int index = static_cast<int>(pDistanceTable[i]);
        pWorkBuffer[i] = pRamp[index < pixels::kRampSize ? index : pixels::kRampSize - 1];
    }

    if (r < nPictureRadius) pixels::DrawPicture(frame, bmInstallLogo, nPictureX, nPictureY, kWhite);

    if (r > 0) {
        if (!pBackground) {
            // Frame-sized, whatever size the background picture has.
            pBackground = NewPixels(count, kWhite);
            pixels::DrawPicture(pixels::Frame{pBackground, width, height}, bmBackground, 0, 0);
        }
        if (!pBackground) return;
        const int x0 = std::max(nCenterX - r, 0), x1 = std::min(nCenterX + r, width);
        const int y0 = std::max(nCenterY - r, 0), y1 = std::min(nCenterY + r, height);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const size_t at = static_cast<size_t>(y) * width + x;
                const double d = pDistanceTable[at];
                const int32_t l = static_cast<int32_t>(d);
                if (l >= r) continue;
                // The one-pixel rim is blended for a smooth edge.
                pWorkBuffer[at] = l + 1 == r ? BlendColor(pWorkBuffer[at], pBackground[at], d - l) : pBackground[at];
            }
        }
    }
}

void SetupDlg::RenderFinishFrame() {
    const pixels::Frame frame{pWorkBuffer, m_nWidth, m_nHeight};
    pixels::Fill(frame, kFinishColour);
    pixels::DrawPicture(frame, bmFinishPicture, nPictureX + 50, nPictureY, kFinishColour);
}

void SetupDlg::DrawProgressWipe() {
    const size_t count = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight);
    if (m_pageBuffer.size() != count) m_pageBuffer.assign(count, kWhite);
    const pixels::Frame frame{m_pageBuffer.data(), m_nWidth, m_nHeight};
    int p = nDownloadPercent;
    if (p < 0) p = 0;
    if (p > 100) p = 100;
    const int q = p / 25;

    pixels::Fill(frame, kWhite);
    pixels::DrawPicture(frame, q < 2 ? bmLogo : bmDownloadDone, nPictureX, nPictureY, kWhite);

    // Inside the current quadrant the changed area is a rectangle whose
    // inner corner lies on the circle of radius R at the sweep angle.
    const int h = bmDownloadDone.nHeight / 2;
    const int R = h + 1;
    const auto sweep = [&](int steps, int* s, int* n) {
        const float a = static_cast<float>(steps) * 2 * kPi / 100;
        *s = static_cast<int>(R * std::sin(a));
        *n = R - static_cast<int>(R * std::cos(a));
    };
    const auto copy = [&](const BMData& picture, int left, int top, int right, int bottom) {
        pixels::CopyPicture(frame, picture, nPictureX, nPictureY, left, top, right, bottom);
    };
    int S = 0, N = 0;
    switch (q) {
    case 0:
        sweep(p, &S, &N);
        copy(bmDownloadDone, R - S, 2 * R - 1 - N, R, 2 * R - 1);
        break;
    case 1:
        sweep(p - 25, &S, &N);
        copy(bmDownloadDone, 0, h - S, N, h);
        copy(bmDownloadDone, 0, h, R, h + R);
        break;
    case 2:
        sweep(75 - p, &S, &N);
        copy(bmLogo, 2 * R - N, R - S, 2 * R, R);
        copy(bmLogo, R, h, 2 * R, h + R);
        break;
    case 3:
        sweep(100 - p, &S, &N);
        copy(bmLogo, R, 2 * R - 1 - N, R + S, 2 * R - 1);
        break;
    default:
        pixels::DrawPicture(frame, bmDownloadDone, nPictureX, nPictureY, kWhite);
        break;
    }
}
