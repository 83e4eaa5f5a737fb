#include "SkinBitmap.h"

#include <cstring>
#include <new>

#include "Handles.h"

namespace {
HINSTANCE g_skinInstance = nullptr;
}

void SetSkinInstance(HINSTANCE instance) { g_skinInstance = instance; }

HINSTANCE GetSkinInstance() { return g_skinInstance ? g_skinInstance : GetModuleHandleW(nullptr); }

HBITMAP LoadSkinBitmap(int id) { return LoadBitmapW(GetSkinInstance(), MAKEINTRESOURCEW(id)); }

BMData::~BMData() { Clear(); }

void BMData::Clear() {
    delete[] pPixels;
    pPixels = nullptr;
    if (hBitmap) DeleteObject(hBitmap);
    hBitmap = nullptr;
    nWidth = nHeight = 0;
}

int BMData::Load(int id) {
    // Nothing of an earlier picture survives a load, successful or not: a
    // renderer must never pair a missing bitmap with stale pixels.
    Clear();
    HBITMAP bitmap = LoadSkinBitmap(id);
    if (!bitmap) return 0;
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof(info), &info) || info.bmWidth <= 0 || info.bmHeight <= 0) {
        DeleteObject(bitmap);
        return 0;
    }
    const size_t count = static_cast<size_t>(info.bmWidth) * static_cast<size_t>(info.bmHeight);
    uint32_t* pixels = new (std::nothrow) uint32_t[count];
    if (!pixels) {
        hBitmap = bitmap;  // the bitmap alone is still drawable
        return 0;
    }
    std::memset(pixels, 0, count * sizeof(uint32_t));

    // Ask for a 32-bit top-down copy: GetDIBits converts from whatever format
    // the display-compatible bitmap has, so the layout does not depend on the
    // display's depth.
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = info.bmWidth;
    bmi.bmiHeader.biHeight = -info.bmHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    WindowDc screen(nullptr);
    const int rows = screen ? GetDIBits(screen.get(), bitmap, 0, info.bmHeight, pixels, &bmi, DIB_RGB_COLORS) : 0;
    if (rows != info.bmHeight) {
        delete[] pixels;
        hBitmap = bitmap;
        return 0;
    }
    for (size_t i = 0; i < count; ++i) pixels[i] &= 0x00FFFFFFu;

    hBitmap = bitmap;
    pPixels = pixels;
    nWidth = info.bmWidth;
    nHeight = info.bmHeight;
    return 1;
}
