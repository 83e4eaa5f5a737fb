#include "SkinMessageBox.h"

#include "SkinBitmap.h"

namespace {

// The box being shown; the dialog procedure forwards to it.
std::atomic<SkinMessageBox*> g_currentBox{nullptr};

constexpr int kDesignWidth = 420;
constexpr int kDesignHeight = 210;
constexpr int kHeaderHeight = 36;
constexpr int kFooterHeight = 54;
constexpr COLORREF kPageColor = 0xFFFFFF;
constexpr COLORREF kHeaderColor = 0xB5474A;
constexpr COLORREF kFooterColor = 0xFDFBF7;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kMessageColor = 0x373737;
constexpr DWORD kRedrawIntervalMs = 30;
// The redraw thread looks at its stop flag every 30 ms; this bound is only
// reached when it hangs inside the platform, and then the box is kept alive.
constexpr DWORD kFinalStopWaitMs = 10000;

enum SkinBitmapId {
    kBmpButtonHover = 174,
    kBmpIcon = 175,
    kBmpButtonNormal = 176,
    kBmpButtonPressed = 177,
    kBmpCloseHover = 178,
    kBmpCloseNormal = 179,
    kBmpClosePressed = 180,
};

INT_PTR CALLBACK SkinMessageBoxProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SkinMessageBox* box = g_currentBox.load();
    return box ? box->DialogProc(wnd, message, wParam, lParam) : 0;
}

}  // namespace

int ShowSkinMessageBox(HWND owner, const wchar_t* title, const wchar_t* message, const wchar_t* buttonText) {
    auto box = std::make_unique<SkinMessageBox>();
    SkinMessageBox* previous = g_currentBox.exchange(box.get());
    box->SetTexts(title, message, buttonText, L"");
    DialogBoxParamW(GetSkinInstance(), MAKEINTRESOURCEW(kSkinMsgTemplate), owner, SkinMessageBoxProc, 0);
    const int result = box->GetResult();
    // Enter and Escape end the dialog without OnClose: stop the painter here.
    // The box must outlive its redraw thread, which still reads its controls.
    const bool stopped = box->StopRedrawThread(kFinalStopWaitMs);
    g_currentBox = previous;
    if (!stopped) {
        OutputDebugStringA("SkinMessageBox: redraw thread did not stop; box kept\n");
        box.release();
    }
    return result;
}

SkinMessageBox::SkinMessageBox() {
    m_bFixedSize = 1;
    m_nWidth = kDesignWidth;
    m_nHeight = kDesignHeight;
}

SkinMessageBox::~SkinMessageBox() {
    // Never free the controls under a running painter.
    StopRedrawThread(kFinalStopWaitMs);
}

bool SkinMessageBox::StopRedrawThread(DWORD timeoutMs) {
    m_bStop = true;
    if (!m_redrawThread) return true;
    if (!WaitAnsweringSentMessages(m_redrawThread.get(), timeoutMs)) return false;
    m_redrawThread.reset();
    return true;
}

void SkinMessageBox::SetTexts(const wchar_t* title, const wchar_t* message, const wchar_t* button1,
                              const wchar_t* button2) {
    m_title = title ? title : L"";
    m_message = message ? message : L"";
    m_button1Text = button1 ? button1 : L"";
    m_button2Text = button2 ? button2 : L"";
}

int SkinMessageBox::OnInitDialog(HWND wnd) {
    CommonDlg::OnInitDialog(wnd);
    CreateControls();
    LayoutButtons();
    m_bStop = false;
    m_redrawThread.reset(CreateThread(nullptr, 0, RedrawThread, this, 0, nullptr));
    return 1;
}

