// Window-less controls: a control knows its rectangle in the owner dialog's
// client area, its colours, bitmaps, text and font, and paints itself into a
// device context the owner hands it. A click reaches the owner as WM_COMMAND.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

enum CtrlState : int { CtrlStateNormal = 0, CtrlStateHover = 1, CtrlStatePressed = 2, CtrlStateDisabled = 3 };

// A rectangle plus its {0, 0, width, height}, rebuilt after every change.
class CommonRect {
public:
    CommonRect(int left, int top, int right, int bottom);
    CommonRect(const CommonRect& other) = default;
    CommonRect& operator=(const CommonRect& other) = default;
    virtual ~CommonRect();

    RECT* GetRect() { return &rect; }
    const RECT* GetRect() const { return &rect; }
    RECT* GetSizeRect() { return &size; }
    int GetWidth() const { return size.right; }
    int GetHeight() const { return size.bottom; }
    void SetRect(int l, int t, int r, int b);
    // Left and top move out by n but not below 0; right and bottom out by n.
    void Inflate(int n);
    // Every side moves in by n; a left or top that would be negative is 0.
    void Deflate(int n);
    void Recalc();

    RECT rect;  // left, top, right, bottom
    RECT size;  // {0, 0, width, height}
};

class CommonCtrl {
public:
    CommonCtrl(HWND owner, RECT rect);
    virtual ~CommonCtrl();
    CommonCtrl(const CommonCtrl&) = delete;
    CommonCtrl& operator=(const CommonCtrl&) = delete;

    // Draws the control; a null dc draws nothing and returns 0, except for
    // the classes that then draw on the owner window directly.
    virtual int Paint(HDC dc) = 0;
    virtual void SetId(int id);
    virtual int GetId();
    virtual void SetText(const wchar_t* text);
    virtual std::wstring GetText();
    virtual void SetFont(HFONT font);
    HFONT GetFont() const { return m_font.load(); }
    virtual void SetTextColor(COLORREF colour);
    virtual void SetFormat(UINT format);
    virtual int FillSolid(HDC dc, const RECT* rect, COLORREF colour);
    virtual void SetVisible(bool visible);
    virtual bool IsVisible();
    virtual void SetEnabled(bool enabled);
    virtual bool IsEnabled();
    virtual HWND GetHwnd();
    virtual CommonRect* GetRect();
    virtual void SetRect(const RECT* rect);
    // Signed, all four edges included.
    virtual bool HitTest(int x, int y);
    virtual void SetDrawBitmap(bool draw);
    virtual bool GetDrawBitmap();
    virtual void SetStateColors(COLORREF normal, COLORREF hover, COLORREF pressed, COLORREF disabled);
    // Bitmaps are not owned; a null entry draws nothing in that state.
    virtual void SetStateBitmaps(HBITMAP normal, HBITMAP hover, HBITMAP pressed, HBITMAP disabled);
    HBITMAP GetStateBitmap(CtrlState state) const { return m_stateBitmaps[state].load(); }
    // Copies cx x cy pixels of the bitmap's origin to (x, y); 1 and nothing
    // drawn for a null dc or bitmap, else 0.
    virtual int DrawBitmapAt(HDC dc, HBITMAP bitmap, int x, int y, int cx, int cy);
    virtual int DrawBitmap(HDC dc, HBITMAP bitmap);

    CtrlState GetState() const { return m_state.load(); }
    bool IsPressed() const { return m_bPressed.load(); }

protected:
    // Stores one value per CtrlState, in the order normal, hover, pressed, disabled.
    template <typename T>
    static void StoreStates(std::atomic<T> (&slots)[4], T normal, T hover, T pressed, T disabled) {
        slots[CtrlStateNormal] = normal;
        slots[CtrlStateHover] = hover;
        slots[CtrlStatePressed] = pressed;
        slots[CtrlStateDisabled] = disabled;
    }
    // The rectangle as it stands now, safe to read from a painting thread.
    RECT RectSnapshot() const;
    // Transparent text in the current text colour into rect with the format;
    // with a font: select, draw, restore, and invalidate invalidRect.
    void DrawTextIn(HDC dc, HFONT font, RECT rect, UINT format, const RECT& invalidRect);

    // The owner's user-interface thread changes these while its repaint
    // thread paints; each is read or written whole.
    std::atomic<CtrlState> m_state{CtrlStateNormal};
    std::atomic<bool> m_bPressed{false};
    std::atomic<COLORREF> m_stateColors[4]{{0}, {0}, {0}, {0}};
    std::atomic<HBITMAP> m_stateBitmaps[4]{{nullptr}, {nullptr}, {nullptr}, {nullptr}};
    std::atomic<UINT> m_format{DT_CENTER | DT_VCENTER | DT_SINGLELINE};
    std::atomic<int> m_id{-1};
    HWND m_owner;
    CommonRect m_rect;
    std::wstring m_text;
    std::atomic<bool> m_bVisible{true};
    std::atomic<bool> m_bEnabled{true};
    std::atomic<int> m_bDrawBitmap{0};
    std::atomic<HFONT> m_font{nullptr};
    std::atomic<COLORREF> m_textColor{0};

    mutable std::mutex m_lock;  // guards m_text and m_rect
};

// The owner's side of the mouse protocol over its mouse list (controls of the
// button family). x is the low word of lParam unsigned, y the high word signed.
int CtrlMouseX(LPARAM lParam);
int CtrlMouseY(LPARAM lParam);
// WM_MOUSEMOVE: press or release every control (press when the left button
// is down or the owner's pressed flag is set), then move; result 0.
int DispatchMouseMove(const std::vector<CommonCtrl*>& controls, WPARAM wParam, LPARAM lParam, bool ownerPressed);
// WM_LBUTTONDOWN and WM_LBUTTONUP: the sum of the controls' answers.
int DispatchLButtonDown(const std::vector<CommonCtrl*>& controls, LPARAM lParam);
int DispatchLButtonUp(const std::vector<CommonCtrl*>& controls, LPARAM lParam);
// Calls Paint(dc) on every control in list order.
void PaintControls(const std::vector<CommonCtrl*>& controls, HDC dc);
