#include "paint_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "LangStrings.h"
#include "SkinBitmap.h"
#include "SkinCtrls.h"

namespace paint_test {

int FakeEngine::GetProgress(DownloadProgress* progress) {
    progress->written = written;
    progress->fileSize = fileSize;
    progress->items.clear();
    DownloadItem item;
    item.speed = itemSpeed;
    progress->items[0] = item;
    return 1;
}

namespace {

const wchar_t kClassName[] = L"OrvanePaintTestWindow";

void RegisterWindowClass() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
}

HFONT MakeFont(int height, int weight, const wchar_t* face) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

}  // namespace

PaintDlg::PaintDlg() = default;

PaintDlg::~PaintDlg() {
    SetEngine(nullptr);
    for (CommonCtrl* control : vecPaintCtrls) delete control;
    vecPaintCtrls.clear();
    vecMouseCtrls.clear();
    if (m_hWnd) DestroyWindow(m_hWnd);
    for (HFONT font : {hTitleFont, hTextFont, m_buttonFont})
        if (font) DeleteObject(font);
    ReleaseRenderer();
}

void PaintDlg::Open() {
    SelectLanguage(L"Orvane", 0x0409);
    RegisterWindowClass();
    HWND wnd = CreateWindowExW(0, kClassName, L"Orvane Installer", WS_POPUP | WS_VISIBLE, 0, 0, m_nWidth, m_nHeight,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    CommonDlg::OnInitDialog(wnd);  // the scaled design size, centred
    PrepareRenderer();
    // Fonts for drawing into the design-size picture: made for 96 DPI.
    hTitleFont = MakeFont(-MulDiv(22, 96, 72), FW_NORMAL, L"Arial");
    hTextFont = MakeFont(-14, FW_NORMAL, L"Arial");
    m_buttonFont = MakeFont(-MulDiv(14, 96, 72), FW_BOLD, L"Arial");

    pBtnInstall = new ButtonColorCtrlEx(wnd, RECT{191, 354, 431, 394});
    pBtnInstall->SetText(L"Install now");
    pBtnInstall->SetFont(m_buttonFont);
    pBtnInstall->SetStateColors(0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF);
    pBtnInstall->SetBorderColors(0xB5474A, 0xCB5C5F, 0x8F3638, 0xCCCCCC);
    pBtnInstall->SetFillColors(0xB5474A, 0xCB5C5F, 0x8F3638, 0xCCCCCC);
    pBtnInstall->SetBorderWidth(2);
    pStaticPicture = new StaticCtrl(wnd, RECT{nPictureX, nPictureY, nPictureX + 255, nPictureY + 255});
    pStaticPicture->SetStateBitmaps(LoadSkinBitmap(190), nullptr, nullptr, nullptr);
    pStaticPicture->SetDrawBitmap(true);
    pStaticStatus = new StaticCtrl(wnd, RECT{3, 311, 619, 348});
    pStaticStatus->SetText(L"Orvane 1.0.6 is ready to install");
    pStaticStatus->SetTextColor(0x373737);
    pStaticStatus->SetFormat(DT_CENTER | DT_BOTTOM | DT_WORDBREAK);
    pStaticStatus->SetFont(hTextFont);
    pBtnClose = new ButtonCtrlEx(wnd, RECT{600, 0, 617, 21});
    pBtnClose->SetStateBitmaps(LoadSkinBitmap(179), LoadSkinBitmap(178), LoadSkinBitmap(180), nullptr);
    pBtnClose->SetDrawBitmap(true);
    vecPaintCtrls = {pStaticPicture, pStaticStatus, pBtnInstall, pBtnClose};
    vecMouseCtrls = {pBtnInstall, pBtnClose};
    ShowWindow(wnd, SW_SHOW);
    Pump(50);
}

void PaintDlg::SetEngine(FakeEngine* fake) {
    std::lock_guard<std::mutex> lock(m_downloadLock);
    pDownload = fake;
}

void PaintDlg::Show(Page page, int percent) {
    pStaticPicture->SetVisible(page == Page::Ready);
    pStaticStatus->SetVisible(page == Page::Ready);
    pBtnInstall->SetVisible(page == Page::Ready || page == Page::Finished || page == Page::Failed);
    pBtnInstall->SetText(page == Page::Finished ? L"Start Orvane" : page == Page::Failed ? L"Retry" : L"Install now");
    switch (page) {
    case Page::Ready:
        eInstall = E_Install_Ready;
        break;
    case Page::Download:
        eInstall = E_Install_Working;
        bDownloadFinished = false;
        nDownloadPercent = percent;
        engine.fileSize = 5000000;
        engine.written = engine.fileSize * percent / 100;
        engine.itemSpeed = 250000;
        SetEngine(&engine);
        break;
    case Page::Install: {
        eInstall = E_Install_Working;
        bDownloadFinished = true;
        SetEngine(nullptr);
        nRenderStage = 1;
        nInstallProgress = percent * 10;
        if (vecRings.empty()) {
            // Mid-animation: the rings of the last five seconds, oldest first.
            for (uint32_t age = 4900; age >= 700; age -= 700) {
                RippleRing ring;
                ring.dwStartTick = GetTickCount() - age;
                vecRings.push_back(ring);
            }
        }
        // Start the disc one pixel short of its target, so this frame shows it.
        const int32_t target = (nMaxRadius - 15) * nInstallProgress / 1000 + 15;
        nDiscRadius = target - 1;
        HandOverRippleFrame();
        break;
    }
    case Page::Finished:
        eInstall = E_Install_Finished;
        SetEngine(nullptr);
        break;
    case Page::Failed:
        eInstall = E_Install_Failed;
        SetEngine(nullptr);
        break;
    }
}

void PaintDlg::HandOverRippleFrame() {
    const size_t count = static_cast<size_t>(m_nWidth) * m_nHeight;
    if (!pWorkBuffer) pWorkBuffer = new uint32_t[count];
    RenderRippleFrame();
    const int index = nWriteIndex;
    std::memcpy(pFrameBuffers[index], pWorkBuffer, count * sizeof(uint32_t));
    nWriteIndex = 1 - index;
    bFrameFull[index] = 1;
}

Picture CaptureWindow(HWND wnd) {
    RECT client{};
    GetClientRect(wnd, &client);
    Picture picture;
    picture.width = client.right;
    picture.height = client.bottom;
    picture.data.assign(static_cast<size_t>(picture.width) * picture.height, 0);
    HDC windowDc = GetDC(wnd);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateCompatibleBitmap(windowDc, picture.width, picture.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, windowDc, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    GetDIBits(memory, bitmap, 0, picture.height, picture.data.data(), &info, DIB_RGB_COLORS);
    for (uint32_t& pixel : picture.data) pixel &= 0x00FFFFFF;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(wnd, windowDc);
    return picture;
}

// 32-bit top-down BMP files: what the child process hands the test.
bool SaveBmp(const Picture& picture, const std::wstring& path) {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = picture.width;
    info.biHeight = -picture.height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biCompression = BI_RGB;
    const DWORD bytes = static_cast<DWORD>(picture.data.size() * 4);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + bytes;
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(reinterpret_cast<const char*>(picture.data.data()), bytes);
    return static_cast<bool>(out);
}

Picture LoadBmp(const std::wstring& path) {
    Picture picture;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    in.read(reinterpret_cast<char*>(&file), sizeof(file));
    in.read(reinterpret_cast<char*>(&info), sizeof(info));
    if (!in || file.bfType != 0x4D42 || info.biBitCount != 32 || info.biHeight >= 0) return picture;
    picture.width = info.biWidth;
    picture.height = -info.biHeight;
    picture.data.resize(static_cast<size_t>(picture.width) * picture.height);
    in.read(reinterpret_cast<char*>(picture.data.data()), picture.data.size() * 4);
    if (!in) picture = Picture{};
    return picture;
}

}  // namespace paint_test
