#include "SkinTestUtil.h"

#include <cstdio>

namespace skin_test {

Canvas::Canvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all{0, 0, width, height};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
    GdiFlush();
}

Canvas::~Canvas() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
}

COLORREF Canvas::At(int x, int y) const {
    GdiFlush();
    const uint32_t p = bits_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

int Canvas::Count(COLORREF colour, RECT area) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) n += At(x, y) == colour;
    return n;
}

int Canvas::FirstInkRow(COLORREF background, RECT area) const {
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (At(x, y) != background) return y;
    return -1;
}

int Canvas::LastInkRow(COLORREF background, RECT area) const {
    for (int y = area.bottom - 1; y >= area.top; --y)
        for (int x = area.left; x < area.right; ++x)
            if (At(x, y) != background) return y;
    return -1;
}

bool Canvas::SaveBmp(const std::wstring& path) const {
    GdiFlush();
    const int stride = (width_ * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width_;
    info.biHeight = height_;
    info.biPlanes = 1;
    info.biBitCount = 24;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + stride * height_;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    fwrite(&file, sizeof(file), 1, f);
    fwrite(&info, sizeof(info), 1, f);
    std::vector<unsigned char> row(stride, 0);
    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const uint32_t p = bits_[y * width_ + x];
            row[x * 3] = p & 0xFF;
            row[x * 3 + 1] = (p >> 8) & 0xFF;
            row[x * 3 + 2] = (p >> 16) & 0xFF;
        }
        fwrite(row.data(), 1, row.size(), f);
    }
    fclose(f);
    return true;
}

void CaptureClient(HWND wnd, Canvas& canvas) {
    HDC dc = GetDC(wnd);
    BitBlt(canvas.dc(), 0, 0, canvas.width(), canvas.height(), dc, 0, 0, SRCCOPY);
    ReleaseDC(wnd, dc);
    GdiFlush();
}

HBITMAP SolidBitmap(int width, int height, COLORREF colour) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT all{0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

OwnerWindow::OwnerWindow(int x, int y, int width, int height, DWORD style) {
    static const wchar_t kClass[] = L"SkinTestOwner";
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    wnd_ = CreateWindowExW(0, kClass, L"owner", style, x, y, width, height, nullptr, nullptr, wc.hInstance, this);
    Pump(50);
}

OwnerWindow::~OwnerWindow() {
    if (IsWindow(wnd_)) DestroyWindow(wnd_);
}

LRESULT CALLBACK OwnerWindow::Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (message == WM_COMMAND && self) {
        self->commands.push_back(static_cast<int>(wParam));
        return 0;
    }
    return DefWindowProcW(wnd, message, wParam, lParam);
}

namespace {
struct DialogSearch {
    HWND skip = nullptr;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialogProc(HWND wnd, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(wnd, cls, 32);
    if (wnd != search->skip && IsWindowVisible(wnd) && lstrcmpW(cls, L"#32770") == 0) {
        search->found = wnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND FindThreadDialog(DWORD threadId, DWORD timeoutMs, HWND skip) {
    const DWORD start = GetTickCount();
    DialogSearch search{skip, nullptr};
    while (!search.found) {
        EnumThreadWindows(threadId, FindDialogProc, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start > timeoutMs) break;
        Sleep(20);
    }
    return search.found;
}

void MouseAt(int x, int y, DWORD buttonFlags) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((x * 65535LL + (sw - 1) / 2) / (sw - 1));
    input.mi.dy = static_cast<LONG>((y * 65535LL + (sh - 1) / 2) / (sh - 1));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttonFlags;
    SendInput(1, &input, sizeof(input));
}

void SetLogPixels(int dpi) {
    const DWORD value = dpi;
    const struct {
        HKEY root;
        const wchar_t* path;
    } keys[] = {{HKEY_CURRENT_USER, L"Control Panel\\Desktop"}, {HKEY_CURRENT_CONFIG, L"Software\\Fonts"}};
    for (const auto& k : keys) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(k.root, k.path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

TestFont::TestFont(int height, int weight)
    : font_(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY, 0,
                        L"Tahoma")) {}

TestFont::~TestFont() { DeleteObject(font_); }

}  // namespace skin_test
