#include "CommonCtrl.h"

#include "Handles.h"
#include "SkinCtrls.h"

CommonRect::CommonRect(int l, int t, int r, int b) : rect{l, t, r, b}, size{} { Recalc(); }

CommonRect::~CommonRect() = default;

void CommonRect::SetRect(int l, int t, int r, int b) {
    rect = RECT{l, t, r, b};
    Recalc();
}

void CommonRect::Inflate(int n) {
    rect.left = rect.left - n < 0 ? 0 : rect.left - n;
    rect.top = rect.top - n < 0 ? 0 : rect.top - n;
    rect.right += n;
    rect.bottom += n;
    Recalc();
}

void CommonRect::Deflate(int n) {
    rect.left = rect.left + n < 0 ? 0 : rect.left + n;
    rect.top = rect.top + n < 0 ? 0 : rect.top + n;
    rect.right -= n;
    rect.bottom -= n;
    Recalc();
}

void CommonRect::Recalc() { size = RECT{0, 0, rect.right - rect.left, rect.bottom - rect.top}; }

CommonCtrl::CommonCtrl(HWND owner, RECT rect) : m_owner(owner), m_rect(rect.left, rect.top, rect.right, rect.bottom) {}

CommonCtrl::~CommonCtrl() = default;

void CommonCtrl::SetId(int id) { m_id = id; }
int CommonCtrl::GetId() { return m_id; }

void CommonCtrl::SetText(const wchar_t* text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_text = text ? text : L"";
}

std::wstring CommonCtrl::GetText() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_text;
}

void CommonCtrl::SetFont(HFONT font) { m_font = font; }
void CommonCtrl::SetTextColor(COLORREF colour) { m_textColor = colour; }
void CommonCtrl::SetFormat(UINT format) { m_format = format; }

int CommonCtrl::FillSolid(HDC dc, const RECT* rect, COLORREF colour) {
    UniqueGdi<HBRUSH> brush(CreateSolidBrush(colour));
    return FillRect(dc, rect, brush.get());
}

void CommonCtrl::SetVisible(bool visible) { m_bVisible = visible; }
bool CommonCtrl::IsVisible() { return m_bVisible; }
void CommonCtrl::SetEnabled(bool enabled) { m_bEnabled = enabled; }
bool CommonCtrl::IsEnabled() { return m_bEnabled; }
HWND CommonCtrl::GetHwnd() { return m_owner; }
CommonRect* CommonCtrl::GetRect() { return &m_rect; }

void CommonCtrl::SetRect(const RECT* rect) {
    if (!rect) return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_rect.SetRect(rect->left, rect->top, rect->right, rect->bottom);
}

RECT CommonCtrl::RectSnapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return *m_rect.GetRect();
}

bool CommonCtrl::HitTest(int x, int y) {
    const RECT r = RectSnapshot();
    return r.left <= x && x <= r.right && r.top <= y && y <= r.bottom;
}

void CommonCtrl::SetDrawBitmap(bool draw) { m_bDrawBitmap = draw ? 1 : 0; }
bool CommonCtrl::GetDrawBitmap() { return m_bDrawBitmap != 0; }

void CommonCtrl::SetStateColors(COLORREF normal, COLORREF hover, COLORREF pressed, COLORREF disabled) {
    StoreStates(m_stateColors, normal, hover, pressed, disabled);
}

void CommonCtrl::SetStateBitmaps(HBITMAP normal, HBITMAP hover, HBITMAP pressed, HBITMAP disabled) {
    StoreStates(m_stateBitmaps, normal, hover, pressed, disabled);
}

int CommonCtrl::DrawBitmapAt(HDC dc, HBITMAP bitmap, int x, int y, int cx, int cy) {
    if (!dc || !bitmap) return 1;
    UniqueMemoryDc memory(CreateCompatibleDC(dc));
    if (!memory) return 1;
    {
        SelectedObject selected(memory.get(), bitmap);
        BitBlt(dc, x, y, cx, cy, memory.get(), 0, 0, SRCCOPY);
    }
    return 0;
}

int CommonCtrl::DrawBitmap(HDC dc, HBITMAP bitmap) {
    const RECT r = RectSnapshot();
    return DrawBitmapAt(dc, bitmap, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void CommonCtrl::DrawTextIn(HDC dc, HFONT font, RECT rect, UINT format, const RECT& invalidRect) {
    const std::wstring text = GetText();
    SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, m_textColor);
    if (font) {
        {
            SelectedObject selected(dc, font);
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
        }
        InvalidateRect(m_owner, &invalidRect, FALSE);
    } else {
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
    }
}

int CtrlMouseX(LPARAM lParam) { return static_cast<int>(static_cast<unsigned short>(lParam & 0xFFFF)); }
int CtrlMouseY(LPARAM lParam) { return static_cast<int>(static_cast<LONG>(lParam) >> 16); }

namespace {
template <typename F>
int ForEachButton(const std::vector<CommonCtrl*>& controls, F f) {
    int sum = 0;
    for (CommonCtrl* control : controls) {
        if (auto* button = dynamic_cast<ButtonCtrlEx*>(control)) sum += f(button);
    }
    return sum;
}
}  // namespace

int DispatchMouseMove(const std::vector<CommonCtrl*>& controls, WPARAM wParam, LPARAM lParam, bool ownerPressed) {
    const int x = CtrlMouseX(lParam), y = CtrlMouseY(lParam);
    if ((wParam & MK_LBUTTON) || ownerPressed) {
        ForEachButton(controls, [&](ButtonCtrlEx* b) { return b->OnLButtonDown(x, y); });
    } else {
        ForEachButton(controls, [&](ButtonCtrlEx* b) { return b->OnLButtonUp(x, y); });
    }
    ForEachButton(controls, [&](ButtonCtrlEx* b) { return b->OnMouseMove(x, y); });
    return 0;
}

int DispatchLButtonDown(const std::vector<CommonCtrl*>& controls, LPARAM lParam) {
    const int x = CtrlMouseX(lParam), y = CtrlMouseY(lParam);
    return ForEachButton(controls, [&](ButtonCtrlEx* b) { return b->OnLButtonDown(x, y); });
}

int DispatchLButtonUp(const std::vector<CommonCtrl*>& controls, LPARAM lParam) {
    const int x = CtrlMouseX(lParam), y = CtrlMouseY(lParam);
    return ForEachButton(controls, [&](ButtonCtrlEx* b) { return b->OnLButtonUp(x, y); });
}

void PaintControls(const std::vector<CommonCtrl*>& controls, HDC dc) {
    for (CommonCtrl* control : controls) control->Paint(dc);
}