void SkinMessageBox::CreateControls() {
    // The box draws at design size and the picture is scaled afterwards, so
    // its font is made for 96 DPI.
    m_font.reset(CreateFontW(-MulDiv(14, 96, 96), 0, 0, 0, 0, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0,
                             L"\x5FAE\x8F6F\x96C5\x9ED1"));
    HFONT font = m_font.get();
    auto load = [this](int id) {
        m_bitmaps.emplace_back(LoadSkinBitmap(id));
        return m_bitmaps.back().get();
    };

    m_pTitle = std::make_unique<StaticCtrl>(m_hWnd, RECT{10, 5, 320, 30});
    m_pTitle->SetFont(font);
    m_pTitle->SetTextColor(kWhite);
    m_pTitle->SetFormat(DT_VCENTER | DT_SINGLELINE);
    m_pTitle->SetText(m_title.c_str());

    m_pCloseBtn = std::make_unique<ButtonCtrlEx>(m_hWnd, RECT{401, 0, 418, 21});
    m_pCloseBtn->SetId(kSkinMsgCloseButton);
    m_pCloseBtn->SetDrawBitmap(true);
    m_pCloseBtn->SetFont(font);
    m_pCloseBtn->SetTextColor(kWhite);
    m_pCloseBtn->SetStateColors(kWhite, kWhite, kWhite, kWhite);
    m_pCloseBtn->SetStateBitmaps(load(kBmpCloseNormal), load(kBmpCloseHover), load(kBmpClosePressed), nullptr);

    m_pIcon = std::make_unique<StaticCtrl>(m_hWnd, RECT{32, 90, 62, 120});
    m_pIcon->SetDrawBitmap(true);
    m_pIcon->SetStateBitmaps(load(kBmpIcon), nullptr, nullptr, nullptr);

    m_pMessage = std::make_unique<StaticCtrl>(m_hWnd, RECT{72, 36, 388, 156});
    m_pMessage->SetDrawBitmap(false);
    m_pMessage->SetFont(font);
    m_pMessage->SetTextColor(kMessageColor);
    m_pMessage->SetFormat(DT_EDITCONTROL | DT_WORDBREAK);
    m_pMessage->SetText(m_message.c_str());

    HBITMAP normal = load(kBmpButtonNormal), hover = load(kBmpButtonHover), pressed = load(kBmpButtonPressed);
    auto makeButton = [&](RECT rect, int id, const std::wstring& text, bool visible) {
        auto button = std::make_unique<ButtonCtrlEx>(m_hWnd, rect);
        button->SetId(id);
        button->SetDrawBitmap(true);
        button->SetFont(font);
        button->SetTextColor(kWhite);
        button->SetStateColors(kWhite, kWhite, kWhite, kWhite);
        button->SetStateBitmaps(normal, hover, pressed, nullptr);
        button->SetVisible(visible);
        button->SetText(text.c_str());
        return button;
    };
    m_pButton1 = makeButton(RECT{200, 167, 300, 199}, kSkinMsgButton1, m_button1Text, true);
    m_pButton2 = makeButton(RECT{310, 167, 410, 199}, kSkinMsgButton2, m_button2Text, false);

    m_mouseCtrls = {m_pCloseBtn.get(), m_pButton1.get(), m_pButton2.get()};
    m_paintCtrls = {m_pTitle.get(), m_pIcon.get(), m_pMessage.get(), m_pCloseBtn.get(), m_pButton1.get(),
                    m_pButton2.get()};
}

void SkinMessageBox::LayoutButtons() {
    if (m_bTwoButtons) {
        const RECT first{200, 167, 300, 199}, second{310, 167, 410, 199};
        m_pButton1->SetRect(&first);
        m_pButton2->SetRect(&second);
        m_pButton1->SetVisible(true);
        m_pButton2->SetVisible(true);
    } else {
        const RECT only{160, 167, 260, 199};
        m_pButton1->SetRect(&only);
        m_pButton1->SetVisible(true);
        m_pButton2->SetVisible(false);
    }
}

int SkinMessageBox::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        return OnClose();
    case WM_ERASEBKGND:
        return 1;  // the painter covers the whole client area
    case WM_MOUSEMOVE:
        return DispatchMouseMove(m_mouseCtrls, wParam, lParam, m_bPressed != 0);
    case WM_LBUTTONDOWN: {
        const int taken = DispatchLButtonDown(m_mouseCtrls, lParam);
        m_bPressed = 1;
        return taken;
    }
    case WM_LBUTTONUP:
        m_bPressed = 0;
        return DispatchLButtonUp(m_mouseCtrls, lParam);
    default:
        return 0;
    }
}

int SkinMessageBox::OnCommand(WPARAM wParam, LPARAM lParam) {
    switch (static_cast<int>(wParam)) {
    case kSkinMsgCloseButton:
    case 1626:
    case kSkinMsgNoButton:
    case kSkinMsgButton1:
    case kSkinMsgButton2:
        m_nResult = static_cast<int>(wParam);
        SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return 1;
    default:
        return CommonDlg::OnCommand(wParam, lParam);
    }
}

int SkinMessageBox::OnClose() {
    StopRedrawThread(1000);
    return 0;
}

void SkinMessageBox::OnPaint() {
    std::lock_guard<std::mutex> guard(m_paintLock);
    if (!m_hWnd) return;
    WindowDc dc(m_hWnd);
    if (!dc) return;
    // The whole box is drawn at its design size and handed to the window at
    // the display's scale, so it looks the same at every DPI.
    const int width = kDesignWidth, height = kDesignHeight;
    UniqueMemoryDc memory(CreateCompatibleDC(dc.get()));
    UniqueGdi<HBITMAP> frame(CreateCompatibleBitmap(dc.get(), width, height));
    if (!memory || !frame) return;
    SelectedObject selected(memory.get(), frame.get());
    const RECT page{0, 0, width, height};
    const RECT header{0, 0, width, kHeaderHeight};
    const RECT footer{0, height - kFooterHeight, width, height};
    FillSolid(memory.get(), &page, kPageColor);
    FillSolid(memory.get(), &header, kHeaderColor);
    FillSolid(memory.get(), &footer, kFooterColor);
    PaintControls(m_paintCtrls, memory.get());
    PresentDesign(dc.get(), memory.get(), 0, 0, width, height);
}

DWORD WINAPI SkinMessageBox::RedrawThread(void* param) {
    auto* box = static_cast<SkinMessageBox*>(param);
    while (g_currentBox.load() && !box->m_bStop) {
        box->OnPaint();
        Sleep(kRedrawIntervalMs);
    }
    return 0;
}
