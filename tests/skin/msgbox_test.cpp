// The skinned message box: its results for each way of closing it, driven by
// posted messages and by real input, its painted picture, and the end of its
// redraw thread before the box is destroyed.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <string>
#include <thread>

#include "SkinMessageBox.h"
#include "SkinTestUtil.h"
#include "TestSupport.h"

using namespace skin_test;
using namespace testing_support;

namespace {

const COLORREF kHeader = RGB(0x4A, 0x47, 0xB5);
const COLORREF kFooter = RGB(0xF7, 0xFB, 0xFD);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kButtonNormal = RGB(0x4A, 0x47, 0xB5);
const COLORREF kButtonHover = RGB(0x5F, 0x5C, 0xCB);
const COLORREF kIconAmber = RGB(0xF0, 0xA3, 0x3C);
const POINT kButtonCentre{210, 183};
const POINT kCloseCentre{409, 10};

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int n = 0;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snap);
    return n;
}

void SendMouse(DWORD flags);

// The button state is shared by every test on the display: a press another
// test left behind would swallow this test's press.
void ReleaseLeftButton() {
    if (GetAsyncKeyState(VK_LBUTTON) & 0x8000) SendMouse(MOUSEEVENTF_LEFTUP);
}

// Shows the box on this thread while drive(box) runs on another; returns the
// box's result. The driver gives up after a bound and closes the box.
int RunBox(const std::function<void(HWND)>& drive, const wchar_t* message = L"The installation folder is missing.") {
    // The pointer is shared by every test on the display: left over the box,
    // its moves would reach the box between the messages a test posts.
    MouseAt(5, 5);
    ReleaseLeftButton();
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driver([&] {
        HWND box = FindThreadDialog(uiThread, 5000);
        if (!box) return;
        Sleep(300);  // a few frames of the redraw thread
        drive(box);
        // Whatever the drive did, the box must not stay open.
        for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
        if (IsWindow(box)) PostMessageW(box, WM_CLOSE, 0, 0);
    });
    const int result = ShowSkinMessageBox(nullptr, L"Orvane", message, L"OK");
    driver.join();
    return result;
}

void PostClick(HWND box, POINT at) {
    const LPARAM lp = MAKELPARAM(at.x, at.y);
    PostMessageW(box, WM_MOUSEMOVE, 0, lp);
    PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, lp);
    PostMessageW(box, WM_LBUTTONUP, 0, lp);
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

void SendKey(WORD vk) {
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = vk;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

// Keeps the windows of tests running beside this one from covering the box
// and taking its input.
void BringToFront(HWND box) {
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(box);
    Sleep(100);
}

// A real click at a point of the box's client area.
void RealClick(HWND box, POINT at) {
    BringToFront(box);
    POINT screen = at;
    ClientToScreen(box, &screen);
    MouseAt(screen.x, screen.y);
    Sleep(100);
    MouseAt(screen.x, screen.y, MOUSEEVENTF_LEFTDOWN);
    Sleep(100);
    MouseAt(screen.x, screen.y, MOUSEEVENTF_LEFTUP);
}

TEST(SkinMessageBoxTest, ResultOfEachWayOfClosingWithMessages) {
    struct Case {
        const char* name;
        std::function<void(HWND)> drive;
        int result;
    } cases[] = {
        {"button", [](HWND box) { PostClick(box, kButtonCentre); }, kSkinMsgButton1},
        {"close button", [](HWND box) { PostClick(box, kCloseCentre); }, kSkinMsgCloseButton},
        {"Enter", [](HWND box) { PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0); }, kSkinMsgNoButton},
        {"Escape", [](HWND box) { PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 0); }, kSkinMsgNoButton},
        {"WM_CLOSE", [](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); }, kSkinMsgNoButton},
        {"hidden second button",
         [](HWND box) {
             PostClick(box, POINT{360, 183});
             Sleep(300);
             if (IsWindow(box)) PostMessageW(box, WM_CLOSE, 0, 0);
         },
         kSkinMsgNoButton},
        {"press on the button, release outside",
         [](HWND box) {
             PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(210, 183));
             PostMessageW(box, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, 100));
             PostMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(100, 100));
             Sleep(300);
             if (IsWindow(box)) PostMessageW(box, WM_CLOSE, 0, 0);
         },
         kSkinMsgNoButton},
    };
    for (const auto& c : cases) EXPECT_EQ(RunBox(c.drive), c.result) << c.name;
}

