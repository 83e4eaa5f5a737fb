// Skin pictures: bitmap resources of the installer's own module.
#pragma once

#include <windows.h>

#include <cstdint>

// The module whose resources hold the dialog templates and skin bitmaps. The
// application entry stores it once; until then it is the process's executable.
void SetSkinInstance(HINSTANCE instance);
HINSTANCE GetSkinInstance();

// The bitmap of that integer id, or null; the caller owns the handle.
HBITMAP LoadSkinBitmap(int id);

// A bitmap together with a copy of its pixels, for code that composes frames
// pixel by pixel. Pixels are 0x00RRGGBB, rows from the top, whatever the
// display's own pixel format.
class BMData {
public:
    BMData() = default;
    virtual ~BMData();
    BMData(const BMData&) = delete;
    BMData& operator=(const BMData&) = delete;

    // 1 when both the bitmap and its pixels are there afterwards, else 0; a
    // failed load leaves the object empty.
    int Load(int id);

    HBITMAP hBitmap = nullptr;  // owned
    int nWidth = 0;
    int nHeight = 0;
    uint32_t* pPixels = nullptr;  // nWidth x nHeight, owned

private:
    void Clear();
};
