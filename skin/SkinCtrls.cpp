#include "SkinCtrls.h"

#include <optional>

#include "Handles.h"

// ---- ButtonCtrlEx ----

ButtonCtrlEx::ButtonCtrlEx(HWND owner, RECT rect) : CommonCtrl(owner, rect) {
    SetStateColors(0x333333, 0x666666, 0x111111, 0x999999);
}

ButtonCtrlEx::~ButtonCtrlEx() = default;

void ButtonCtrlEx::SetEnabled(bool enabled) {
    m_bEnabled = enabled;
    if (!enabled) m_state = CtrlStateDisabled;
}

bool ButtonCtrlEx::TakesMouse() { return m_bEnabled && m_bVisible; }

int ButtonCtrlEx::OnMouseMove(int x, int y) {
    if (!TakesMouse()) return 0;
    if (HitTest(x, y)) {
        m_state = m_bPressed ? CtrlStatePressed : CtrlStateHover;
        return 1;
    }
    m_state = CtrlStateNormal;
    m_bPressed = false;
    return 0;
}

int ButtonCtrlEx::OnLButtonDown(int x, int y) {
    if (!TakesMouse()) return 0;
    if (HitTest(x, y)) {
        m_bPressed = true;
        m_state = CtrlStatePressed;
        return 1;
    }
    m_state = CtrlStateNormal;
    m_bPressed = false;
    return 0;
}

int ButtonCtrlEx::OnLButtonUp(int x, int y) {
    if (!TakesMouse() || !m_bPressed) return 0;
    m_bPressed = false;
    if (HitTest(x, y)) {
        m_state = CtrlStateHover;
        SendMessageW(m_owner, WM_COMMAND, static_cast<WPARAM>(static_cast<unsigned>(m_id.load())), 0);
        return 1;
    }
    m_state = CtrlStateNormal;
    return 0;
}

int ButtonCtrlEx::PaintButton(HDC dc, HBITMAP bitmap, HFONT font, const RECT& box, const RECT& textRect) {
    if (m_bDrawBitmap) DrawBitmapAt(dc, bitmap, box.left, box.top, box.right - box.left, box.bottom - box.top);
    if (GetText().empty()) return 1;
    DrawTextIn(dc, font, textRect, m_format, textRect);
    return 1;
}

int ButtonCtrlEx::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    const CtrlState state = m_state;
    HBITMAP bitmap = m_stateBitmaps[state];
    m_textColor = m_stateColors[state].load();
    if (!dc) return 0;
    const RECT r = RectSnapshot();
    return PaintButton(dc, bitmap, m_font, r, r);
}

// ---- ButtonColorCtrlEx ----

ButtonColorCtrlEx::ButtonColorCtrlEx(HWND owner, RECT rect) : ButtonCtrlEx(owner, rect) {}
ButtonColorCtrlEx::~ButtonColorCtrlEx() = default;

void ButtonColorCtrlEx::SetBorderColors(COLORREF normal, COLORREF hover, COLORREF pressed, COLORREF disabled) {
    StoreStates(m_borderColors, normal, hover, pressed, disabled);
}

void ButtonColorCtrlEx::SetBorderWidth(int width) { m_nBorderWidth = width; }

void ButtonColorCtrlEx::SetFillColors(COLORREF normal, COLORREF hover, COLORREF pressed, COLORREF disabled) {
    StoreStates(m_fillColors, normal, hover, pressed, disabled);
}

int ButtonColorCtrlEx::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    const CtrlState state = m_state;
    const COLORREF border = m_borderColors[state];
    const COLORREF fill = m_fillColors[state];
    m_textColor = m_stateColors[state].load();
    if (!dc) return 0;
    const RECT r = RectSnapshot();
    // A colour of 0 means "no fill", so black cannot be drawn.
    if (border) FillSolid(dc, &r, border);
    if (fill) {
        const int w = m_nBorderWidth;
        const RECT inner{r.left + w, r.top + w, r.right - w, r.bottom - w};
        FillSolid(dc, &inner, fill);
    }
    if (GetText().empty()) return 1;
    DrawTextIn(dc, m_font, r, m_format, r);
    return 1;
}

// ---- HyLinkCtrlEx ----

HyLinkCtrlEx::HyLinkCtrlEx(HWND owner, RECT rect) : ButtonCtrlEx(owner, rect) {}
HyLinkCtrlEx::~HyLinkCtrlEx() = default;

void HyLinkCtrlEx::SetHoverFont(HFONT font) { m_hoverFont = font; }

