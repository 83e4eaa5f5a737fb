#include "SetupDlg.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "Handles.h"
#include "JFile.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "SetupApp.h"
#include "Text.h"

namespace {

constexpr UINT_PTR kCountdownTimer = 1;
// The options panel opens below the window's normal area.
constexpr int kOptionsPanelHeight = 175;
// The finished page's text-only button reaches this far beyond each side of
// the rectangle the Install button was created with.
constexpr int kFinishButtonWidening = 100;

void Show(CommonCtrl* control, bool visible) {
    if (control) control->SetVisible(visible);
}

void Toggle(CheckButtonCtrl* box) {
    if (box) box->SetCheck(box->GetCheck() ? 0 : 1);
}

bool IsChecked(CheckButtonCtrl* box) { return box && box->GetCheck() != 0; }

// The finished page's close and minimise pictures: loaded once and kept, as
// the page's state may be applied any number of times and the controls do
// not own what they draw.
struct FinishedButtonBitmaps {
    UniqueGdi<HBITMAP> close[3];
    UniqueGdi<HBITMAP> minimize[3];
};

const FinishedButtonBitmaps& GetFinishedButtonBitmaps() {
    static const FinishedButtonBitmaps bitmaps{
        {UniqueGdi<HBITMAP>(LoadSkinBitmap(148)), UniqueGdi<HBITMAP>(LoadSkinBitmap(143)),
         UniqueGdi<HBITMAP>(LoadSkinBitmap(142))},
        {UniqueGdi<HBITMAP>(LoadSkinBitmap(149)), UniqueGdi<HBITMAP>(LoadSkinBitmap(151)),
         UniqueGdi<HBITMAP>(LoadSkinBitmap(150))}};
    return bitmaps;
}

void SetButtonBitmaps(ButtonCtrlEx* button, const UniqueGdi<HBITMAP> (&states)[3]) {
    if (button) button->SetStateBitmaps(states[0].get(), states[1].get(), states[2].get(), nullptr);
}

// The Install button's rectangle as created, kept per button so the finished
// page's widening is measured from it however often the state is applied.
struct CreatedRect {
    std::mutex lock;
    const CommonCtrl* button = nullptr;
    RECT rect{};
};
CreatedRect g_installButtonRect;

RECT CreatedRectOf(CommonCtrl* button) {
    std::lock_guard<std::mutex> lock(g_installButtonRect.lock);
    if (g_installButtonRect.button != button) {
        g_installButtonRect.button = button;
        g_installButtonRect.rect = *button->GetRect()->GetRect();
    }
    return g_installButtonRect.rect;
}

void OpenProductPage(const std::string& base, SetupDlg& dlg) {
    std::string url = base + PackageHeader::FieldText(dlg.packageHeader.version);
    url = dlg.AppendClientParams(url);
    ShellExecuteW(nullptr, L"open", NarrowToWide(url).c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace

void SetupDlg::UpdateCtrlStatus(int state) {
    if (nLayout == 0) return;
    // The Install button's created rectangle is taken before any widening.
    const RECT created = pBtnInstall ? CreatedRectOf(pBtnInstall) : RECT{};
    switch (state) {
    case E_Install_Working:
        Show(pBtnClose, false);
        Show(pBtnMinimize, false);
        Show(pStaticVersion, false);
        Show(pBtnInstall, false);
        Show(pStaticLogo, false);
        Show(pStaticLogoAlt, false);
        Show(pStaticPicture, false);
        Show(pStaticStatus, false);
        break;
    case E_Install_Finished:
        Show(pBtnClose, false);
        Show(pBtnMinimize, false);
        Show(pBtnInstall, false);
        SetButtonBitmaps(pBtnClose, GetFinishedButtonBitmaps().close);
        SetButtonBitmaps(pBtnMinimize, GetFinishedButtonBitmaps().minimize);
        Show(pStaticLogo, false);
        Show(pStaticLogoAlt, false);
        Show(pStaticPicture, false);
        if (pBtnInstall) {
            const RECT wide{created.left - kFinishButtonWidening, created.top, created.right + kFinishButtonWidening,
                            created.bottom};
            pBtnInstall->SetRect(&wide);
            pBtnInstall->SetStateColors(0xBF5300, 0x9300DF, 0xBF5300, 0xD7D7D7);
            pBtnInstall->SetTextColor(0xBF5300);
            pBtnInstall->SetBorderColors(0, 0, 0, 0);
            pBtnInstall->SetFillColors(0, 0, 0, 0);
            pBtnInstall->SetText(GetLangString(bNeedRestart ? 41 : 9));
        }
        Show(pBtnClose, true);
        Show(pBtnMinimize, true);
        Show(pBtnInstall, bFinishButtonEnabled != 0);
        break;
    case E_Install_Failed:
        Show(pBtnClose, true);
        if (pBtnInstall) pBtnInstall->SetText(GetLangString(14));
        Show(pBtnInstall, true);
        Show(pStaticLogo, true);
        Show(pStaticLogoAlt, false);
        Show(pStaticPicture, true);
        break;
    default:  // the ready page, and any value outside 1 to 3
        Show(pBtnClose, true);
        Show(pBtnMinimize, true);
        Show(pStaticVersion, true);
        if (pBtnInstall) pBtnInstall->SetText(GetLangString(0));
        Show(pBtnInstall, true);
        Show(pStaticLogo, true);
        Show(pStaticLogoAlt, false);
        Show(pStaticPicture, true);
        break;
    }
}

void SetupDlg::ShowVersionLabel() {
    std::string text;
    const auto& info = GetProductInfo();
    if (!LoadResourceText(info && info->IsX64() ? 504 : 503, L"txt", text)) {
        UpdateCtrlStatus(E_Install_Failed);
        return;
    }
    if (text.size() <= 5) return;
    std::wstring label = NarrowToWide(text);
    ReplaceAll(label, std::wstring(L"official"), std::wstring(GetLangString(52)));
    if (ProductConfig::ShowNameInVersionLabel()) label = ProductConfig::GetProductNameW() + L" " + label;
    if (pStaticVersion) {
        pStaticVersion->SetText(label.c_str());
        pStaticVersion->SetVisible(true);
    }
    VersionText = text;
}

void SetupDlg::ShowOptionsPanel(bool show) {
    RECT window{};
    GetWindowRect(m_hWnd, &window);
    const int currentHeight = window.bottom - window.top;
    if (show) {
        KillTimer(m_hWnd, kCountdownTimer);
        Show(pStaticStatus, false);
    }
    if (hEditPath) EnableWindow(hEditPath, show);
    Show(pChkAccept, show);
    Show(pLinkLicense, show);
    if (hEditPath) ShowWindow(hEditPath, show ? SW_SHOW : SW_HIDE);
    Show(pBtnBrowse, show);
    Show(pChkDesktop, show);
    Show(pChkJoin, show);
    Show(pLinkUxProgram, show);
    // The window's pixels: the design height at the display's scale.
    const int newHeight = Scale(m_nHeight + (show ? kOptionsPanelHeight : 0));
    if (newHeight != currentHeight) MoveWindow(m_hWnd, window.left, window.top, Scale(m_nWidth), newHeight, TRUE);
}

void SetupDlg::OnBtnCustom() {
    Toggle(pChkCustom);
    SetupDlg::ShowOptionsPanel(IsChecked(pChkCustom));
}

void SetupDlg::OnBtnAccept() {
    Toggle(pChkAccept);
    if (pBtnInstall) pBtnInstall->SetEnabled(IsChecked(pChkAccept));
}

void SetupDlg::OnBtnLicense() { OpenProductPage(ProductConfig::GetLicenseUrl(), *this); }

void SetupDlg::OnBtnUxProgram() { OpenProductPage(ProductConfig::GetUxProgramUrl(), *this); }

void SetupDlg::OnBtnDesktopIcon() {
    Toggle(pChkDesktop);
    g_bCreateDesktopIcon = IsChecked(pChkDesktop);
}

void SetupDlg::OnBtnJoinUx() {
    Toggle(pChkJoin);
    g_bJoinUxProgram = IsChecked(pChkJoin);
}

void SetupDlg::OnBtnBrower() {
    // What the answer is checked against: the page and the roads begun now.
    const InstallState page = eInstall;
    const unsigned workers = nWorkersStarted;
    const std::wstring current = GetInstallFolder();
    WriteLog("OnBtnBrower() path = %s", WideToNarrow(current).c_str());

    // The folder to preselect, cut to the browser's buffer with its zero.
    wchar_t preselect[MAX_PATH] = {};
    lstrcpynW(preselect, current.c_str(), MAX_PATH);
    wchar_t displayName[MAX_PATH] = {};
    const std::wstring title = GetLangString(17);
    BROWSEINFOW info{};
    // Owned by the dialog, which stays disabled while the browser is up.
    info.hwndOwner = m_hWnd;
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = reinterpret_cast<BFFCALLBACK>(&SetupDlg::BrowseFolderCallback);
    info.lParam = reinterpret_cast<LPARAM>(preselect);

    // The browser can preselect only a folder that exists.
    if (preselect[0] && !PathFileExistsW(preselect)) {
        CreateDirectories(preselect);
        CreateDirectories(current);
    }

    PIDLIST_ABSOLUTE idl = SHBrowseForFolderW(&info);
    if (!idl) {
        WriteLog("OnBtnBrower()NULL == idl, error = %p", reinterpret_cast<void*>(static_cast<uintptr_t>(GetLastError())));
        return;
    }
    wchar_t chosen[MAX_PATH] = {};
    const BOOL got = SHGetPathFromIDListW(idl, chosen);
    CoTaskMemFree(idl);
    if (!got || !chosen[0]) return;
    // An install begun while the browser was up owns the folder now.
    if ((page != E_Install_Ready && page != E_Install_Failed) || eInstall != page || nWorkersStarted != workers) {
        WriteLog("OnBtnBrower() answer ignored, the install has begun");
        return;
    }

    const std::wstring name = NarrowToWide(PackageHeader::FieldText(packageHeader.installFolderName));
    if (std::wstring(chosen).find(name) == std::wstring::npos) PathAppendW(chosen, name.c_str());
    SetInstallFolder(chosen);
    if (hEditPath) SetWindowTextW(hEditPath, chosen);
}

void SetupDlg::OnBtnUninstall() {
    // The box is read here, once, before the page hides it: the worker
    // never reads a control.
    SetUninstallChoices(ReadUninstallChoices());
    // A silent uninstall may start in the install layout, which has none of
    // these controls: only the worker starts then.
    Show(pChkKeepConfig, false);
    Show(pStaticKeepConfig, false);
    Show(pBtnUninstall, false);
    Show(pBtnCancel, false);
    Show(pBtnMinimize, false);
    Show(pBtnClose, false);
    if (pStaticKeepConfig) {
        const RECT moved{10, 348, 392, 378};
        pStaticKeepConfig->SetRect(&moved);
        pStaticKeepConfig->SetText(GetLangString(25));
        pStaticKeepConfig->SetVisible(true);
    }
    if (pProgress) {
        pProgress->SetPos(0);
        pProgress->SetVisible(true);
    }
    StartWorker(UninstallThreadProc);
}

void SetupDlg::OnBtnClose() {
    WriteLog("OnBtnClose(user close)");
    // A worker that ends the run posts the close: the close handler joins
    // the workers, and could not while this one waited inside a send.
    if (!m_hWnd) return;
    if (GetWindowThreadProcessId(m_hWnd, nullptr) != GetCurrentThreadId()) {
        PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return;
    }
    SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

void SetupDlg::OnBtnMinimize() { ShowWindow(m_hWnd, SW_MINIMIZE); }

int SetupDlg::DispatchMouseMove(int x, int y) {
    for (CommonCtrl* control : vecMouseCtrls) {
        if (auto* button = dynamic_cast<ButtonCtrlEx*>(control)) button->OnMouseMove(x, y);
    }
    return 0;
}

int SetupDlg::DispatchLButtonDown(int x, int y) {
    int sum = 0;
    for (CommonCtrl* control : vecMouseCtrls) {
        if (auto* button = dynamic_cast<ButtonCtrlEx*>(control)) sum += button->OnLButtonDown(x, y);
    }
    return sum;
}

int SetupDlg::DispatchLButtonUp(int x, int y) {
    int sum = 0;
    for (CommonCtrl* control : vecMouseCtrls) {
        if (auto* button = dynamic_cast<ButtonCtrlEx*>(control)) sum += button->OnLButtonUp(x, y);
    }
    return sum;
}

void SetupDlg::CallOnTimer(UINT_PTR id) { OnTimer(id); }

int CALLBACK SetupDlg::BrowseFolderCallback(HWND wnd, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) SendMessageW(wnd, BFFM_SETSELECTIONW, 1, data);
    return 0;
}

void CopyWideToNarrow(std::string& out, const std::wstring& text) { WideToNarrow(text, out); }
