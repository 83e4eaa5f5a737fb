// What the debug window's tests share: its configuration file in Documents,
// reading its two views, and a picture of the window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "SkinTestUtil.h"
#include "TestSupport.h"

namespace infoview_test {

// Writes (or removes, for an empty text) the debug configuration file.
class DebugConfigFile {
public:
    explicit DebugConfigFile(const std::string& text)
        : path_(testing_support::DocumentsFolder() + L"\\ZovDebugConfig.ini") {
        DeleteFileW(path_.c_str());
        if (!text.empty()) testing_support::WriteFileBytes(path_, text);
    }
    ~DebugConfigFile() { DeleteFileW(path_.c_str()); }
    DebugConfigFile(const DebugConfigFile&) = delete;
    DebugConfigFile& operator=(const DebugConfigFile&) = delete;

private:
    std::wstring path_;
};

inline std::wstring ListBoxLine(HWND list, int index) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length < 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text;
}

inline std::wstring Cell(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

// Saves the whole window as tests/setup/NAME in the build folder. The window
// is wider than the test display and centred, so its left edge lies off the
// screen: it is moved to the screen's left edge for the picture (what lies
// past the right edge is not drawn).
inline void SaveWindowPicture(HWND wnd, const wchar_t* name) {
    RECT rect = {};
    GetWindowRect(wnd, &rect);
    skin_test::Canvas shot(rect.right - rect.left, rect.bottom - rect.top);
    SetWindowPos(wnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    skin_test::Pump(300);
    HDC dc = GetWindowDC(wnd);
    BitBlt(shot.dc(), 0, 0, shot.width(), shot.height(), dc, 0, 0, SRCCOPY);
    ReleaseDC(wnd, dc);
    GdiFlush();
    shot.SaveBmp(testing_support::BuildPath(std::wstring(L"tests/setup/") + name));
}

}  // namespace infoview_test
