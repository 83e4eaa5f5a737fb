// The installer's own main dialog at its edges: the faces of every font it
// made, the folder browser it owns, and the finished page's button pictures
// applied again and again.
#include "IDownloader.h"  // winsock2.h before windows.h

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LangStrings.h"
#include "Orvane.h"
#include "TestSupport.h"
#include "Text.h"
#include "paint_fixture.h"
#include "real_dialog.h"

using namespace testing_support;

namespace {

struct FontFace {
    std::wstring face;
    bool underline = false;
    std::wstring drawnWith;  // the face GDI picked for it
};

FontFace FaceOf(HFONT font) {
    FontFace result;
    LOGFONTW logFont{};
    if (!font || GetObjectW(font, sizeof(logFont), &logFont) != sizeof(logFont)) return result;
    result.face = logFont.lfFaceName;
    result.underline = logFont.lfUnderline != 0;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t drawn[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, drawn);
    SelectObject(dc, old);
    DeleteDC(dc);
    result.drawnWith = drawn;
    return result;
}

// Waits, pumping, until condition holds or timeoutMs passed.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        skin_test::Pump(50);
    }
    return true;
}

}  // namespace

// Every font the dialog made carries the face it was made for, read back
// from the font objects themselves; the ready page is kept as a picture.
TEST(DialogEdgeTest, EveryFontCarriesItsFaceName) {
    real_dialog::Window<Orvane> window;
    ASSERT_NE(window.wnd(), nullptr);
    Orvane& dlg = window.dialog;
    const std::wstring ui = SetupDlg::GetUiFontName();
    ASSERT_EQ(ui, L"\u5fae\u8f6f\u96c5\u9ed1");
    const std::wstring text = IsJapaneseSystem() ? ui : L"ArialMT";
    const HFONT editFont = reinterpret_cast<HFONT>(SendMessageW(dlg.GetEditPathWindow(), WM_GETFONT, 0, 0));

    const struct {
        const char* name;
        HFONT font;
        std::wstring face;
        bool underline;
    } fonts[] = {
        {"hTitleFont", dlg.hTitleFont, ui, false},
        {"hTextFont", dlg.hTextFont, text, false},
        {"Install button", dlg.pBtnInstall->GetFont(), ui, false},
        {"status text", dlg.pStaticStatus->GetFont(), ui, false},
        {"Custom box", dlg.pChkCustom->GetFont(), ui, false},
        {"Accept box", dlg.pChkAccept->GetFont(), ui, false},
        {"licence link", dlg.pLinkLicense->GetFont(), ui, false},
        {"licence link hovered", dlg.pLinkLicense->GetHoverFont(), ui, true},
        {"desktop box", dlg.pChkDesktop->GetFont(), ui, false},
        {"Join box", dlg.pChkJoin->GetFont(), ui, false},
        {"programme link", dlg.pLinkUxProgram->GetFont(), ui, false},
        {"programme link hovered", dlg.pLinkUxProgram->GetHoverFont(), ui, true},
        {"version label", dlg.pStaticVersion->GetFont(), ui, false},
        {"folder edit box", editFont, ui, false},
    };
    for (const auto& f : fonts) {
        SCOPED_TRACE(f.name);
        ASSERT_NE(f.font, nullptr);
        const FontFace read = FaceOf(f.font);
        EXPECT_EQ(read.face, f.face) << WideToUtf8(read.face);
        EXPECT_EQ(read.underline, f.underline);
        std::printf("%-24s face \"%s\", drawn with \"%s\"\n", f.name, WideToUtf8(read.face).c_str(),
                    WideToUtf8(read.drawnWith).c_str());
    }

    // The ready page once its Install button is drawn (border 0xA74747).
    paint_test::Picture page;
    const auto drawn = [&] {
        page = paint_test::CaptureWindow(window.wnd());
        int border = 0;
        for (int y = 350; y < 400 && y < page.height; ++y)
            for (int x = 0; x < page.width; ++x) border += page.At(x, y) == 0x4747A7 ? 1 : 0;
        return border > 100;
    };
    ASSERT_TRUE(PumpUntil(drawn, 10000));
    EXPECT_TRUE(paint_test::SaveBmp(page, BuildPath(L"tests/setup/ready_page_fonts.bmp")));
}

