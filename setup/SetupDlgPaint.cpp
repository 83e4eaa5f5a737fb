// The main dialog's pages. A paint thread redraws the current page every 10
// ms while the install works and every 50 ms otherwise; each painting draws
// in design pixels into a bitmap of its own and hands the picture to the
// window in one piece at the display's scale, which keeps the animations
// moving without flicker.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <optional>
#include <string>

// The engine's header first: it brings winsock2.h, which must precede windows.h.
#include "IDownloader.h"

#include "DownloadFigures.h"
#include "Handles.h"
#include "InfoViewDlg.h"
#include "InstallStatsReporter.h"
#include "LangStrings.h"
#include "ProductConfig.h"
#include "RendererPixels.h"
#include "SetupDlg.h"
#include "Text.h"

namespace {

constexpr COLORREF kBandColour = 0xFDFBF7;
constexpr COLORREF kPanelColour = 0xFFFEFC;
constexpr COLORREF kTextColour = 0x373737;
constexpr COLORREF kFigureColour = 0xE58C19;
constexpr int kBandTop = 338;
constexpr uint32_t kWhitePixel = 0x00FFFFFF;

// The shown speed lives for the whole process, like the page it is shown on;
// the paint lock guards it.
DownloadSpeedMeter g_speedMeter;

// One painting: the window's DC, a compatible bitmap of the design size in a
// memory DC, all released in the right order whatever path the painter takes.
class PageCanvas {
public:
    PageCanvas(HWND wnd, int width, int height) : window_(wnd) {
        if (!window_) return;
        memory_.reset(CreateCompatibleDC(window_.get()));
        bitmap_.reset(CreateCompatibleBitmap(window_.get(), width, height));
        if (memory_ && bitmap_) {
            selected_.emplace(memory_.get(), bitmap_.get());
            SetBkMode(memory_.get(), TRANSPARENT);
        }
    }
    explicit operator bool() const { return window_ && memory_ && bitmap_; }
    HDC window() const { return window_.get(); }
    HDC memory() const { return memory_.get(); }
    void PutPixels(const uint32_t* data, int width, int height) const {
        pixels::PutPixels(memory_.get(), bitmap_.get(), data, width, height);
    }

private:
    WindowDc window_;
    UniqueMemoryDc memory_;
    UniqueGdi<HBITMAP> bitmap_;
    std::optional<SelectedObject> selected_;  // put back before the bitmap goes
};

void DrawPageText(HDC dc, HFONT font, COLORREF colour, const std::wstring& text, RECT rect, UINT format) {
    SelectedObject selected(dc, font);
    SetTextColor(dc, colour);
    DrawTextW(dc, text.c_str(), -1, &rect, format);
}

// The painters' copy of the shown picture, made by the first painting that needs it.
bool EnsureBuffer(uint32_t*& buffer, size_t count) {
    if (!buffer) buffer = new (std::nothrow) uint32_t[count];
    return buffer != nullptr;
}

void PaintList(const std::vector<CommonCtrl*>& controls, HDC dc) {
    for (CommonCtrl* control : controls)
        if (control) control->Paint(dc);
}

}  // namespace

unsigned PaintThreadProc(SetupDlg* dlg) {
    if (!dlg) return 0;
    while (!dlg->bExitThreads) {
        dlg->OnPaint();
        Sleep(dlg->eInstall == E_Install_Working ? 10 : 50);
    }
    return 0;
}

void SetupDlg::OnPaint() {
    CommonDlg::OnPaint();
    std::optional<DownloadProgress> segments;
    {
        // WM_PAINT and the paint thread both come here. The painters only
        // draw into their own bitmap and copy it to the window (nothing that
        // waits for the user-interface thread), so the lock is held briefly
        // and never across a call that could wait for its other taker.
        std::lock_guard<std::mutex> lock(m_paintLock);
        switch (eInstall.load()) {
        case E_Install_Ready:
            PaintReadyPage();
            break;
        case E_Install_Working:
            // Its controls, the status text among them, are hidden on the
            // window's thread (UpdateCtrlStatus); a painter changes none.
            if (bDownloadFinished)
                PaintInstallPage();
            else
                PaintDownloadPage(&segments);
            break;
        case E_Install_Finished:
            PaintFinishPage();
            break;
        case E_Install_Failed:
            PaintDownloadPage();
            break;
        default:
            break;
        }
    }
    // The debug window's range table gets the painter's own copy of the
    // figures (its URL texts are its own), after the lock is let go; the
    // window only queues it and never makes this thread wait for its own.
    if (segments) OnDownloadSegments(&*segments);
}