int HyLinkCtrlEx::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    const CtrlState state = m_state;
    HBITMAP bitmap = m_stateBitmaps[state];
    m_textColor = m_stateColors[state].load();
    const bool hot = state == CtrlStateHover || state == CtrlStatePressed;
    HFONT font = hot ? m_hoverFont.load() : m_font.load();
    if (!dc) return 0;
    const RECT r = RectSnapshot();
    return PaintButton(dc, bitmap, font, r, r);
}

// ---- CheckButtonCtrl ----

CheckButtonCtrl::CheckButtonCtrl(HWND owner, RECT rect) : ButtonCtrlEx(owner, rect) {}
CheckButtonCtrl::~CheckButtonCtrl() = default;

void CheckButtonCtrl::SetCheck(int checked) { m_bChecked = checked; }
int CheckButtonCtrl::GetCheck() { return m_bChecked; }

void CheckButtonCtrl::SetCheckedBitmaps(HBITMAP normal, HBITMAP hover, HBITMAP pressed, HBITMAP disabled) {
    StoreStates(m_checkedBitmaps, normal, hover, pressed, disabled);
}

HBITMAP CheckButtonCtrl::CurrentBitmap() {
    const CtrlState state = m_state;
    return m_bChecked ? m_checkedBitmaps[state].load() : m_stateBitmaps[state].load();
}

int CheckButtonCtrl::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    HBITMAP bitmap = CurrentBitmap();
    m_textColor = m_stateColors[m_state.load()].load();
    if (!dc) return 0;
    const RECT r = RectSnapshot();
    return PaintButton(dc, bitmap, m_font, r, r);
}

// ---- CheckButtonCtrlEx ----

CheckButtonCtrlEx::CheckButtonCtrlEx(HWND owner, RECT rect) : CheckButtonCtrl(owner, rect) {}
CheckButtonCtrlEx::~CheckButtonCtrlEx() = default;

void CheckButtonCtrlEx::SetBoxRect(int x, int y, int cx, int cy) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_box = RECT{x, y, cx, cy};
}

void CheckButtonCtrlEx::SetTextRect(int x, int y, int cx, int cy) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_textBox = RECT{x, y, cx, cy};
}

int CheckButtonCtrlEx::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    HBITMAP bitmap = CurrentBitmap();
    m_textColor = m_stateColors[m_state.load()].load();
    if (!dc) return 0;
    RECT r, box, text;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        r = *m_rect.GetRect();
        box = m_box;
        text = m_textBox;
    }
    const RECT boxRect{r.left + box.left, r.top + box.top, r.left + box.left + box.right, r.top + box.top + box.bottom};
    const RECT textRect{r.left + text.left, r.top + text.top, r.left + text.left + text.right,
                        r.top + text.top + text.bottom};
    return PaintButton(dc, bitmap, m_font, boxRect, textRect);
}

// ---- ProcessCtrl ----

ProcessCtrl::ProcessCtrl(HWND owner, RECT rect) : CommonCtrl(owner, rect) {}
ProcessCtrl::~ProcessCtrl() = default;

void ProcessCtrl::SetRange(int min, int max) {
    m_nMin = min;
    m_nMax = max;
}

void ProcessCtrl::SetPos(int pos) {
    m_nPos = pos;
    Paint(nullptr);
}

void ProcessCtrl::SetBorder(int width, COLORREF colour) {
    m_nBorderWidth = width;
    m_borderColor = colour;
}

void ProcessCtrl::SetBarColors(COLORREF done, COLORREF rest) {
    m_doneColor = done;
    m_restColor = rest;
}

int ProcessCtrl::BarWidth(int innerWidth) const {
    const int min = m_nMin, max = m_nMax, pos = m_nPos;
    if (innerWidth <= 0 || max == min) return 0;
    const double bar = static_cast<double>(static_cast<long long>(pos) - min) * innerWidth /
                       static_cast<double>(static_cast<long long>(max) - min);
    if (!(bar > 0)) return 0;  // also NaN
    if (bar >= innerWidth) return innerWidth;
    return static_cast<int>(bar);
}

