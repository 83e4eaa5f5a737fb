#include "WndShadow.h"

#include <dwmapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "Handles.h"

namespace {

using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
using DwmIsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);

const wchar_t kShadowClass[] = L"PelnoShadowWnd";

struct ShadowProcess {
    bool initialized = false;
    HINSTANCE instance = nullptr;
    UpdateLayeredWindowFn updateLayeredWindow = nullptr;
    DwmIsCompositionEnabledFn isCompositionEnabled = nullptr;
    std::mutex lock;  // guards parents
    std::map<HWND, CWndShadow*> parents;
};

// Kept until the process ends: shadows with static storage are destroyed at
// exit and still look themselves up here.
ShadowProcess& Process() {
    static ShadowProcess* process = new ShadowProcess;
    return *process;
}

CWndShadow* FindShadow(HWND parent) {
    ShadowProcess& p = Process();
    std::lock_guard<std::mutex> guard(p.lock);
    auto it = p.parents.find(parent);
    return it == p.parents.end() ? nullptr : it->second;
}

void ForgetParent(HWND parent, const CWndShadow* shadow) {
    ShadowProcess& p = Process();
    std::lock_guard<std::mutex> guard(p.lock);
    auto it = p.parents.find(parent);
    if (it != p.parents.end() && it->second == shadow) p.parents.erase(it);
}

// Anchor rows: columns [start, end) of a row; start >= end is an empty row.
struct Span {
    int start;
    int end;
};

}  // namespace

bool CWndShadow::Initialize(HINSTANCE instance) {
    ShadowProcess& p = Process();
    if (p.initialized) return false;
    HMODULE user32 = GetModuleHandleW(L"USER32.DLL");
    auto update = user32 ? reinterpret_cast<UpdateLayeredWindowFn>(
                               reinterpret_cast<void*>(GetProcAddress(user32, "UpdateLayeredWindow")))
                         : nullptr;
    if (!update) return false;
    p.initialized = true;
    p.updateLayeredWindow = update;
    // dwmapi stays loaded for the life of the process: its function is kept.
    if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
        p.isCompositionEnabled = reinterpret_cast<DwmIsCompositionEnabledFn>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
    }
    p.instance = instance;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kShadowClass;
    RegisterClassExW(&wc);
    return true;
}

CWndShadow::~CWndShadow() {
    if (!m_hParent || FindShadow(m_hParent) != this) return;
    if (IsWindow(m_hParent) && m_OriParentProc) {
        SetWindowLongPtrW(m_hParent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_OriParentProc));
    }
    ForgetParent(m_hParent, this);
    if (m_hWnd != reinterpret_cast<HWND>(-1) && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

void CWndShadow::Create(HWND parent, bool show) {
    if (m_bCreated) return;
    m_bCreated = true;
    ShadowProcess& p = Process();
    if (!p.updateLayeredWindow || !parent) return;
    {
        // One shadow per parent: a second one would subclass the window again
        // and its saved procedure would be ParentProc itself.
        std::lock_guard<std::mutex> guard(p.lock);
        if (!p.parents.emplace(parent, this).second) return;
    }
    HWND wnd = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, kShadowClass, nullptr, WS_POPUPWINDOW, CW_USEDEFAULT,
                               0, 0, 0, parent, nullptr, p.instance, nullptr);
    if (!wnd) {
        ForgetParent(parent, this);
        return;
    }
    m_hWnd = wnd;
    m_hParent = parent;
    m_Status = kEnabled | kVisible;
    if (show) Show(parent);
    m_OriParentProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ParentProc)));
}

void CWndShadow::Show(HWND parent) { ShowFor(parent, false); }

void CWndShadow::ShowFor(HWND parent, bool becomingVisible) {
    if (IsActive()) {
        const LONG style = GetWindowLongW(parent, GWL_STYLE) | (becomingVisible ? WS_VISIBLE : 0);
        if (style & WS_VISIBLE) {
            m_Status |= kParentVisible;
            if (!(style & (WS_MAXIMIZE | WS_MINIMIZE))) m_Status |= kVisible;
        }
    } else {
        // Switched off (by desktop composition): the shadow must stay hidden
        // until it is switched on again.
        m_Status &= static_cast<uint8_t>(~(kVisible | kParentVisible));
    }
    if (m_Status & kVisible) {
        ShowWindow(m_hWnd, SW_SHOWNA);
        Update(parent);
    } else {
        ShowWindow(m_hWnd, SW_HIDE);
    }
}

