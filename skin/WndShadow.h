// The layered drop shadow around a borderless dialog: a click-through popup
// owned by the dialog, slightly larger than it, that follows every move,
// resize, show and hide of the dialog through a subclassed window procedure.
#pragma once

#include <windows.h>

#include <cstdint>

class CWndShadow {
public:
    CWndShadow() = default;
    // Detaches from a parent that still exists, so it never calls a freed object.
    virtual ~CWndShadow();
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;

    // Once per process: keeps the layered-window functions and registers the
    // shadow window class; false when it ran before or the platform has no
    // layered windows.
    static bool Initialize(HINSTANCE instance);
    // Attaches the shadow to parent on the first call; later calls do nothing.
    // A parent that already has a shadow gets no second one.
    void Create(HWND parent, bool show);
    void Show(HWND parent);
    // Rebuilds the image and places the shadow window.
    void Update(HWND parent);
    // Computes the image of a parent of parentRect's size into a bottom-up
    // 32-bit buffer of (W + 2 size) x (H + 2 size) premultiplied pixels.
    void MakeShadow(uint32_t* pixels, HWND parent, const RECT* parentRect);
    // Red, green and blue of colour times alpha / 255, as 0x00RRGGBB.
    static uint32_t PreMultiply(COLORREF colour, uint8_t alpha);

    HWND GetShadowWindow() const { return m_hWnd; }
    uint8_t GetStatus() const { return m_Status; }

    // Status bits.
    static constexpr uint8_t kEnabled = 1;
    static constexpr uint8_t kVisible = 2;
    static constexpr uint8_t kParentVisible = 4;
    static constexpr uint8_t kDisabledByComposition = 8;

private:
    static LRESULT CALLBACK ParentProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Show for a parent that is about to become visible (WM_SHOWWINDOW comes
    // before the platform sets WS_VISIBLE) or whose style tells.
    void ShowFor(HWND parent, bool becomingVisible);
    bool IsActive() const { return (m_Status & kEnabled) && !(m_Status & kDisabledByComposition); }
    void MoveToParent(HWND parent);

    HWND m_hWnd = reinterpret_cast<HWND>(-1);
    WNDPROC m_OriParentProc = nullptr;
    uint8_t m_Status = 0;
    uint8_t m_nDarkness = 30;
    uint8_t m_nSharpness = 30;
    int8_t m_nSize = 30;
    int8_t m_nxOffset = 0;
    int8_t m_nyOffset = 0;
    uint32_t m_WndSize = 50;
    bool m_bUpdate = false;
    COLORREF m_Color = 0x323232;
    bool m_bCreated = false;
    HWND m_hParent = nullptr;  // the window this shadow subclassed
};
