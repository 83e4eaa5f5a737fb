// The dialog as the install road sees it: its window (every control change
// and every box posted to the window's thread), the download engine it
// holds, and its overridable product steps.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <future>

#include "IDownloader.h"
#include "InstallRoad.h"
#include "LangStrings.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "ProductConfig.h"
#include "ProductInfo.h"
#include "Registry.h"
#include "SetupApp.h"
#include "SetupDlg.h"
#include "SkinMessageBox.h"
#include "Text.h"
#include "UnpackPackage.h"

// True when the call must be posted: a window that another thread owns.
bool OnOtherThread(HWND wnd) {
    return wnd && IsWindow(wnd) && GetWindowThreadProcessId(wnd, nullptr) != GetCurrentThreadId();
}

namespace {

// How often a worker waiting for a box's answer looks at its stop flag.
constexpr auto kBoxAnswerPoll = std::chrono::milliseconds(50);

// The box the window's thread opens meanwhile: the first top-level window
// created on that thread while the hook is set (the box's own windows come
// after it, as its children or from its dialog procedure).
thread_local HWND* t_boxCreated = nullptr;

LRESULT CALLBACK RecordBoxWindow(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_boxCreated && !*t_boxCreated) {
        const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
        if (!(create->lpcs->style & WS_CHILD)) *t_boxCreated = reinterpret_cast<HWND>(wParam);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The setup file's name: the internal name, the version text's first eight
// characters in parentheses when the text is longer, ".exe".
std::wstring SetupFileName() {
    std::string name = GetProductInfo() ? GetProductInfo()->GetInternalName() : "";
    if (VersionText.size() > 8) name += "(" + VersionText.substr(0, 8) + ")";
    name += ".exe";
    return NarrowToWide(name);
}

class DialogRoadParts : public InstallWindow, public InstallEngines, public InstallSteps {
public:
    explicit DialogRoadParts(SetupDlg& dlg) : dlg_(dlg) {}

    // ---- InstallWindow ----
    void ShowPage(InstallState page) override {
        // The page first: the renderer hides the controls only while the
        // page is the working one.
        dlg_.eInstall = page;
        dlg_.ApplyControls(page);
    }
    void SetRenderStage(int stage) override { dlg_.nRenderStage = stage; }
    void SetFinishButton(bool enabled) override { dlg_.bFinishButtonEnabled = enabled ? 1 : 0; }
    void SetUsingFallback(bool fallback) override { dlg_.bUsingFallback = fallback; }
    void DownloadEvent(int event, unsigned value, long extra) override { dlg_.OnDownloadEvent(event, value, extra); }
    void UnpackEvent(int event, unsigned value) override { dlg_.OnInstallProgress(event, value, 0); }
    void ShowError(const std::wstring& text, bool owned) override { dlg_.ShowRoadError(text, owned); }
    int AskRestart() override { return dlg_.AskRoadRestart(); }
    void Close() override { dlg_.OnBtnClose(); }

    // ---- InstallEngines ----
    IDownloader* Create() override {
        std::lock_guard<std::mutex> lock(dlg_.m_downloadLock);
        if (dlg_.pDownload) {
            IDownloader* old = dlg_.pDownload;
            dlg_.pDownload = nullptr;
            ReleaseDownloaderAsync(old);
        }
        CreateDownloader(&dlg_.pDownload);
        return dlg_.pDownload;
    }
    void Release(IDownloader* engine) override {
        std::lock_guard<std::mutex> lock(dlg_.m_downloadLock);
        if (dlg_.pDownload == engine) dlg_.pDownload = nullptr;
        ReleaseDownloaderAsync(engine);
    }

    // ---- InstallSteps ----
    int InstallFile(const std::wstring& package, const std::wstring& folder) override {
        return dlg_.InstallFile(package, folder);
    }
    std::wstring InstalledFolder() override { return GetInstallPath(); }
    void KillProductProcesses() override { ::KillProductProcesses(); }
    void QuitRunningApp(const std::wstring& folder, const std::wstring& exeName) override {
        dlg_.QuitRunningApp(folder, exeName);
    }
    bool IsNewInstall(const std::wstring& folder) override { return dlg_.IsNewInstall(folder); }
    bool ProcessBeforeInstall(const std::wstring& folder, bool* needRestart) override {
        return dlg_.ProcessBeforeInstall(folder, needRestart);
    }
    void CreateShortcuts(const ShortcutInfo& info) override { dlg_.CreateShortcuts(info); }
    void RefreshIcons() override { ::RefreshIcons(); }
    std::string MakeDisplayName(const std::string& name) override { return dlg_.MakeDisplayName(name); }
    int ShowFinishWebPage(bool newInstall) override { return dlg_.ShowFinishWebPage(newInstall); }
    bool RunMainExeInstall(const std::wstring& folder, const std::wstring& exeName, bool newInstall,
                           bool* needRestart) override {
        return dlg_.RunMainExeInstall(folder, exeName, newInstall, needRestart);
    }
    void WriteUninstallInfo() override { dlg_.WriteUninstallInfo(); }
    bool AddRunOnce(const std::string& name, const std::wstring& command) override {
        return SetRunOnceValueW(name, command) != 0;
    }
    void RestartWindows() override { dlg_.RestartWindows(); }
    void RunProductApp(const std::wstring& arguments) override { dlg_.RunProductApp(arguments); }
    void UsePackageHeader(const PackageHeader& header) override { dlg_.packageHeader = header; }
    void UsePackagePath(const std::wstring& path) override { dlg_.SetPackagePath(path); }
    void UseInstallFolder(const std::wstring& folder) override { dlg_.SetInstallFolder(folder); }
    void UseOutcomeFlags(bool needRestart, bool showThankYou, const std::string& installId) override {
        if (needRestart) dlg_.bNeedRestart = true;
        dlg_.bShowThankYou = showThankYou;
        if (!installId.empty()) dlg_.strInstallId = installId;
    }

private:
    SetupDlg& dlg_;
};

}  // namespace

RoadOutcome RunDialogInstallRoad(SetupDlg& dlg) {
    DialogRoadParts parts(dlg);
    InstallRoad road({parts, parts, parts, dlg.pReporter, dlg.bStopWork}, dlg.TakeInstallChoices(),
                     dlg.packageHeader, dlg.GetPackagePath());
    road.SetNeedRestart(dlg.bNeedRestart);
    road.loadManifest = [](bool x64, std::string& text) { return LoadResourceText(x64 ? 502 : 501, L"xml", text); };
    road.downloadTarget = [] {
        std::wstring target;
        GetDownloadsPath(target, ProductConfig::GetProductFolderW(), SetupFileName().c_str(), 1);
        return target;
    };
    return road.Run();
}

void SetupDlg::ApplyControls(int state) {
    if (OnOtherThread(m_hWnd)) {
        PostMessageW(m_hWnd, kMsgApplyControls, static_cast<WPARAM>(state), 0);
        return;
    }
    UpdateCtrlStatus(state);
}

void SetupDlg::HideWorkingControls() {
    if (OnOtherThread(m_hWnd)) {
        PostMessageW(m_hWnd, kMsgHideWorkingControls, 0, 0);
        return;
    }
    // A quick failure or finish may have changed the page already, and its
    // buttons must stay.
    if (eInstall == E_Install_Working) UpdateCtrlStatus(E_Install_Working);
}

bool SetupDlg::OnRoadMessage(UINT message, WPARAM wParam) {
    if (message == kMsgApplyControls) {
        UpdateCtrlStatus(static_cast<int>(wParam));
        return true;
    }
    if (message == kMsgHideWorkingControls) {
        if (eInstall == E_Install_Working) UpdateCtrlStatus(E_Install_Working);
        return true;
    }
    if (message == kMsgOpenBox) {
        OpenRequestedBox();
        return true;
    }
    return false;
}

// What a worker hands the window's thread: the box to open, the answer
// when the box cannot be opened, and the answer it waits for.
struct SetupDlg::BoxRequest {
    std::function<int()> open;
    int stopAnswer = 0;
    std::promise<int> answer;
};

int SetupDlg::OpenBoxOnWindowThread(std::function<int()> open, int stopAnswer) {
    if (!OnOtherThread(m_hWnd)) return open();
    if (bStopWork) return stopAnswer;
    auto request = std::make_shared<BoxRequest>();
    request->open = std::move(open);
    request->stopAnswer = stopAnswer;
    std::future<int> answer = request->answer.get_future();
    const auto withdraw = [&] {
        std::lock_guard<std::mutex> lock(m_boxLock);
        if (m_boxRequest == request) m_boxRequest.reset();
    };
    {
        std::lock_guard<std::mutex> lock(m_boxLock);
        m_boxRequest = request;
    }
    // A window gone meanwhile is a dialog that is closing: nobody sees a box.
    if (!PostMessageW(m_hWnd, kMsgOpenBox, 0, 0)) {
        withdraw();
        return stopAnswer;
    }
    // The user may take as long as he likes; a close ends the wait, and the
    // close handler ends the box.
    while (answer.wait_for(kBoxAnswerPoll) != std::future_status::ready) {
        if (bStopWork) {
            withdraw();
            WriteLog("Road box: the close came before the answer.");
            return stopAnswer;
        }
    }
    return answer.get();
}

void SetupDlg::OpenRequestedBox() {
    std::shared_ptr<BoxRequest> request;
    {
        std::lock_guard<std::mutex> lock(m_boxLock);
        request.swap(m_boxRequest);
    }
    if (!request) return;
    // A close has begun: the box would only hold the close up.
    if (bClosing || bStopWork) {
        request->answer.set_value(request->stopAnswer);
        return;
    }
    // The hook names the box's window for the close handler while the box's
    // modal loop runs.
    m_roadBox = nullptr;
    t_boxCreated = &m_roadBox;
    HHOOK hook = SetWindowsHookExW(WH_CBT, RecordBoxWindow, nullptr, GetCurrentThreadId());
    if (!hook) WriteLog("Road box: no window hook (%u); a close waits for the box.", (unsigned)GetLastError());
    const int answer = request->open();
    if (hook) UnhookWindowsHookEx(hook);
    t_boxCreated = nullptr;
    m_roadBox = nullptr;
    request->answer.set_value(answer);
}

void SetupDlg::CloseRoadBox() {
    // The box's own answer stays what a cancel gives.
    if (m_roadBox && IsWindow(m_roadBox)) EndDialog(m_roadBox, IDCANCEL);
}

void SetupDlg::ShowRoadError(const std::wstring& text, bool owned) {
    OpenBoxOnWindowThread([this, text, owned] {
        return MessageBoxW(owned ? m_hWnd : nullptr, text.c_str(), L"ERROR", MB_OK);
    }, IDCANCEL);
}

int SetupDlg::AskRoadRestart() {
    return OpenBoxOnWindowThread([this] {
        return ShowSkinMessageBox(m_hWnd, ProductConfig::GetProductNameW().c_str(), GetLangString(40),
                                  GetLangString(11));
    }, kSkinMsgNoButton);
}

InstallChoices SetupDlg::ReadInstallChoices() {
    InstallChoices choices;
    choices.folder = GetInstallFolder();
    choices.silent = IsSilent();
    choices.cfgFlag = nCfgFlag;
    const int cfg = choices.cfgFlag;
    // Without its boxes the configured flags are what the boxes would have
    // shown (they are preset from them).
    choices.desktop = pChkDesktop ? pChkDesktop->GetCheck() != 0 : (cfg & 1) != 0;
    choices.join = pChkJoin ? pChkJoin->GetCheck() != 0 : (cfg & 2) != 0;
    return choices;
}

void SetupDlg::SetInstallChoices(const InstallChoices& choices) {
    std::lock_guard<std::mutex> lock(m_textLock);
    installChoices = choices;
    bHasChoices = true;
}

InstallChoices SetupDlg::TakeInstallChoices() {
    {
        std::lock_guard<std::mutex> lock(m_textLock);
        if (bHasChoices) {
            bHasChoices = false;
            return installChoices;
        }
    }
    // A road started without the trigger (a test) reads the dialog's own
    // state; the boxes guard their own state.
    InstallChoices choices;
    choices.folder = GetInstallFolder();
    choices.silent = IsSilent();
    choices.cfgFlag = nCfgFlag;
    choices.desktop = pChkDesktop && pChkDesktop->GetCheck() != 0;
    choices.join = pChkJoin && pChkJoin->GetCheck() != 0;
    return choices;
}
