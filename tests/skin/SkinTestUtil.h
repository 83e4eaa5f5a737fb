// Helpers of the skin tests: a plain owner window that records the commands
// its controls send, off-screen canvases, window captures and message pumping.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skin_test {

// A 32-bit top-down canvas with a memory DC; pixels are 0x00RRGGBB.
class Canvas {
public:
    Canvas(int width, int height, COLORREF fill = RGB(255, 255, 255));
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // The pixel as a COLORREF, for comparing with the controls' colours.
    COLORREF At(int x, int y) const;
    // Pixels of exactly this colour inside the rectangle.
    int Count(COLORREF colour, RECT area) const;
    int Count(COLORREF colour) const { return Count(colour, RECT{0, 0, width_, height_}); }
    // First and last row that hold a pixel other than background inside area; -1 when none.
    int FirstInkRow(COLORREF background, RECT area) const;
    int LastInkRow(COLORREF background, RECT area) const;
    // Writes the canvas as a 24-bit BMP file.
    bool SaveBmp(const std::wstring& path) const;

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// Copies the client area of a window into a canvas (the window's own
// surface, so other windows on the display do not get in the way).
void CaptureClient(HWND wnd, Canvas& canvas);

// A solid bitmap of one colour; the caller deletes it.
HBITMAP SolidBitmap(int width, int height, COLORREF colour);

// A visible top-level popup that records WM_COMMAND ids.
class OwnerWindow {
public:
    OwnerWindow(int x = 100, int y = 100, int width = 400, int height = 300, DWORD style = WS_POPUP | WS_VISIBLE);
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND hwnd() const { return wnd_; }
    std::vector<int> commands;

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND wnd_ = nullptr;
};

// The first visible dialog window (class #32770) of the thread other than
// skip, waiting up to timeoutMs for it to appear; null when none did.
HWND FindThreadDialog(DWORD threadId, DWORD timeoutMs, HWND skip = nullptr);

// Real mouse input at a screen point, in the input queue's own order (a
// pointer warp with SetCursorPos can overtake or trail the button events).
void MouseAt(int x, int y, DWORD buttonFlags = 0);

// Sets the DPI Wine gives the processes that start afterwards.
void SetLogPixels(int dpi);

// Handles the thread's pending messages for about ms milliseconds.
void Pump(DWORD ms);

// A font of the given pixel height, deleted by the destructor.
class TestFont {
public:
    explicit TestFont(int height, int weight = FW_BOLD);
    ~TestFont();
    HFONT get() const { return font_; }

private:
    HFONT font_;
};

}  // namespace skin_test