int ProcessCtrl::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    std::optional<WindowDc> ownerDc;
    if (!dc) {
        if (!m_owner) return 0;  // never the whole screen's context
        ownerDc.emplace(m_owner);
        if (!*ownerDc) return 0;
        dc = ownerDc->get();
    }
    CommonRect inner(0, 0, 0, 0);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        inner = m_rect;
    }
    const int border = m_nBorderWidth;
    if (border > 0) FillSolid(dc, inner.GetRect(), m_borderColor);
    inner.Deflate(border);
    const RECT in = *inner.GetRect();
    const int bar = BarWidth(inner.GetWidth());
    if (m_bDrawBitmap) {
        DrawBitmapAt(dc, m_stateBitmaps[CtrlStateNormal], in.left, in.top, inner.GetWidth(), inner.GetHeight());
        DrawBitmapAt(dc, m_stateBitmaps[CtrlStateHover], in.left, in.top, bar, inner.GetHeight());
    } else {
        const RECT done{in.left, in.top, in.left + bar, in.bottom};
        const RECT rest{in.left + bar, in.top, in.right, in.bottom};
        FillSolid(dc, &done, m_doneColor);
        FillSolid(dc, &rest, m_restColor);
    }
    return 1;
}

// ---- StaticCtrl ----

StaticCtrl::StaticCtrl(HWND owner, RECT rect) : CommonCtrl(owner, rect) {}
StaticCtrl::~StaticCtrl() = default;

int StaticCtrl::Paint(HDC dc) {
    if (!m_bVisible) return 0;
    std::optional<WindowDc> ownerDc;
    if (!dc) {
        if (!m_owner) return 0;  // never the whole screen's context
        ownerDc.emplace(m_owner);
        if (!*ownerDc) return 0;
        dc = ownerDc->get();
    }
    if (m_bDrawBitmap) DrawBitmap(dc, m_stateBitmaps[CtrlStateNormal]);
    const RECT r = RectSnapshot();
    const UINT format = m_format;
    const std::wstring text = GetText();
    HFONT font = m_font;
    SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, m_textColor);
    {
        SelectedObject selected(dc, font);
        RECT drawRect = r;
        if (format & DT_EDITCONTROL) {
            // Multi-line text is centred vertically: measure, then move down.
            RECT measured = r;
            const int textHeight =
                DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, format | DT_CALCRECT);
            const int height = r.bottom - r.top;
            if (textHeight < height) drawRect.top += (height - textHeight) / 2;
        }
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &drawRect, format);
    }
    if (font) InvalidateRect(m_owner, &r, FALSE);
    return 1;
}

// ---- ButtonCtrl ----

ButtonCtrl::ButtonCtrl() : CommonCtrl(nullptr, RECT{0, 0, 0, 0}) {}
ButtonCtrl::~ButtonCtrl() = default;

void ButtonCtrl::SetText(const wchar_t* text) {
    CommonCtrl::SetText(text);
    if (m_owner) SetWindowTextW(m_owner, text ? text : L"");
}

std::wstring ButtonCtrl::GetText() { return CommonCtrl::GetText(); }

void ButtonCtrl::SetVisible(bool visible) {
    CommonCtrl::SetVisible(visible);
    if (m_owner) ShowWindow(m_owner, visible ? SW_SHOW : SW_HIDE);
}

bool ButtonCtrl::IsVisible() { return CommonCtrl::IsVisible(); }

bool ButtonCtrl::Attach(HWND dialog, int id) {
    m_id = id;
    return AttachWindow(GetDlgItem(dialog, id));
}

bool ButtonCtrl::AttachWindow(HWND button) {
    m_owner = button;
    if (!button || !IsWindow(button)) return false;
    RECT client{};
    GetClientRect(button, &client);
    SetRect(&client);
    return true;
}

int ButtonCtrl::OnDrawItem(DRAWITEMSTRUCT* item) {
    if (!item || !m_bVisible) return 0;
    if (m_id >= 0 && static_cast<int>(item->CtlID) != m_id) return 0;
    RECT inner = item->rcItem;
    if (m_nBorderWidth > 0) {
        FillSolid(item->hDC, &item->rcItem, m_borderColor);
        InflateRect(&inner, -m_nBorderWidth, -m_nBorderWidth);
    }
    FillSolid(item->hDC, &inner, (item->itemState & ODS_SELECTED) ? m_pressedColor : m_normalColor);
    const std::wstring text = GetText();
    SetBkMode(item->hDC, TRANSPARENT);
    ::SetTextColor(item->hDC, m_textColor);
    SelectedObject selected(item->hDC, m_font.load());
    DrawTextW(item->hDC, text.c_str(), static_cast<int>(text.size()), &item->rcItem, m_format);
    return 1;
}

void ButtonCtrl::SetBorder(int width, COLORREF colour) {
    m_nBorderWidth = width;
    m_borderColor = colour;
}

void ButtonCtrl::SetFillColors(COLORREF pressed, COLORREF normal) {
    m_pressedColor = pressed;
    m_normalColor = normal;
}
