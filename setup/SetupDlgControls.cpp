#include "SetupDlg.h"

#include <shlwapi.h>

#include "Handles.h"
#include "LangStrings.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "SetupApp.h"
#include "Text.h"

namespace {

// Drawing happens at design size and is scaled afterwards, so the drawing
// fonts are made for 96 DPI; only the real edit window uses the real scale.
constexpr int kDesignPixelsPerInch = 96;

HFONT MakeUiFont(int size, int pixelsPerInch, int base, bool underline = false) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(size, pixelsPerInch, base);
    lstrcpynW(font.lfFaceName, SetupDlg::GetUiFontName(), LF_FACESIZE);
    if (underline) font.lfUnderline = 1;
    return CreateFontIndirectW(&font);
}

HFONT MakeDrawingFont(int size, int base, bool underline = false) {
    return MakeUiFont(size, kDesignPixelsPerInch, base, underline);
}

void SetBitmaps(CommonCtrl* control, int normal, int hover, int pressed) {
    control->SetStateBitmaps(LoadSkinBitmap(normal), LoadSkinBitmap(hover), LoadSkinBitmap(pressed), nullptr);
}

void SetCheckedBitmaps(CheckButtonCtrl* control, int normal, int hover, int pressed) {
    control->SetCheckedBitmaps(LoadSkinBitmap(normal), LoadSkinBitmap(hover), LoadSkinBitmap(pressed), nullptr);
}

void SetAllColors(CommonCtrl* control, COLORREF colour) {
    control->SetTextColor(colour);
    control->SetStateColors(colour, colour, colour, colour);
}

// The options panel's small check boxes share their look.
CheckButtonCtrlEx* MakeOptionBox(HWND owner, RECT rect, int id, int textWidth, HFONT font, LangStringId text) {
    auto* box = new CheckButtonCtrlEx(owner, rect);
    box->SetId(id);
    box->SetDrawBitmap(true);
    SetBitmaps(box, 157, 158, 159);
    SetCheckedBitmaps(box, 159, 160, 157);
    box->SetBoxRect(0, 3, 14, 14);
    box->SetTextRect(20, 0, textWidth, 20);
    box->SetFormat(DT_VCENTER | DT_SINGLELINE);
    SetAllColors(box, 0x777777);
    box->SetFont(font);
    box->SetText(GetLangString(text));
    box->SetVisible(false);
    return box;
}

HyLinkCtrlEx* MakeLink(HWND owner, RECT rect, int id, HFONT font, HFONT hoverFont, LangStringId text) {
    auto* link = new HyLinkCtrlEx(owner, rect);
    link->SetId(id);
    link->SetFormat(DT_VCENTER | DT_SINGLELINE);
    SetAllColors(link, 0xE58C19);
    link->SetFont(font);
    link->SetHoverFont(hoverFont);
    link->SetText(GetLangString(text));
    link->SetVisible(false);
    return link;
}

}  // namespace

