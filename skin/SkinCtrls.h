// The concrete window-less controls: bitmap and colour buttons, links, check
// boxes, a progress bar and static texts, plus an owner-drawn wrapper of a
// real button window.
#pragma once

#include "CommonCtrl.h"

// A push button drawn from its state bitmap and state text colour.
class ButtonCtrlEx : public CommonCtrl {
public:
    ButtonCtrlEx(HWND owner, RECT rect);
    ~ButtonCtrlEx() override;

    int Paint(HDC dc) override;
    // Disabling also shows the disabled look; enabling keeps the look until
    // the next mouse message moves the state.
    void SetEnabled(bool enabled) override;

    // The button state machine; each returns 1 when the point is on the
    // control and it reacted, and does nothing while disabled or hidden.
    virtual int OnMouseMove(int x, int y);
    virtual int OnLButtonDown(int x, int y);
    // A release on a pressed button sends WM_COMMAND (wParam = id) to the owner.
    virtual int OnLButtonUp(int x, int y);

protected:
    bool TakesMouse();
    // Paint steps shared by the button family: the state bitmap at box, the
    // text in textRect; font = the font of the current state.
    int PaintButton(HDC dc, HBITMAP bitmap, HFONT font, const RECT& box, const RECT& textRect);
};

// A button drawn from a border colour and a fill colour per state; 0 means no fill.
class ButtonColorCtrlEx : public ButtonCtrlEx {
public:
    ButtonColorCtrlEx(HWND owner, RECT rect);
    ~ButtonColorCtrlEx() override;

    int Paint(HDC dc) override;
    virtual void SetBorderColors(COLORREF normal, COLORREF hover, COLORREF pressed, COLORREF disabled);
    virtual void SetBorderWidth(int width);
    virtual void SetFillColors(COLORREF normal, COLORREF hover, COLORREF pressed, COLORREF disabled);

protected:
    std::atomic<COLORREF> m_fillColors[4]{{0}, {0}, {0}, {0}};
    std::atomic<COLORREF> m_borderColors[4]{{0}, {0}, {0}, {0}};
    std::atomic<int> m_nBorderWidth{0};
};

// A link-style button whose font changes while hovered or pressed.
class HyLinkCtrlEx : public ButtonCtrlEx {
public:
    HyLinkCtrlEx(HWND owner, RECT rect);
    ~HyLinkCtrlEx() override;

    int Paint(HDC dc) override;
    // Not owned. Without one, a hovered link draws in the dc's own font.
    virtual void SetHoverFont(HFONT font);
    HFONT GetHoverFont() const { return m_hoverFont.load(); }

protected:
    std::atomic<HFONT> m_hoverFont{nullptr};
};

// A check box; it never toggles itself: the owner calls SetCheck when it
// handles the click's command.
class CheckButtonCtrl : public ButtonCtrlEx {
public:
    CheckButtonCtrl(HWND owner, RECT rect);
    ~CheckButtonCtrl() override;

    int Paint(HDC dc) override;
    virtual void SetCheck(int checked);
    virtual int GetCheck();
    virtual void SetCheckedBitmaps(HBITMAP normal, HBITMAP hover, HBITMAP pressed, HBITMAP disabled);

protected:
    HBITMAP CurrentBitmap();

    std::atomic<HBITMAP> m_checkedBitmaps[4]{{nullptr}, {nullptr}, {nullptr}, {nullptr}};
    std::atomic<int> m_bChecked{0};
};

// A check box whose box and text lie at offsets from its top-left corner.
class CheckButtonCtrlEx : public CheckButtonCtrl {
public:
    CheckButtonCtrlEx(HWND owner, RECT rect);
    ~CheckButtonCtrlEx() override;

    int Paint(HDC dc) override;
    virtual void SetBoxRect(int x, int y, int cx, int cy);
    virtual void SetTextRect(int x, int y, int cx, int cy);

protected:
    RECT m_box{};   // x, y, cx, cy
    RECT m_textBox{};
};

// A progress bar: a border, a done part and a rest part (or a track and a bar
// bitmap). SetPos draws at once on the owner window.
class ProcessCtrl : public CommonCtrl {
public:
    ProcessCtrl(HWND owner, RECT rect);
    ~ProcessCtrl() override;

    int Paint(HDC dc) override;
    virtual void SetRange(int min, int max);
    virtual void SetPos(int pos);
    virtual void SetBorder(int width, COLORREF colour);
    virtual void SetBarColors(COLORREF done, COLORREF rest);

    // The done part's width for an inner width: 0 for an empty range, never
    // outside 0..innerWidth.
    int BarWidth(int innerWidth) const;

protected:
    std::atomic<int> m_nMin{0};
    std::atomic<int> m_nMax{100};
    std::atomic<int> m_nPos{0};
    std::atomic<int> m_nBorderWidth{0};
    std::atomic<COLORREF> m_borderColor{0};
    std::atomic<COLORREF> m_doneColor{0};
    std::atomic<COLORREF> m_restColor{0};
};

// A text or picture. A null dc draws on the owner window.
class StaticCtrl : public CommonCtrl {
public:
    StaticCtrl(HWND owner, RECT rect);
    ~StaticCtrl() override;

    int Paint(HDC dc) override;
};

// An owner-drawn real button window (nothing in the installer creates one).
class ButtonCtrl : public CommonCtrl {
public:
    ButtonCtrl();
    ~ButtonCtrl() override;

    void SetText(const wchar_t* text) override;
    std::wstring GetText() override;
    void SetVisible(bool visible) override;
    bool IsVisible() override;

    virtual bool Attach(HWND dialog, int id);
    virtual bool AttachWindow(HWND button);
    // Answers the owner-draw request of its own id (any id while its id is
    // negative) when visible; 1 when it drew.
    virtual int OnDrawItem(DRAWITEMSTRUCT* item);
    virtual void SetBorder(int width, COLORREF colour);
    virtual void SetFillColors(COLORREF pressed, COLORREF normal);

protected:
    int m_nBorderWidth = 0;
    COLORREF m_borderColor = 0;
    COLORREF m_pressedColor = 0;
    COLORREF m_normalColor = 0;
};
