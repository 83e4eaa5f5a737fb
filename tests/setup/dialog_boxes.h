// The boxes a test of the dialog waits for: any other visible dialog window
// of this process, and what a skinned box says. The skinned box keeps its
// texts in window-less controls, so what it says is read from the picture of
// its message area, compared with the area of a box shown with a known text.
#pragma once

#include <windows.h>

#include <thread>
#include <vector>

#include "LangStrings.h"
#include "SkinMessageBox.h"
#include "SkinTestUtil.h"

namespace dialog_boxes {

struct DialogSearch {
    HWND main, found;
};

inline BOOL CALLBACK MatchOtherDialog(HWND wnd, LPARAM p) {
    auto* s = reinterpret_cast<DialogSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    if (wnd != s->main && pid == GetCurrentProcessId() && IsWindowVisible(wnd) && lstrcmpW(cls, L"#32770") == 0) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog window of this process other than main, waited for.
inline HWND FindOtherDialog(HWND main, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        DialogSearch search{main, nullptr};
        EnumWindows(MatchOtherDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

using BoxPicture = std::vector<COLORREF>;

// The box's message area, captured until two pictures in a row agree, so no
// frame caught half drawn counts.
inline BoxPicture MessagePicture(HWND box) {
    BoxPicture last;
    for (int attempt = 0; attempt < 10; ++attempt) {
        skin_test::Canvas shot(420, 210);
        skin_test::CaptureClient(box, shot);
        BoxPicture picture;
        for (int y = 36; y < 156; ++y)
            for (int x = 72; x < 388; ++x) picture.push_back(shot.At(x, y));
        if (picture == last) return picture;
        last = picture;
        Sleep(100);
    }
    return last;
}

// The message area of a box showing language text id in the language
// selected, shown on this thread.
inline BoxPicture ExpectedMessagePicture(LangStringId id) {
    BoxPicture picture;
    const DWORD thread = GetCurrentThreadId();
    std::thread reader([&] {
        const HWND box = skin_test::FindThreadDialog(thread, 8000);
        if (!box) return;
        Sleep(300);
        picture = MessagePicture(box);
        PostMessageW(box, WM_CLOSE, 0, 0);
    });
    ShowSkinMessageBox(nullptr, L"Orvane", GetLangString(id), GetLangString(11));
    reader.join();
    return picture;
}

}  // namespace dialog_boxes