void SetupDlg::CreateControls() {
    vecMouseCtrls.clear();
    vecPaintCtrls.clear();
    const bool silent = IsSilent();

    if (nLayout != 0) {
        const int w4 = GetLangLayoutWidth(4);
        const int x = (m_nWidth - w4) / 2;
        const InstallButtonColors colours = ProductConfig::GetInstallButtonColors();
        pBtnInstall = new ButtonColorCtrlEx(m_hWnd, RECT{x, 354, x + w4, 394});
        pBtnInstall->SetId(1614);
        pBtnInstall->SetStateColors(colours.text[0], colours.text[1], colours.text[2], colours.text[3]);
        pBtnInstall->SetTextColor(colours.text[0]);
        pBtnInstall->SetBorderColors(colours.border[0], colours.border[1], colours.border[2], colours.border[3]);
        pBtnInstall->SetFillColors(colours.fill[0], colours.fill[1], colours.fill[2], colours.fill[3]);
        pBtnInstall->SetBorderWidth(2);
        pBtnInstall->SetDrawBitmap(false);
        pBtnInstall->SetFont(MakeDrawingFont(20, 72));
        pBtnInstall->SetText(GetLangString(0));
        vecMouseCtrls.push_back(pBtnInstall);

        pStaticPicture = new StaticCtrl(m_hWnd, RECT{nPictureX, nPictureY, nPictureX + 311, nPictureY + 311});
        pStaticPicture->SetDrawBitmap(true);
        pStaticPicture->SetStateBitmaps(LoadSkinBitmap(190), nullptr, nullptr, nullptr);
        vecPaintCtrls.push_back(pStaticPicture);

        // The folder: a registered older installation that still exists, else
        // the maker's and the product's folder under Program Files.
        std::wstring folder;
        // The older installation's folder comes back as UTF-8, so a folder
        // the ANSI code page cannot spell is still found.
        const std::wstring old = Utf8ToWide(GetOldInstallPath());
        if (!old.empty() && PathFileExistsW(old.c_str())) {
            folder = old;
        } else {
            std::wstring sub = NarrowToWide(PackageHeader::FieldText(packageHeader.installFolderName));
            const std::wstring maker = ProductConfig::GetMakerNameW();
            if (!maker.empty()) sub = maker + L"\\" + sub;
            wchar_t buffer[MAX_PATH] = {};
            if (GetProgramPath(buffer, sub, 0, packageHeader.isX64)) folder = buffer;
        }
        SetInstallFolder(folder);

        pStaticStatus = new StaticCtrl(m_hWnd, RECT{3, 311, 619, 348});
        pStaticStatus->SetDrawBitmap(false);
        SetAllColors(pStaticStatus, 0x373737);
        pStaticStatus->SetFormat(DT_CENTER | DT_BOTTOM | DT_WORDBREAK);
        pStaticStatus->SetFont(MakeDrawingFont(14, 96));
        pStaticStatus->SetVisible(!silent);
        vecPaintCtrls.push_back(pStaticStatus);

        if (!silent) {
            SetupDlg::CreateOptionControls();
            SetupDlg::ShowOptionsPanel(false);
        }
    } else {
        pStaticQuestion = new StaticCtrl(m_hWnd, RECT{20, 38, 582, 70});
        pStaticQuestion->SetDrawBitmap(false);
        SetAllColors(pStaticQuestion, 0x8CA623);
        pStaticQuestion->SetFont(MakeDrawingFont(16, 72));
        pStaticQuestion->SetText(GetLangString(22));
        vecPaintCtrls.push_back(pStaticQuestion);

        pStaticUninstallPicture = new StaticCtrl(m_hWnd, RECT{140, 70, 482, 298});
        pStaticUninstallPicture->SetDrawBitmap(true);
        pStaticUninstallPicture->SetStateBitmaps(LoadSkinBitmap(154), nullptr, nullptr, nullptr);
        vecPaintCtrls.push_back(pStaticUninstallPicture);

        pChkKeepConfig = new CheckButtonCtrl(m_hWnd, RECT{12, 364, 26, 378});
        pChkKeepConfig->SetId(1624);
        pChkKeepConfig->SetDrawBitmap(true);
        SetBitmaps(pChkKeepConfig, 157, 158, 159);
        SetCheckedBitmaps(pChkKeepConfig, 159, 160, 157);
        pChkKeepConfig->SetCheck(1);
        vecMouseCtrls.push_back(pChkKeepConfig);

        pStaticKeepConfig = new StaticCtrl(m_hWnd, RECT{34, 360, 392, 380});
        pStaticKeepConfig->SetDrawBitmap(false);
        SetAllColors(pStaticKeepConfig, 0xBAD93C);
        pStaticKeepConfig->SetFormat(DT_VCENTER | DT_SINGLELINE);
        pStaticKeepConfig->SetFont(MakeDrawingFont(11, 72));
        pStaticKeepConfig->SetText(GetLangString(24));
        vecPaintCtrls.push_back(pStaticKeepConfig);

        HFONT buttonFont = IsJapaneseSystem() ? MakeDrawingFont(12, 96) : MakeDrawingFont(11, 72);
        auto makeButton = [&](RECT rect, int id, LangStringId text) {
            auto* button = new ButtonCtrlEx(m_hWnd, rect);
            button->SetId(id);
            button->SetDrawBitmap(true);
            SetBitmaps(button, 163, 162, 161);
            SetAllColors(button, 0xFFFFFF);
            button->SetFont(buttonFont);
            button->SetText(GetLangString(text));
            vecMouseCtrls.push_back(button);
            return button;
        };
        pBtnUninstall = makeButton(RECT{402, 356, 502, 388}, 1625, 23);
        pBtnCancel = makeButton(RECT{512, 356, 612, 388}, 1626, 12);

        pProgress = new ProcessCtrl(m_hWnd, RECT{10, 378, 612, 388});
        pProgress->SetDrawBitmap(true);
        pProgress->SetStateBitmaps(LoadSkinBitmap(156), LoadSkinBitmap(155), nullptr, nullptr);
        pProgress->SetRange(0, 100);
        pProgress->SetPos(0);
        pProgress->SetVisible(false);
        vecPaintCtrls.push_back(pProgress);
    }

    pBtnClose = new ButtonCtrlEx(m_hWnd, RECT{600, 0, 617, 21});
    pBtnClose->SetId(1612);
    pBtnClose->SetDrawBitmap(true);
    SetBitmaps(pBtnClose, 140, 143, 142);
    vecMouseCtrls.push_back(pBtnClose);

    pBtnMinimize = new ButtonCtrlEx(m_hWnd, RECT{580, 0, 597, 21});
    pBtnMinimize->SetId(1613);
    pBtnMinimize->SetDrawBitmap(true);
    SetBitmaps(pBtnMinimize, 144, 147, 146);
    vecMouseCtrls.push_back(pBtnMinimize);

    const auto& info = GetProductInfo();
    pStaticLogo = new StaticCtrl(m_hWnd, RECT{0, 0, 206, 45});
    pStaticLogo->SetDrawBitmap(true);
    pStaticLogo->SetStateBitmaps(info ? LoadSkinBitmap(info->GetLogoBitmapId()) : nullptr, nullptr, nullptr, nullptr);
    vecPaintCtrls.push_back(pStaticLogo);

    pStaticLogoAlt = new StaticCtrl(m_hWnd, RECT{0, 0, 206, 45});
    pStaticLogoAlt->SetDrawBitmap(true);
    pStaticLogoAlt->SetStateBitmaps(info ? LoadSkinBitmap(info->GetLogoAltBitmapId()) : nullptr, nullptr, nullptr,
                                    nullptr);
    pStaticLogoAlt->SetVisible(false);
    vecPaintCtrls.push_back(pStaticLogoAlt);

    pStaticVersion = new StaticCtrl(m_hWnd, RECT{13, 39, 413, 59});
    SetAllColors(pStaticVersion, 0xBFBFBF);
    pStaticVersion->SetFormat(DT_VCENTER | DT_SINGLELINE);
    pStaticVersion->SetFont(MakeDrawingFont(12, 96));
    pStaticVersion->SetVisible(false);
    vecPaintCtrls.push_back(pStaticVersion);

    UpdateCtrlStatus(0);
    vecPaintCtrls.insert(vecPaintCtrls.end(), vecMouseCtrls.begin(), vecMouseCtrls.end());
}