TEST(SkinMessageBoxTest, ResultOfEachWayOfClosingWithRealInput) {
    struct Case {
        const char* name;
        std::function<void(HWND)> drive;
        int result;
    } cases[] = {
        {"button", [](HWND box) { RealClick(box, kButtonCentre); }, kSkinMsgButton1},
        {"close button", [](HWND box) { RealClick(box, kCloseCentre); }, kSkinMsgCloseButton},
        {"Enter",
         [](HWND box) {
             BringToFront(box);
             SendKey(VK_RETURN);
         },
         kSkinMsgNoButton},
        {"Escape",
         [](HWND box) {
             BringToFront(box);
             SendKey(VK_ESCAPE);
         },
         kSkinMsgNoButton},
    };
    for (const auto& c : cases) EXPECT_EQ(RunBox(c.drive), c.result) << c.name;
}

TEST(SkinMessageBoxTest, PressOutsideTheButtonsDragsTheBoxThenItsButtonStillWorks) {
    RECT before{}, after{};
    const int result = RunBox([&](HWND box) {
        BringToFront(box);
        GetWindowRect(box, &before);
        POINT start{before.left + 40, before.top + 100};
        MouseAt(start.x, start.y);
        Sleep(100);
        MouseAt(start.x, start.y, MOUSEEVENTF_LEFTDOWN);
        Sleep(200);
        for (int i = 1; i <= 10; ++i) {
            MouseAt(start.x - 6 * i, start.y + 4 * i);
            Sleep(30);
        }
        Sleep(150);
        MouseAt(start.x - 60, start.y + 40, MOUSEEVENTF_LEFTUP);
        Sleep(300);
        GetWindowRect(box, &after);
        RealClick(box, kButtonCentre);
    });
    EXPECT_EQ(after.left - before.left, -60);
    EXPECT_EQ(after.top - before.top, 40);
    EXPECT_EQ(after.right - after.left, 420);
    EXPECT_EQ(result, kSkinMsgButton1);
}

