// Review aid, not a test: draws every language's texts into the boxes the
// main dialog gives them, with the dialog's fonts, prints each measured width
// against its box and writes the sheet as a bitmap (argument: output path).
// The fonts are whatever the system has for the dialog's face, so on Wine the
// figures only approximate those on Windows.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LangStrings.h"
#include "lang/LangTables.h"

namespace {

struct Slot {
    LangStringId id;
    int font;   // index into the fonts below
    int width;  // -1..-5: layout width index + 1, negated; else pixels
    int offset; // subtracted from a layout width (the check boxes' box)
};

HFONT MakeFont(HDC dc, int size, int base) {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(size, GetDeviceCaps(dc, LOGPIXELSY), base);
    wcscpy(font.lfFaceName, L"\u5fae\u8f6f\u96c5\u9ed1");
    return CreateFontIndirectW(&font);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    const HFONT fonts[] = {MakeFont(dc, 14, 96), MakeFont(dc, 20, 72), MakeFont(dc, 16, 72), MakeFont(dc, 11, 72)};
    enum { kText, kButton, kQuestion, kSmall };
    wchar_t face[64] = {};
    SelectObject(dc, fonts[kText]);
    GetTextFaceW(dc, 64, face);
    wprintf(L"dialog face is drawn with: %ls\n", face);

    const Slot slots[] = {
        {0, kButton, -5, 4},  {14, kButton, -5, 4}, {2, kText, -1, 25}, {3, kText, -2, 0},
        {7, kText, -3, 25},   {8, kText, -4, 0},    {1, kText, 119, 0}, {4, kText, 342, 0},
        {12, kSmall, 96, 0},  {23, kSmall, 96, 0},  {27, kSmall, 96, 0}, {24, kSmall, 358, 0},
        {25, kSmall, 358, 0}, {22, kQuestion, 562, 0}, {26, kQuestion, 562, 0}, {41, kQuestion, 562, 0},
        {51, kText, 300, 0},
    };
    const int rowHeight = 36;  // the Install button's font is 27 px high
    const int width = 1300;
    const int height = static_cast<int>(kLangCount) * (rowHeight * 4 + 8) + 10;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP sheet = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    SelectObject(dc, sheet);
    RECT all = {0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    HPEN boxPen = CreatePen(PS_SOLID, 1, RGB(200, 200, 255));
    HPEN overPen = CreatePen(PS_SOLID, 2, RGB(255, 0, 0));

    int over = 0;
    int y = 5;
    for (const LangInfo& lang : kLangInfos) {
        const int langIds[] = {0x0409, 0x0404, 0x0804, 0x0411, 0x040C, 0x0407, 0x0419, 0x0405,
                               0x0C0A, 0x040E, 0x0410, 0x0413, 0x0414, 0x0415, 0x0416, 0x041D};
        SelectLanguage(L"Orvane", langIds[&lang - kLangInfos]);
        int x = 5;
        int line = 0;
        for (const Slot& slot : slots) {
            const std::wstring text = GetLangString(slot.id);
            const int box = slot.width < 0 ? GetLangLayoutWidth(-slot.width - 1) - slot.offset : slot.width;
            SelectObject(dc, fonts[slot.font]);
            SIZE size = {};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            const bool fits = size.cx <= box;
            if (!fits) {
                ++over;
                wprintf(L"%hs id %2d: %4ld px in a %4d px box: %ls\n", lang.code, slot.id, size.cx, box, text.c_str());
            }
            if (x + box > width - 5) {
                x = 5;
                ++line;
            }
            RECT r = {x, y + line * rowHeight, x + box, y + line * rowHeight + rowHeight - 2};
            SelectObject(dc, fits ? boxPen : overPen);
            SelectObject(dc, GetStockObject(NULL_BRUSH));
            Rectangle(dc, r.left, r.top, r.right, r.bottom);
            SetTextColor(dc, RGB(40, 40, 40));
            DrawTextW(dc, text.c_str(), -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
            x += box + 8;
        }
        y += rowHeight * 4 + 8;
    }
    wprintf(L"%d texts wider than their boxes\n", over);

    if (argc > 1) {
        BITMAPFILEHEADER file = {};
        const DWORD stride = ((width * 3 + 3) / 4) * 4;
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + stride * height;
        FILE* out = _wfopen(argv[1], L"wb");
        if (out != nullptr) {
            fwrite(&file, sizeof(file), 1, out);
            fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out);
            fwrite(bits, stride, height, out);
            fclose(out);
        }
    }
    return 0;
}