void SetupDlg::CreateOptionControls() {
    const int w0 = GetLangLayoutWidth(0), w1 = GetLangLayoutWidth(1);
    const int w2 = GetLangLayoutWidth(2), w3 = GetLangLayoutWidth(3);

    pChkCustom = new CheckButtonCtrlEx(m_hWnd, RECT{474, 359, 609, 385});
    pChkCustom->SetId(1615);
    pChkCustom->SetDrawBitmap(true);
    SetBitmaps(pChkCustom, 165, 166, 166);
    SetCheckedBitmaps(pChkCustom, 167, 168, 168);
    pChkCustom->SetBoxRect(121, 9, 14, 8);
    pChkCustom->SetTextRect(0, 0, 119, 26);
    pChkCustom->SetFormat(DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    pChkCustom->SetTextColor(0xCEC0A3);
    pChkCustom->SetStateColors(0xCEC0A3, 0xE3A378, 0xE3A378, 0xCCCBC2);
    pChkCustom->SetFont(MakeDrawingFont(14, 96));
    pChkCustom->SetText(GetLangString(1));
    pChkCustom->SetCheck(0);
    vecMouseCtrls.push_back(pChkCustom);

    HFONT fontA = MakeDrawingFont(14, 96);
    HFONT fontB = MakeDrawingFont(14, 96, true);

    pChkAccept = MakeOptionBox(m_hWnd, RECT{44, 425, 44 + w0, 445}, 1616, w0 - 25, fontA, 2);
    pChkAccept->SetCheck(1);
    vecMouseCtrls.push_back(pChkAccept);

    pLinkLicense = MakeLink(m_hWnd, RECT{44 + w0, 425, 44 + w0 + w1, 445}, 1617, fontA, fontB, 3);
    vecMouseCtrls.push_back(pLinkLicense);

    // The one real child window: placed and fonted at the display's scale.
    rcEditPath = RECT{44, 460, 549, 486};
    int pixelsPerInch = 96;
    {
        WindowDc dc(m_hWnd);
        if (dc) pixelsPerInch = GetDeviceCaps(dc.get(), LOGPIXELSY);
    }
    hEditPath = CreateWindowExW(0, L"edit", L"", 0x50800024, Scale(rcEditPath.left), Scale(rcEditPath.top),
                                Scale(rcEditPath.right) - Scale(rcEditPath.left),
                                Scale(rcEditPath.bottom) - Scale(rcEditPath.top), m_hWnd, nullptr,
                                g_hModuleInstance ? g_hModuleInstance : GetModuleHandleW(nullptr), nullptr);
    if (hEditPath) {
        SendMessageW(hEditPath, WM_SETFONT, reinterpret_cast<WPARAM>(MakeUiFont(14, pixelsPerInch, 96)), 1);
        RECT format{};
        GetClientRect(hEditPath, &format);
        OffsetRect(&format, Scale(4), Scale(1));
        SendMessageW(hEditPath, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&format));
        SetWindowTextW(hEditPath, GetInstallFolder().c_str());
    }

    pBtnBrowse = new ButtonCtrlEx(m_hWnd, RECT{549, 460, 578, 486});
    pBtnBrowse->SetId(1619);
    pBtnBrowse->SetDrawBitmap(true);
    SetBitmaps(pBtnBrowse, 171, 170, 169);
    vecMouseCtrls.push_back(pBtnBrowse);

    const int cfg = nCfgFlag;
    pChkDesktop = MakeOptionBox(m_hWnd, RECT{44, 501, 411, 521}, 1620, 342, fontA, 4);
    pChkDesktop->SetCheck((cfg & 1) ? 1 : 0);
    vecMouseCtrls.push_back(pChkDesktop);

    pChkJoin = MakeOptionBox(m_hWnd, RECT{44, 536, 44 + w2, 556}, 1622, w2 - 25, fontA, 7);
    pChkJoin->SetCheck((cfg & 2) ? 1 : 0);
    vecMouseCtrls.push_back(pChkJoin);
    // The finish report tells what the boxes show, clicked or not.
    g_bCreateDesktopIcon = pChkDesktop->GetCheck() != 0;
    g_bJoinUxProgram = pChkJoin->GetCheck() != 0;

    pLinkUxProgram = MakeLink(m_hWnd, RECT{44 + w2, 536, 44 + w2 + w3, 556}, 1623, fontA, fontB, 8);
    vecMouseCtrls.push_back(pLinkUxProgram);
}