// The six pictures of the finished page's close and minimise buttons are
// made once: applying the page's state again makes no GDI object.
TEST(DialogEdgeTest, FinishedPageStateMakesNoGdiObjectsWhenAppliedAgain) {
    real_dialog::Window<Orvane> window;
    ASSERT_NE(window.wnd(), nullptr);
    Orvane& dlg = window.dialog;
    const auto pictures = [&] {
        std::vector<HBITMAP> shown;
        for (CommonCtrl* button : {static_cast<CommonCtrl*>(dlg.pBtnClose), static_cast<CommonCtrl*>(dlg.pBtnMinimize)})
            for (CtrlState state : {CtrlStateNormal, CtrlStateHover, CtrlStatePressed})
                shown.push_back(button->GetStateBitmap(state));
        return shown;
    };
    dlg.UpdateCtrlStatus(E_Install_Finished);
    const std::vector<HBITMAP> first = pictures();
    for (HBITMAP bitmap : first) EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(std::set<HBITMAP>(first.begin(), first.end()).size(), 6u);

    // Wine counts no GDI objects (0 for every process); where the system
    // counts, the figure must not grow by the pictures of every application.
    const DWORD objectsBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    std::set<HBITMAP> seen(first.begin(), first.end());
    constexpr int kApplications = 50;
    for (int i = 0; i < kApplications; ++i) {
        dlg.UpdateCtrlStatus(E_Install_Finished);
        const std::vector<HBITMAP> now = pictures();
        seen.insert(now.begin(), now.end());
    }
    const DWORD objectsAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    std::printf("GDI objects before %lu, after %d applications %lu; distinct button pictures %u\n",
                static_cast<unsigned long>(objectsBefore), kApplications, static_cast<unsigned long>(objectsAfter),
                static_cast<unsigned>(seen.size()));
    EXPECT_EQ(seen.size(), 6u) << "every application loaded its own pictures";
    EXPECT_EQ(pictures(), first);
    // The paint thread's own objects come and go; six per application would not.
    if (objectsBefore != 0) EXPECT_LT(objectsAfter, objectsBefore + kApplications);
}

namespace {


unsigned EndAtOnce(SetupDlg*) { return 0; }

}  // namespace

// The browser is owned by the dialog, which is disabled under it; an answer
// that comes after an install began leaves the folder alone. The browser's
// OK answers whatever it has selected: any answer changes the folder.
TEST(DialogEdgeTest, FolderBrowserOwnsTheDialogAndALateAnswerChangesNothing) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    real_dialog::Window<Orvane> window;
    ASSERT_NE(window.wnd(), nullptr);
    Orvane& dlg = window.dialog;
    ScratchFolder scratch(L"edge-browse");
    const std::wstring before = scratch / L"Chosen Before";

    const struct {
        const char* name;
        std::function<void()> meanwhile;  // on another thread, while the browser is up
        bool answerTaken;
    } cases[] = {
        {"nothing happens meanwhile", [] {}, true},
        {"the install starts", [&] { dlg.eInstall = E_Install_Working; }, false},
        {"an install starts and fails again", [&] { dlg.StartWorker(EndAtOnce); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dlg.eInstall = E_Install_Ready;
        dlg.SetInstallFolder(before);
        std::atomic<bool> browserFound{false}, dialogEnabled{true};
        std::atomic<HWND> owner{nullptr};
        const DWORD uiThread = GetCurrentThreadId();
        std::thread driver([&] {
            const HWND browser = skin_test::FindThreadDialog(uiThread, 15000, window.wnd());
            if (!browser) return;
            browserFound = true;
            owner = GetWindow(browser, GW_OWNER);
            dialogEnabled = IsWindowEnabled(window.wnd()) != FALSE;
            c.meanwhile();
            PostMessageW(browser, WM_COMMAND, IDOK, 0);
        });
        dlg.OnBtnBrower();
        driver.join();
        ASSERT_TRUE(browserFound);
        EXPECT_EQ(owner.load(), window.wnd());
        EXPECT_FALSE(dialogEnabled) << "the dialog takes input under the browser";
        EXPECT_TRUE(IsWindowEnabled(window.wnd())) << "enabled again once the browser is gone";
        const std::wstring after = dlg.GetInstallFolder();
        if (c.answerTaken) {
            EXPECT_NE(after, before);
        } else {
            EXPECT_EQ(after, before) << WideToUtf8(after);
        }
    }
    dlg.eInstall = E_Install_Ready;
    EXPECT_TRUE(window.Stop());
    OleUninitialize();
}
