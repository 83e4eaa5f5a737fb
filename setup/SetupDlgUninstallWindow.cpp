// The dialog as the uninstall road sees it: its window (every control change
// posted to the window's thread) and its overridable product steps.
#include <windows.h>
#include <shlwapi.h>

#include "LangStrings.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "Registry.h"
#include "SetupDlg.h"
#include "UninstallRoad.h"

namespace {

constexpr int kFinishCommand = 1627;

class DialogUninstallParts : public UninstallWindow, public UninstallSteps {
public:
    explicit DialogUninstallParts(SetupDlg& dlg) : dlg_(dlg) {}

    // ---- UninstallWindow ----
    void Start() override { dlg_.ShowUninstallStart(); }
    void Position(unsigned percent) override { dlg_.ShowUninstallPosition(percent); }
    void Done(bool needRestart) override { dlg_.ShowUninstallDone(needRestart); }
    void ShowFailed() override { dlg_.ShowUninstallFailed(); }
    // A post, also on the window's thread: the close handler joins the
    // worker this road runs on.
    void Close() override {
        if (HWND wnd = dlg_.GetWindow()) PostMessageW(wnd, WM_CLOSE, 0, 0);
    }

    // ---- UninstallSteps ----
    void QuitRunningApp(const std::wstring& folder, const std::wstring& exeName) override {
        dlg_.QuitRunningApp(folder, exeName);
    }
    void KillProductProcesses() override { ::KillProductProcesses(); }
    bool RunMainExeUninstall(const std::wstring& folder, const std::wstring& exeName, bool* needRestart) override {
        return dlg_.RunMainExeUninstall(folder, exeName, needRestart);
    }
    void DeleteHelperFiles(const std::wstring& folder) override { dlg_.DeleteHelperFiles(folder); }
    std::string MakeDisplayName(const std::string& name) override { return dlg_.MakeDisplayName(name); }
    void DeleteShortcuts(const std::wstring& displayName) override { dlg_.DeleteShortcuts(displayName); }
    void RefreshIcons() override { ::RefreshIcons(); }
    std::wstring ConfigurationFolder() override {
        wchar_t appData[MAX_PATH] = {};
        const std::wstring productFolder = ProductConfig::GetProductFolderW();
        if (!GetAppDataPath(appData) || !PathFileExistsW(appData) || productFolder.empty()) return {};
        return PathJoin(appData, productFolder);
    }
    std::string ProductName() override { return dlg_.GetProductName(); }
    std::string MakeUninstallKeyName(const std::string& base) override { return dlg_.MakeUninstallKeyName(base); }
    bool DeleteUninstallItem(const std::string& keyName) override { return ::DeleteUninstallItem(keyName) != 0; }
    void UseNeedRestart(bool needRestart) override { dlg_.bNeedRestart = needRestart; }

private:
    SetupDlg& dlg_;
};

}  // namespace

UninstallOutcome RunDialogUninstallRoad(SetupDlg& dlg) {
    DialogUninstallParts parts(dlg);
    UninstallRoad road({parts, parts, dlg.bStopWork}, dlg.GetUninstallChoices(), dlg.packageHeader,
                       dlg.GetPackagePath());
    road.SetNeedRestart(dlg.bNeedRestart);
    return road.Run();
}

void SetupDlg::ShowUninstallStart() {
    if (OnOtherThread(m_hWnd)) {
        PostMessageW(m_hWnd, kMsgUninstallStart, 0, 0);
        return;
    }
    if (pProgress) pProgress->SetPos(0);
    if (pStaticQuestion) pStaticQuestion->SetText(GetLangString(25));
}

void SetupDlg::ShowUninstallPosition(unsigned percent) {
    if (OnOtherThread(m_hWnd)) {
        PostMessageW(m_hWnd, kMsgUninstallPosition, static_cast<WPARAM>(percent), 0);
        return;
    }
    if (percent <= 100 && pProgress) pProgress->SetPos(static_cast<int>(percent));
}

void SetupDlg::ShowUninstallDone(bool needRestart) {
    if (OnOtherThread(m_hWnd)) {
        PostMessageW(m_hWnd, kMsgUninstallDone, needRestart ? 1 : 0, 0);
        return;
    }
    if (pProgress) pProgress->SetVisible(false);
    if (pStaticKeepConfig) pStaticKeepConfig->SetVisible(false);
    if (pBtnCancel) {
        pBtnCancel->SetId(kFinishCommand);
        pBtnCancel->SetText(GetLangString(27));
        pBtnCancel->SetVisible(true);
    }
    if (pStaticQuestion) pStaticQuestion->SetText(GetLangString(needRestart ? 41 : 26));
}

void SetupDlg::ShowUninstallFailed() {
    if (OnOtherThread(m_hWnd)) {
        PostMessageW(m_hWnd, kMsgUninstallFailed, 0, 0);
        return;
    }
    MessageBoxW(m_hWnd, L"UnInstall Failed!", L"ERROR", MB_OK);
}

bool SetupDlg::OnUninstallMessage(UINT message, WPARAM wParam) {
    switch (message) {
    case kMsgUninstallStart: ShowUninstallStart(); return true;
    case kMsgUninstallPosition: ShowUninstallPosition(static_cast<unsigned>(wParam)); return true;
    case kMsgUninstallDone: ShowUninstallDone(wParam != 0); return true;
    case kMsgUninstallFailed: ShowUninstallFailed(); return true;
    default: return false;
    }
}

UninstallChoices SetupDlg::ReadUninstallChoices() {
    UninstallChoices choices;
    // A run without the uninstall page has no box: nothing is kept, as the
    // product's own uninstall run is told then too.
    choices.keepConfiguration = pChkKeepConfig && pChkKeepConfig->GetCheck() != 0;
    choices.silent = IsSilent();
    return choices;
}

void SetupDlg::SetUninstallChoices(const UninstallChoices& choices) {
    std::lock_guard<std::mutex> lock(m_textLock);
    uninstallChoices = choices;
    bHasUninstallChoices = true;
}

UninstallChoices SetupDlg::GetUninstallChoices() {
    {
        std::lock_guard<std::mutex> lock(m_textLock);
        if (bHasUninstallChoices) return uninstallChoices;
    }
    // A road or a step started without the Uninstall button (a test) reads
    // the dialog's own state; the box guards its own state.
    return ReadUninstallChoices();
}
