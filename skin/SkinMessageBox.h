// The skinned message box: a modal borderless dialog with a coloured title
// band, a close button, an icon, the message and one text button on a light
// footer band.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CommonDlg.h"
#include "Handles.h"
#include "SkinCtrls.h"

// Ids of the controls that close the box, which ShowSkinMessageBox returns.
inline constexpr int kSkinMsgCloseButton = 1612;
inline constexpr int kSkinMsgNoButton = 1628;  // Enter, Escape or WM_CLOSE from outside
inline constexpr int kSkinMsgButton1 = 1629;
inline constexpr int kSkinMsgButton2 = 1630;
// The box's dialog template.
inline constexpr int kSkinMsgTemplate = 173;

// Shows the box modally over owner; returns the id of the control that
// closed it (kSkinMsgButton1, kSkinMsgCloseButton) or kSkinMsgNoButton.
int ShowSkinMessageBox(HWND owner, const wchar_t* title, const wchar_t* message, const wchar_t* buttonText);

class SkinMessageBox : public CommonDlg {
public:
    SkinMessageBox();
    ~SkinMessageBox() override;

    int OnInitDialog(HWND wnd) override;
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnPaint() override;
    // WM_CLOSE: stops the redraw thread (waits up to 1000 ms) and returns 0,
    // leaving the platform to turn the message into IDCANCEL.
    virtual int OnClose();

    void SetTexts(const wchar_t* title, const wchar_t* message, const wchar_t* button1, const wchar_t* button2);
    int GetResult() const { return m_nResult; }

    // Sets the stop flag and waits up to timeoutMs for the redraw thread;
    // true when no redraw thread is running any more.
    bool StopRedrawThread(DWORD timeoutMs);
    bool StopRequested() const { return m_bStop; }

private:
    void CreateControls();
    void LayoutButtons();
    static DWORD WINAPI RedrawThread(void* param);

    int m_bTwoButtons = 0;
    std::atomic<int> m_nResult{kSkinMsgNoButton};
    std::unique_ptr<ButtonCtrlEx> m_pCloseBtn, m_pButton1, m_pButton2;
    std::unique_ptr<StaticCtrl> m_pTitle, m_pIcon, m_pMessage;
    std::wstring m_title, m_message, m_button1Text, m_button2Text;
    std::vector<CommonCtrl*> m_mouseCtrls;
    std::vector<CommonCtrl*> m_paintCtrls;
    int m_bPressed = 0;
    UniqueHandle m_redrawThread;
    std::atomic<bool> m_bStop{false};

    UniqueGdi<HFONT> m_font;
    std::vector<UniqueGdi<HBITMAP>> m_bitmaps;
    std::mutex m_paintLock;  // one painter at a time: the redraw thread or WM_PAINT
};