void CWndShadow::MoveToParent(HWND parent) {
    RECT rect{};
    GetWindowRect(parent, &rect);
    SetWindowPos(m_hWnd, nullptr, rect.left + m_nxOffset - m_nSize, rect.top + m_nyOffset - m_nSize, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

LRESULT CALLBACK CWndShadow::ParentProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWndShadow* self = FindShadow(wnd);
    if (!self) return DefWindowProcW(wnd, message, wParam, lParam);
    const WNDPROC previous = self->m_OriParentProc;
    switch (message) {
    case WM_MOVE:
        if (self->m_Status & kVisible) self->MoveToParent(wnd);
        break;
    case WM_SIZE:
        if (self->IsActive()) {
            if (wParam == SIZE_MAXIMIZED || wParam == SIZE_MINIMIZED) {
                ShowWindow(self->m_hWnd, SW_HIDE);
                self->m_Status &= static_cast<uint8_t>(~kVisible);
            } else if (GetWindowLongW(wnd, GWL_STYLE) & WS_VISIBLE) {
                self->m_Status |= kParentVisible;
                if (!(self->m_Status & kVisible)) {
                    self->m_Status |= kVisible;
                    self->Update(wnd);
                    ShowWindow(self->m_hWnd, SW_SHOWNA);
                    self->m_bUpdate = true;
                } else if (LOWORD(lParam) > LOWORD(self->m_WndSize) || HIWORD(lParam) > HIWORD(self->m_WndSize)) {
                    // Growing: the parent has not painted its new area yet.
                    self->m_bUpdate = true;
                } else {
                    self->Update(wnd);
                }
            }
        }
        self->m_WndSize = static_cast<uint32_t>(lParam);
        break;
    case WM_PAINT:
        if (self->m_bUpdate) {
            self->Update(wnd);
            self->m_bUpdate = false;
        }
        break;
    case WM_SHOWWINDOW:
        if (self->IsActive()) {
            const LRESULT result = CallWindowProcW(previous, wnd, message, wParam, lParam);
            if (wParam) {
                self->m_bUpdate = true;
                self->ShowFor(wnd, true);
            } else {
                ShowWindow(self->m_hWnd, SW_HIDE);
                self->m_Status &= static_cast<uint8_t>(~(kVisible | kParentVisible));
            }
            return result;
        }
        break;
    case WM_DESTROY:
        DestroyWindow(self->m_hWnd);
        self->m_hWnd = reinterpret_cast<HWND>(-1);
        break;
    case WM_NCDESTROY:
        ForgetParent(wnd, self);
        self->m_hParent = nullptr;
        break;
    case WM_EXITSIZEMOVE:
        if (self->m_Status & kVisible) self->Update(wnd);
        break;
    case WM_DWMCOMPOSITIONCHANGED: {
        BOOL enabled = FALSE;
        const auto isEnabled = Process().isCompositionEnabled;
        if (!isEnabled || FAILED(isEnabled(&enabled))) enabled = FALSE;
        if (enabled) {
            self->m_Status |= kDisabledByComposition;
        } else {
            self->m_Status &= static_cast<uint8_t>(~kDisabledByComposition);
        }
        self->Show(wnd);
        break;
    }
    default:
        break;
    }
    return CallWindowProcW(previous, wnd, message, wParam, lParam);
}

uint32_t CWndShadow::PreMultiply(COLORREF colour, uint8_t alpha) {
    const uint32_t red = GetRValue(colour) * alpha / 255u;
    const uint32_t green = GetGValue(colour) * alpha / 255u;
    const uint32_t blue = GetBValue(colour) * alpha / 255u;
    return red << 16 | green << 8 | blue;
}

void CWndShadow::Update(HWND parent) {
    RECT rect{};
    GetWindowRect(parent, &rect);
    const int width = rect.right - rect.left + 2 * m_nSize;
    const int height = rect.bottom - rect.top + 2 * m_nSize;
    if (width <= 0 || height <= 0) return;

    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height;  // bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdi<HBITMAP> dib(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib || !bits) return;
    std::memset(bits, 0, static_cast<size_t>(width) * height * 4);
    MakeShadow(static_cast<uint32_t*>(bits), parent, &rect);

    WindowDc screen(nullptr);
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    if (!memory) return;
    SelectedObject selected(memory.get(), dib.get());
    POINT position{rect.left + m_nxOffset - m_nSize, rect.top + m_nyOffset - m_nSize};
    SIZE size{width, height};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    MoveWindow(m_hWnd, position.x, position.y, width, height, FALSE);
    if (auto update = Process().updateLayeredWindow) {
        update(m_hWnd, nullptr, &position, &size, memory.get(), &source, 0, &blend, ULW_ALPHA);
    }
}

void CWndShadow::MakeShadow(uint32_t* pixels, HWND parent, const RECT* parentRect) {
    if (!pixels || !parentRect) return;
    const int W = parentRect->right - parentRect->left;
    const int H = parentRect->bottom - parentRect->top;
    const int s = m_nSize;
    const int sharpness = m_nSharpness;
    const int SW = W + 2 * s;
    const int SH = H + 2 * s;
    if (W <= 0 || H <= 0 || SW <= 0 || SH <= 0) return;
    const int k = std::max(sharpness, s);
    const int c = s > sharpness ? s - sharpness : 0;

    // The parent's shape, row by row: its window region, else its rectangle.
    const Span empty{W, 0};
    std::vector<Span> outline(H, empty);
    {
        UniqueGdi<HRGN> region(CreateRectRgn(0, 0, W, H));
        if (parent && region) GetWindowRgn(parent, region.get());
        const DWORD bytes = region ? GetRegionData(region.get(), 0, nullptr) : 0;
        std::vector<char> buffer(bytes);
        auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
        if (bytes && GetRegionData(region.get(), bytes, data) == bytes) {
            const RECT* rects = reinterpret_cast<const RECT*>(data->Buffer);
            for (DWORD i = 0; i < data->rdh.nCount; ++i) {
                const RECT& r = rects[i];
                for (int y = std::max<int>(r.top, 0); y < std::min<int>(r.bottom, H); ++y) {
                    const int left = std::max<int>(r.left, 0), right = std::min<int>(r.right, W);
                    if (left >= right) continue;
                    Span& row = outline[y];
                    if (row.start >= row.end) row = Span{left, right};
                    else row = Span{std::min(row.start, left), std::max(row.end, right)};
                }
            }
        }
    }

    // Anchors: the outline moved by the size, with empty rows around it.
    const int N = std::max(H, SH);
    std::vector<Span> anchors(N + 2, empty);
    for (int y = 0; y < H; ++y) {
        const Span& o = outline[y];
        if (o.start < o.end) anchors[y + 1 + std::max(s, 0)] = Span{o.start + s, o.end + s};
    }
    for (int pass = 0; pass < sharpness - s; ++pass) {
        std::vector<Span> next(anchors);
        for (int r = 1; r <= N; ++r) {
            next[r].start = std::max({anchors[r - 1].start, anchors[r].start, anchors[r + 1].start}) + 1;
            next[r].end = std::min({anchors[r - 1].end, anchors[r].end, anchors[r + 1].end}) - 1;
        }
        anchors.swap(next);
    }
    const int rowShift = 1 + std::max(-s, 0);
    auto anchor = [&](int y) -> Span {
        const int i = y + rowShift;
        return i >= 0 && i < N + 2 ? anchors[i] : empty;
    };

    // Kernel: alpha falling from darkness at the centre to 0 at distance k.
    const int kw = 2 * k + 1;
    std::vector<uint32_t> kernel(static_cast<size_t>(kw) * kw, 0);
    for (int a = 0; a < kw; ++a) {
        for (int b = 0; b < kw; ++b) {
            const double d = std::sqrt(static_cast<double>((a - k) * (a - k) + (b - k) * (b - k)));
            int alpha = 0;
            if (d < c) alpha = m_nDarkness;
            else if (d <= k) alpha = static_cast<int>((1.0 - (d - c) / (sharpness + 1)) * m_nDarkness);
            if (alpha > 0) {
                kernel[a * kw + b] = static_cast<uint32_t>(alpha) << 24 | PreMultiply(m_Color, static_cast<uint8_t>(alpha));
            }
        }
    }
    auto pixel = [&](int x, int y) -> uint32_t& { return pixels[static_cast<size_t>(SH - 1 - y) * SW + x]; };
    auto stamp = [&](int cx, int cy) {
        for (int a = 0; a < kw; ++a) {
            const int y = cy - k + a;
            if (y < 0 || y >= SH) continue;
            for (int b = 0; b < kw; ++b) {
                const int x = cx - k + b;
                if (x < 0 || x >= SW) continue;
                const uint32_t value = kernel[a * kw + b];
                uint32_t& target = pixel(x, y);
                if (value > target) target = value;
            }
        }
    };

    // Blurred edge along the left and right side of every row.
    for (int y = k; y <= SH - k - 1; ++y) {
        const Span row = anchor(y);
        if (row.start >= row.end) continue;
        const Span above = anchor(y - 1), below = anchor(y + 1);
        int x = row.start;
        const int leftLimit = std::min(std::max(above.start, below.start) + 1, row.end);
        for (; x < leftLimit; ++x) stamp(x, y);
        for (x = std::max(x, std::min(above.end, below.end) - 1); x < row.end; ++x) stamp(x, y);
    }

    // Full darkness inside the eroded outline, the parent's own area cut out.
    const uint32_t full = static_cast<uint32_t>(m_nDarkness) << 24 | PreMultiply(m_Color, m_nDarkness);
    const int yFrom = std::max(0, std::min(k, std::max(s - m_nyOffset, 0)));
    const int yTo = std::min(SH, std::max(SH - k, std::min(H + s - m_nyOffset, H + 2 * s)));
    for (int y = yFrom; y < yTo; ++y) {
        const Span row = anchor(y);
        const int start = std::max(row.start, 0), end = std::min(row.end, SW);
        if (start >= end) continue;
        const int p = y - s + m_nyOffset;
        if (p < 0 || p >= H) {
            for (int x = start; x < end; ++x) pixel(x, y) = full;
            continue;
        }
        const int o1 = outline[p].start + s - m_nxOffset;
        const int o2 = outline[p].end + s - m_nxOffset;
        for (int x = start; x < std::min(o1, end); ++x) pixel(x, y) = full;
        for (int x = std::max(o1, 0); x < std::min(o2, SW); ++x) pixel(x, y) = 0;
        for (int x = std::max(o2, start); x < end; ++x) pixel(x, y) = full;
    }
}