void SetupDlg::OnCreate() { dlgShadow.Create(m_hWnd, true); }

void SetupDlg::PaintReadyPage() {
    // The window grows below the design height while the options panel is
    // open; its client height in design pixels, rounded up so the scaled
    // picture covers the last row.
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const int dpi = GetDpi();
    const int height = ((client.bottom - client.top) * 96 + dpi - 1) / dpi;
    const int width = m_nWidth;
    PageCanvas canvas(m_hWnd, width, height);
    if (!canvas) return;
    HDC dc = canvas.memory();

    const bool panelOpen = pChkCustom && pChkCustom->GetCheck();
    const RECT whole{0, 0, width, height};
    if (panelOpen) {
        const RECT top{0, 0, width, std::min(height, m_nHeight)};
        const RECT below{0, m_nHeight, width, height};
        FillSolid(dc, &top, RGB(255, 255, 255));
        if (height > m_nHeight) FillSolid(dc, &below, kPanelColour);
    } else {
        FillSolid(dc, &whole, RGB(255, 255, 255));
    }
    const RECT band{0, kBandTop, width, m_nHeight};
    FillSolid(dc, &band, kBandColour);
    PaintList(vecPaintCtrls, dc);

    if (hEditPath && panelOpen) {
        // The path edit box is a real child window: leave its rectangle out.
        const RECT& e = rcEditPath;
        PresentDesign(canvas.window(), dc, 0, 0, width, e.top);
        PresentDesign(canvas.window(), dc, 0, e.top, e.left, e.bottom - e.top);
        PresentDesign(canvas.window(), dc, e.right, e.top, width - e.right, e.bottom - e.top);
        PresentDesign(canvas.window(), dc, 0, e.bottom, width, height - e.bottom);
    } else {
        PresentDesign(canvas.window(), dc, 0, 0, width, height);
    }
}