TEST(SkinMessageBoxTest, PictureHasTheBandsIconAndButtonInPlace) {
    SetCursorPos(5, 5);  // far from the box: the button's normal look
    Canvas shot(420, 210);
    Canvas hover(420, 210);
    RECT window{};
    const int result = RunBox([&](HWND box) {
        GetWindowRect(box, &window);
        CaptureClient(box, shot);
        PostMessageW(box, WM_MOUSEMOVE, 0, MAKELPARAM(kButtonCentre.x, kButtonCentre.y));
        Sleep(200);
        CaptureClient(box, hover);
        PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(result, kSkinMsgNoButton);
    shot.SaveBmp(BuildPath(L"tests/skin/msgbox_screenshot.bmp"));
    EXPECT_EQ(window.right - window.left, 420);
    EXPECT_EQ(window.bottom - window.top, 210);

    // Header band: 36 pixels from the top; footer band: 54 from the bottom.
    EXPECT_EQ(shot.At(2, 0), kHeader);
    EXPECT_EQ(shot.At(2, 35), kHeader);
    EXPECT_EQ(shot.At(2, 36), kWhite);
    EXPECT_EQ(shot.At(417, 35), kHeader);
    EXPECT_EQ(shot.At(2, 155), kWhite);
    EXPECT_EQ(shot.At(2, 156), kFooter);
    EXPECT_EQ(shot.At(419, 209), kFooter);
    // Title in white on the band, left of the close button.
    EXPECT_GT(shot.Count(kWhite, RECT{10, 5, 320, 30}), 10);
    // Close button: its glyph is white on the band's colour at 401..418.
    EXPECT_GT(shot.Count(kWhite, RECT{401, 0, 418, 21}), 5);
    EXPECT_EQ(shot.Count(kWhite, RECT{320, 0, 400, 36}), 0);
    // Icon at 32..62 x 90..120.
    EXPECT_EQ(shot.At(40, 98), kIconAmber);
    EXPECT_EQ(shot.At(31, 105), kWhite);
    // The one button at 160..260 x 167..199, centred on the footer.
    EXPECT_EQ(shot.At(165, 183), kButtonNormal);
    EXPECT_EQ(shot.At(255, 183), kButtonNormal);
    EXPECT_EQ(shot.At(158, 183), kFooter);
    EXPECT_EQ(shot.At(262, 183), kFooter);
    EXPECT_EQ(shot.At(210, 166), kFooter);
    EXPECT_EQ(shot.At(210, 200), kFooter);
    EXPECT_GT(shot.Count(kWhite, RECT{160, 167, 260, 199}), 10) << "the button's white text";
    EXPECT_EQ(shot.Count(kButtonNormal, RECT{300, 160, 420, 210}), 0) << "no second button";
    // The message: dark text in the message area.
    int dark = 0;
    for (int y = 36; y < 156; ++y)
        for (int x = 72; x < 388; ++x) dark += GetRValue(shot.At(x, y)) < 0x80;
    EXPECT_GT(dark, 20);
    // Hovered, the button shows its hover bitmap.
    EXPECT_EQ(hover.At(165, 183), kButtonHover);
}

TEST(SkinMessageBoxTest, ShortMessageIsCentredAndLongOneWrapsAndIsCutAtTheArea) {
    auto inkRows = [](const wchar_t* message, int* first, int* last, int* belowArea) {
        Canvas shot(420, 210);
        RunBox(
            [&](HWND box) {
                CaptureClient(box, shot);
                PostMessageW(box, WM_CLOSE, 0, 0);
            },
            message);
        const RECT area{72, 36, 388, 156};
        *first = shot.FirstInkRow(kWhite, area);
        *last = shot.LastInkRow(kWhite, area);
        *belowArea = 0;
        for (int y = 156; y < 167; ++y)
            for (int x = 72; x < 388; ++x) *belowArea += shot.At(x, y) != kFooter;
    };
    int first = 0, last = 0, below = 0;
    inkRows(L"Short.", &first, &last, &below);
    ASSERT_GE(first, 0);
    EXPECT_NEAR((first + last) / 2.0, 96, 6) << "one line centred in 36..156";
    EXPECT_LT(last - first, 25);

    std::wstring longText;
    for (int i = 0; i < 60; ++i) longText += L"word" + std::to_wstring(i) + L" ";
    inkRows(longText.c_str(), &first, &last, &below);
    EXPECT_LT(first, 42) << "a full area starts at its top";
    EXPECT_GT(last, 140) << "and is filled down to its bottom";
    EXPECT_EQ(below, 0) << "nothing is drawn below the message area";
}

TEST(SkinMessageBoxTest, RedrawThreadHasEndedWhenTheCallReturns) {
    // A first box lets the platform start the threads it keeps for windows.
    RunBox([](HWND box) { PostMessageW(box, WM_CLOSE, 0, 0); });
    const int before = ThreadCount();
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        int during = 0;
        const int result = RunBox([&](HWND box) {
            during = ThreadCount();
            PostMessageW(box, WM_KEYDOWN, key, 0);
        });
        EXPECT_EQ(result, kSkinMsgNoButton);
        EXPECT_GE(during, before + 2) << "the driver and the redraw thread";
        EXPECT_EQ(ThreadCount(), before) << "ended by the base without OnClose";
    }
    RunBox([](HWND box) { PostClick(box, kButtonCentre); });
    EXPECT_EQ(ThreadCount(), before);
}

}  // namespace