void SetupDlg::PaintDownloadPage(std::optional<DownloadProgress>* segments) {
    const int width = m_nWidth, height = m_nHeight;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    PageCanvas canvas(m_hWnd, width, height);
    if (!canvas) return;
    HDC dc = canvas.memory();

    if (pBtnInstall && pBtnInstall->IsVisible()) {
        // The failed page: its picture, the retry text, the retry and close buttons.
        if (m_pageBuffer.size() != count) m_pageBuffer.assign(count, kWhitePixel);
        const pixels::Frame frame{m_pageBuffer.data(), width, height};
        pixels::Fill(frame, kWhitePixel);
        pixels::DrawPicture(frame, bmDownloadFailed, nPictureX, nPictureY);
        canvas.PutPixels(m_pageBuffer.data(), width, height);
        const RECT band{0, kBandTop, width, height};
        FillSolid(dc, &band, kBandColour);
        std::wstring text = GetLangString(42);
        ReplaceAll(text, std::wstring(kLangTextWebHost), ProductConfig::GetMakerHostW());
        DrawPageText(dc, hTextFont, kTextColour, text, RECT{30, nPictureY + 80, width - 30, nPictureY + 160},
                     DT_CENTER | DT_VCENTER | DT_WORDBREAK);
        pBtnInstall->Paint(dc);
        if (pBtnClose) pBtnClose->Paint(dc);
        PresentDesign(canvas.window(), dc, 0, 0, width, height);
        return;
    }

    DrawProgressWipe();
    canvas.PutPixels(m_pageBuffer.data(), width, height);

    // The figures, from a copy of the engine's own taken under its lock.
    uint32_t itemsSpeed = 0;
    uint64_t bytes = 0, size = 0;
    DownloadProgress progress;
    if (CopyDownloadProgress(progress)) {
        for (const auto& item : progress.items)
            if (item.second.status == E_Status_Runing) itemsSpeed += item.second.speed;
        bytes = progress.written;
        size = progress.fileSize;
        // Only an open debug window wants the ranges.
        if (segments && g_pInfoView.load()) *segments = std::move(progress);
    }
    const uint32_t now = GetTickCount();
    const uint32_t shownSpeed = g_speedMeter.Sample(bytes, now);
    const uint32_t averageSpeed = DownloadSpeedMeter::Average(bytes, g_dwDownloadStartTick, now);

    wchar_t speedText[32] = {};
    FormatByteSize(shownSpeed, speedText, 29);
    wcscat(speedText, L"/s");

    const int top = height - 47, bottom = height - 27;
    int progressFigure = 0;
    std::wstring mainText;
    RECT mainRect{40, top, width - 40, bottom};
    if (bytes > 0 && bytes < size) {
        DrawPageText(dc, hTextFont, kFigureColour, speedText, RECT{20, top, 120, bottom}, DT_VCENTER | DT_SINGLELINE);
        const double percent = static_cast<double>(bytes) * 100.0 / static_cast<double>(size);
        wchar_t percentText[32] = {};
        swprintf(percentText, 32, L"%.0f%%", percent);
        DrawPageText(dc, hTextFont, kFigureColour, percentText, RECT{width - 120, top, width - 20, bottom},
                     DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
        progressFigure = static_cast<int>(percent);
        mainText = GetLangString(51);
        mainRect = RECT{width / 2 - 150, top, width / 2 + 150, bottom};
    } else {
        mainText = GetLangString(size != 0 ? 45 : 46);
    }
    DrawPageText(dc, hTextFont, kFigureColour, mainText, mainRect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);

    if (pReporter) {
        const auto clamp = [](uint32_t v) { return static_cast<int32_t>(v > 0x7FFFFFFFu ? 0x7FFFFFFFu : v); };
        pReporter->SetProgress(progressFigure, clamp(itemsSpeed), clamp(averageSpeed), bUsingFallback);
    }
    PresentDesign(canvas.window(), dc, 0, 0, width, height);
}

void SetupDlg::PaintInstallPage() {
    const int index = nReadIndex;
    if (!bFrameFull[index] || !pFrameBuffers[index]) return;  // no new frame: the window keeps its picture
    const int width = m_nWidth, height = m_nHeight;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    PageCanvas canvas(m_hWnd, width, height);
    if (!canvas) return;
    HDC dc = canvas.memory();

    if (!EnsureBuffer(pDisplayBuffer, count)) return;
    std::memcpy(pDisplayBuffer, pFrameBuffers[index], count * sizeof(uint32_t));
    canvas.PutPixels(pDisplayBuffer, width, height);
    if (nRenderStage == 1) {
        wchar_t text[16] = {};
        swprintf(text, 16, L"%d%%", nInstallProgress / 10);
        DrawPageText(dc, hTitleFont, RGB(255, 255, 255), text,
                     RECT{width / 2 - 50, height - 80, width / 2 + 50, height - 20},
                     DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    }
    PaintList(vecPaintCtrls, dc);
    PresentDesign(canvas.window(), dc, 0, 0, width, height);
    nReadIndex = 1 - index;
    bFrameFull[index] = 0;  // the render thread may fill it again
}

void SetupDlg::PaintFinishPage() {
    const int width = m_nWidth, height = m_nHeight;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    PageCanvas canvas(m_hWnd, width, height);
    if (!canvas) return;
    HDC dc = canvas.memory();

    if (!EnsureBuffer(pDisplayBuffer, count)) return;
    const pixels::Frame frame{pDisplayBuffer, width, height};
    pixels::Fill(frame, kWhitePixel);
    pixels::DrawPicture(frame, bmBackground, 0, 0);
    canvas.PutPixels(pDisplayBuffer, width, height);
    const RECT band{0, kBandTop, width, height};
    FillSolid(dc, &band, kBandColour);
    PaintList(vecPaintCtrls, dc);
    PresentDesign(canvas.window(), dc, 0, 0, width, height);
}
