// The installer's main dialog: one object per process (the product subclass
// Orvane), run as the modal dialog of template 130. It owns the pages, the
// window-less controls, the paint and render threads, the install and
// uninstall workers and the statistics reporter.
//
// Threads and what they share:
// - the user-interface thread runs every handler and the modal loop;
// - the paint thread draws the current page every 10 or 50 ms;
// - the render thread composes the working page's animation frames;
// - the install or the uninstall worker runs the road of one install;
// - the statistics-start thread sends the start report;
// - the download engine's threads call OnDownloadEvent.
// Every field that more than one of them touches is atomic or guarded by the
// lock named beside it. A thread the dialog starts is a thread it joins
// (StopThreads) before the object goes away.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CommonDlg.h"
#include "Handles.h"
#include "InstallChoices.h"
#include "PackageHeader.h"
#include "SkinBitmap.h"
#include "SkinCtrls.h"
#include "UninstallChoices.h"
#include "WndShadow.h"

class IDownloader;
class InstallStatsReporter;
struct DownloadProgress;

// The page: what the painter draws and what the Install trigger does.
enum InstallState : int {
    E_Install_Ready = 0,
    E_Install_Working = 1,
    E_Install_Finished = 2,
    E_Install_Failed = 3,
};

// What CreateShortcuts makes; the install worker fills it.
struct ShortcutInfo {
    std::wstring strInstallFolder;
    std::wstring strMainExeName;
    std::wstring strDisplayName;
    std::wstring strHomeUrl;
    bool bDesktop = true;         // the desktop
    bool bStartMenu = true;       // the user's Start-menu Programs folder
    bool bCommonPrograms = true;  // the common Programs folder
};

// One expanding ring of the install animation.
struct RippleRing {
    int32_t nRadius = 0;
    uint32_t dwStartTick = 0xFFFFFFFF;  // not spawned yet
    float fAlpha = 0.05f;
    COLORREF crColor = 0x999999;
};

class SetupDlg : public CommonDlg {
public:
    SetupDlg();
    ~SetupDlg() override;

    // ---- CommonDlg's overridables -------------------------------------
    int OnInitDialog(HWND wnd) override;
    int OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnPaint() override;
    void OnCreate() override;

    // ---- SetupDlg's overridables, in their order ------------------------
    virtual void CreateShortcuts(ShortcutInfo info);
    virtual void DeleteShortcuts(std::wstring displayName);
    virtual bool RunMainExeInstall(std::wstring installFolder, std::wstring exeName, bool bNewFlag, bool* needRestart);
    virtual bool RunMainExeUninstall(std::wstring installFolder, std::wstring exeName, bool* needRestart);
    virtual int InstallFile(std::wstring packagePath, std::wstring installFolder);
    virtual void UninstallWork();
    virtual void OnTimer(UINT_PTR id);
    virtual bool HasRegisteredInstallPath();
    virtual int OnClose();
    virtual int SendFinishReport();
    virtual bool ProcessBeforeInstall(std::wstring installFolder, bool* needRestart);
    virtual void DeleteHelperFiles(std::wstring installFolder);
    virtual std::string MakeUninstallKeyName(std::string base);
    virtual std::string MakeDisplayName(std::string base);
    virtual std::string GetProductName();
    virtual std::string GetOldInstallPath();
    virtual int ShowFinishWebPage(bool bNewFlag);
    virtual void RunProductApp(std::wstring arguments);
    virtual void QuitRunningApp(std::wstring installFolder, std::wstring exeName);
    virtual bool IsNewInstall(std::wstring installFolder);
    virtual bool IsRestartExitCode(int exitCode);
    virtual bool IsArchitectureMatch();
    virtual bool IsOsSupported();
    // Whether this run is silent: the start-up option, asked through the
    // dialog so that the silent road can be driven without a command line.
    virtual bool IsSilent();
    // Hands the restart to Windows (ExitWindowsEx with these flags and
    // reason): the one call through which the dialog restarts the machine.
    virtual bool ExitWindowsForRestart(UINT flags, DWORD reason);

    // The face name of the UI fonts.
    static const wchar_t* GetUiFontName();

    // ---- Layout and controls (SetupDlgControls.cpp) ---------------------
    void CreateControls();
    void CreateOptionControls();

    // ---- Commands, options panel, mouse routing (SetupDlgCommands.cpp) --
    void UpdateCtrlStatus(int state);
    void ShowVersionLabel();
    void ShowOptionsPanel(bool show);
    void OnBtnCustom();
    void OnBtnAccept();
    void OnBtnLicense();
    void OnBtnBrower();
    void OnBtnDesktopIcon();
    void OnBtnJoinUx();
    void OnBtnUxProgram();
    void OnBtnUninstall();
    void OnBtnClose();
    void OnBtnMinimize();
    int DispatchMouseMove(int x, int y);
    int DispatchLButtonDown(int x, int y);
    int DispatchLButtonUp(int x, int y);
    void CallOnTimer(UINT_PTR id);
    static int CALLBACK BrowseFolderCallback(HWND wnd, UINT message, LPARAM lParam, LPARAM data);

    // ---- Install trigger and checks (SetupDlgTrigger.cpp) ---------------
    int OnBtnInstall();
    int CheckInstallConditions();
    // Restarts Windows (RestartSystem) through ExitWindowsForRestart.
    void RestartWindows();

    // ---- Install worker (SetupDlgInstall.cpp) ---------------------------
    void DoInstall();
    int OnDownloadEvent(int event, unsigned value, long extra);
    int OnInstallProgress(int event, unsigned value, long extra);
    int OnUninstallProgress(int event, unsigned value, long extra);
    void LoadPackageHeader();

    // ---- The install road's window (SetupDlgRoadWindow.cpp) --------------
    // What the road and the renderer post to the window's thread: a control
    // state for UpdateCtrlStatus (wParam), and the working page's hiding of
    // its controls, applied only while the page is still the working one.
    static constexpr UINT kMsgApplyControls = WM_APP + 0x130;
    static constexpr UINT kMsgHideWorkingControls = WM_APP + 0x131;
    // Both run at once on the window's thread (or without a window), and are
    // posted there from any other thread.
    void ApplyControls(int state);
    void HideWorkingControls();
    // The two messages above and kMsgOpenBox; true when message was one of
    // them.
    bool OnRoadMessage(UINT message, WPARAM wParam);
    // The road's boxes open on the window's thread: a worker leaves its
    // request in m_boxRequest, posts kMsgOpenBox and waits for the answer
    // while bStopWork is clear; once it is set the worker goes on with the
    // box's stop answer (what cancelling it gives). Without a window, or on
    // the window's thread, the box opens at once.
    static constexpr UINT kMsgOpenBox = WM_APP + 0x132;
    struct BoxRequest;
    int OpenBoxOnWindowThread(std::function<int()> open, int stopAnswer);
    // The platform box with "ERROR" as its caption; owned: by the dialog.
    void ShowRoadError(const std::wstring& text, bool owned);
    // The skinned restart question; the button that ended it.
    int AskRoadRestart();
    // Ends the road's box while it is up, as a cancel would (the close
    // handler: the box's modal loop would otherwise keep the dialog up).
    void CloseRoadBox();
    void OpenRequestedBox();  // kMsgOpenBox, on the window's thread
    // The folder and the boxes as the window shows them (its thread only).
    InstallChoices ReadInstallChoices();
    // Handed to the next install road; a road without them takes the folder
    // set last and the silent run's configured flags.
    void SetInstallChoices(const InstallChoices& choices);
    InstallChoices TakeInstallChoices();

    // ---- The uninstall road's window (SetupDlgUninstallWindow.cpp) -------
    // What the uninstall road posts to the window's thread: the page's start,
    // the bar's position (wParam), the done page (wParam 1: a restart is
    // needed) and the failed box.
    static constexpr UINT kMsgUninstallStart = WM_APP + 0x140;
    static constexpr UINT kMsgUninstallPosition = WM_APP + 0x141;
    static constexpr UINT kMsgUninstallDone = WM_APP + 0x142;
    static constexpr UINT kMsgUninstallFailed = WM_APP + 0x143;
    // Each runs at once on the window's thread (or without a window), and is
    // posted there from any other thread.
    void ShowUninstallStart();
    void ShowUninstallPosition(unsigned percent);  // above 100: ignored
    void ShowUninstallDone(bool needRestart);
    void ShowUninstallFailed();
    // The four messages above; true when message was one of them.
    bool OnUninstallMessage(UINT message, WPARAM wParam);
    // The keep box as the window shows it and the silent flag (its thread only).
    UninstallChoices ReadUninstallChoices();
    // Handed over by the Uninstall button, for the road and the product's own
    // uninstall run; without them both read the dialog's state at the time.
    void SetUninstallChoices(const UninstallChoices& choices);
    UninstallChoices GetUninstallChoices();

    // ---- Registration and web pages (SetupDlgRegistration.cpp) ---------
    void WriteUninstallInfo();
    std::string AppendClientParams(std::string url);

    // ---- Close, countdown, statistics, shared memory (SetupDlgClose.cpp)
    int OnAutoInstallTimer();
    bool OpenSharedMemory(std::wstring name);
    void WriteSharedMemory(const char* text);
    void CloseSharedMemory();

    // ---- Painting (SetupDlgPaint.cpp) -----------------------------------
    void PaintReadyPage();
    // The failed page, or the download page with its figures; on the
    // download page the engine's figures are moved into segments when it is
    // given and the debug window is open.
    void PaintDownloadPage(std::optional<DownloadProgress>* segments = nullptr);
    void PaintInstallPage();
    void PaintFinishPage();

    // ---- Software renderer (SoftwareRenderer.cpp) -----------------------
    void RenderLoop();
    void RenderLogoFrame();
    void RenderRippleFrame();
    void RenderFinishFrame();
    void DrawProgressWipe();

    // ---- Lifetime ---------------------------------------------------------
    // Stops and joins every thread the dialog started (paint, render,
    // statistics, workers) and stops the download engine, each within
    // timeoutMs in all. True when none is left running; the object may be
    // destroyed only then.
    bool StopThreads(DWORD timeoutMs);
    // The first half of StopThreads: asks the threads, the worker and the
    // download engine to end, without waiting for them.
    void RequestStop();

    // A snapshot of the engine's figures for the painter and the debug
    // window, taken under m_downloadLock; false when no engine is held.
    bool CopyDownloadProgress(DownloadProgress& out);

    HWND GetEditPathWindow() const { return hEditPath; }

    // ---- Fields -------------------------------------------------------------
    // Written by one thread and read by others: atomic.
    std::atomic<int> bExitThreads{0};          // set by OnClose; paint and render loops end
    std::atomic<int> bFinishButtonEnabled{1};  // the finished page shows its button
    std::atomic<int> nRenderStage{0};          // 0 logo, 1 and 2 ripple, 3 finish
    std::atomic<InstallState> eInstall{E_Install_Ready};
    std::atomic<bool> bDownloadFinished{false};
    std::atomic<int> nDownloadPercent{0};      // 0..100
    std::atomic<int> nInstallProgress{0};      // 0..1000
    std::atomic<int> nCfgFlag{-1};             // bit 1 desktop shortcut, bit 2 join programme
    std::atomic<bool> bUsingFallback{false};
    std::atomic<bool> bShowThankYou{false};
    std::atomic<bool> bNeedRestart{false};

    // The path texts: guarded by m_textLock; use the accessors from any
    // thread but the one that owns the whole road at the moment.
    std::wstring GetPackagePath();
    void SetPackagePath(const std::wstring& path);
    std::wstring GetInstallFolder();
    void SetInstallFolder(const std::wstring& folder);
    std::string strInstallId;       // written and read by the install worker only

    // The dialog's copy of the package header: filled by OnInitDialog, then
    // by the install worker's package pass while no other thread reads it.
    PackageHeader packageHeader;

    // Controls: created once by CreateControls on the user-interface thread
    // before any other thread starts, never deleted; the pointers never
    // change afterwards. The controls guard their own state.
    ButtonColorCtrlEx* pBtnInstall = nullptr;
    StaticCtrl* pStaticPicture = nullptr;
    StaticCtrl* pStaticStatus = nullptr;
    CheckButtonCtrlEx* pChkCustom = nullptr;
    CheckButtonCtrlEx* pChkAccept = nullptr;
    HyLinkCtrlEx* pLinkLicense = nullptr;
    HWND hEditPath = nullptr;
    RECT rcEditPath{};
    CheckButtonCtrlEx* pChkDesktop = nullptr;
    CheckButtonCtrlEx* pChkJoin = nullptr;
    HyLinkCtrlEx* pLinkUxProgram = nullptr;
    StaticCtrl* pStaticQuestion = nullptr;
    CheckButtonCtrl* pChkKeepConfig = nullptr;
    StaticCtrl* pStaticKeepConfig = nullptr;
    ButtonCtrlEx* pBtnUninstall = nullptr;
    ButtonCtrlEx* pBtnCancel = nullptr;
    ProcessCtrl* pProgress = nullptr;
    ButtonCtrlEx* pBtnClose = nullptr;
    ButtonCtrlEx* pBtnMinimize = nullptr;
    StaticCtrl* pStaticLogo = nullptr;
    StaticCtrl* pStaticLogoAlt = nullptr;
    StaticCtrl* pStaticVersion = nullptr;
    std::vector<CommonCtrl*> vecPaintCtrls;  // fixed after CreateControls

    // Fonts: made once by OnInitDialog, kept for the process's life.
    HFONT hTitleFont = nullptr;
    HFONT hTextFont = nullptr;

    // The renderer (SoftwareRenderer.cpp). The pictures are loaded by
    // OnInitDialog and only read afterwards.
    BMData bmLogo;           // 190
    BMData bmInstallLogo;    // 132
    BMData bmFinishPicture;  // 133
    BMData bmDownloadDone;   // 183
    BMData bmDownloadFailed; // 182
    BMData bmBackground;     // 185
    BMData bmSpare;          // 184
    int32_t nCenterX = 0;
    int32_t nCenterY = 0;
    int32_t nMaxRadius = 0;
    int32_t nPictureX = 0;
    int32_t nPictureY = 0;
    int32_t nPictureRadius = 0;
    // Frame hand-over: the render thread writes a frame, then sets its flag;
    // the install painter copies it, then clears the flag.
    uint32_t* pFrameBuffers[2] = {nullptr, nullptr};
    std::atomic<int> bFrameFull[2] = {{0}, {0}};
    std::atomic<int> nReadIndex{0};
    uint32_t* pWorkBuffer = nullptr;     // render thread only
    double* pDistanceTable = nullptr;
    std::vector<RippleRing> vecRings;    // render thread only
    int32_t nDiscRadius = 0;             // render thread only

    // The download engine while one exists; m_downloadLock guards the
    // pointer. Nobody reads the engine after it is released.
    std::mutex m_downloadLock;
    IDownloader* pDownload = nullptr;  // m_downloadLock

    // Made by OnInitDialog before any thread that uses it starts, never
    // deleted; the reporter locks its own state.
    InstallStatsReporter* pReporter = nullptr;

    // Tags of the installer's own file name; set once by OnInitDialog.
    std::string strOption;
    std::string strSource;

    // The shared-memory progress channel: opened by OnInitDialog, written by
    // the install worker, closed by the destructor.
    UniqueHandle hSharedMemory;
    UniqueMappedView pSharedView;  // after the mapping: unmapped first

    // Asked of the worker by the close handler: end the road at the next step.
    std::atomic<bool> bStopWork{false};
    // Every start of a worker counts here, so what waited meanwhile (the
    // folder browser) sees that a road has begun.
    std::atomic<unsigned> nWorkersStarted{0};

    // ---- Painting and renderer support (SetupDlgPaint.cpp, SoftwareRenderer.cpp)
    // The renderer's geometry, pictures and buffers (OnInitDialog calls it
    // once; a second call changes nothing), and their release (the
    // destructor calls it once the render and paint threads have ended).
    void PrepareRenderer();
    void ReleaseRenderer();
    // Where the download and failed pages compose their picture: their own,
    // so the render thread's pWorkBuffer never carries a download picture
    // into an install frame.
    std::vector<uint32_t> m_pageBuffer;  // m_paintLock

    // ---- Lifetime at exit (SetupDlg.cpp) --------------------------------
    // Lets go of every thread StopThreads could not join, so that a kept
    // (leaked) object's threads do not end the process at static destruction.
    void DetachThreads();
    // Starts the install or the uninstall worker as m_workerThread, after
    // joining a previous worker that has ended. False when one still runs,
    // or while another caller is joining the worker.
    bool StartWorker(unsigned (*proc)(SetupDlg*));
    // Joins the worker with m_workerLock released (the join answers sent
    // messages, whose handlers may take the lock); while it lasts
    // bWorkerJoining is set and no worker starts. True when none is left.
    bool JoinWorker(DWORD deadline);
    std::atomic<bool> bWorkerJoining{false};  // written under m_workerLock
    // Set once the close handler has begun; a second WM_CLOSE does nothing.
    std::atomic<bool> bClosing{false};

protected:
    // ---- What only the dialog and its product subclass read and write ----
    // The mouse's routing and the page layout (the window's thread).
    std::atomic<int> nLayout{0};  // 1 install layout, else uninstall layout
    std::atomic<int> bMouseCaptured{0};

    // The path texts and the choices handed to the roads: behind the
    // accessors above, guarded by m_textLock.
    std::mutex m_textLock;
    std::wstring strPackagePath;        // m_textLock
    std::wstring strInstallFolder;      // m_textLock
    bool bHasChoices = false;           // m_textLock
    InstallChoices installChoices;      // m_textLock
    bool bHasUninstallChoices = false;  // m_textLock
    UninstallChoices uninstallChoices;  // m_textLock

    // The road's box waiting for the window's thread, and the box while it
    // is up (OpenBoxOnWindowThread, CloseRoadBox).
    std::mutex m_boxLock;
    std::shared_ptr<BoxRequest> m_boxRequest;  // m_boxLock
    HWND m_roadBox = nullptr;                  // the window's thread only

    // Controls no other code reaches (made by CreateControls, never deleted).
    ButtonCtrlEx* pBtnBrowse = nullptr;
    StaticCtrl* pStaticUninstallPicture = nullptr;
    std::vector<CommonCtrl*> vecMouseCtrls;  // fixed after CreateControls
    CWndShadow dlgShadow;

    // The renderer's own buffers and slots (SoftwareRenderer.cpp).
    BMData bmReserved;  // the eighth picture slot, never loaded
    std::atomic<int> nWriteIndex{0};
    uint32_t* pDisplayBuffer = nullptr;  // painters only (under the paint lock)
    uint32_t* pBackground = nullptr;     // render thread only
    uint32_t* pRamp = nullptr;
    // One painter at a time: the paint thread and WM_PAINT on the
    // user-interface thread both run OnPaint, which takes this lock. It
    // guards pDisplayBuffer, m_pageBuffer, nReadIndex's hand-over and the
    // shown-speed sample.
    std::mutex m_paintLock;

    // Threads the dialog starts; StopThreads joins them.
    std::thread m_paintThread;
    std::thread m_reportThread;
    // Held only to take or put m_workerThread, never across a join.
    std::mutex m_workerLock;
    std::thread m_workerThread;  // m_workerLock; the install or the uninstall worker
};

// Process-wide values that belong with the dialog.
extern std::atomic<bool> g_bInstallPathChanged;
extern std::atomic<bool> g_bAppLaunched;
extern std::atomic<bool> g_bAutoStarted;
extern std::atomic<bool> g_bNoDownloadNeeded;
extern std::atomic<bool> g_bDownloadDone;
extern std::atomic<uint32_t> g_dwDownloadStartTick;
extern std::atomic<int32_t> g_nDownloadSeconds;
extern std::atomic<bool> g_bCreateDesktopIcon;
extern std::atomic<bool> g_bJoinUxProgram;
extern std::atomic<int32_t> g_nCountdown;
// The render thread: started once per process by the Install trigger and
// joined by StopThreads.
extern std::thread g_hRenderThread;

// Thread procedures.
unsigned PaintThreadProc(SetupDlg* dlg);
unsigned RenderThreadProc(SetupDlg* dlg);
unsigned InstallThreadProc(SetupDlg* dlg);
unsigned UninstallThreadProc(SetupDlg* dlg);
unsigned StartReportThreadProc(InstallStatsReporter* reporter);

// Ends the first running process of every product process name.
void KillProductProcesses();
// The same conversion as WideToNarrow.
void CopyWideToNarrow(std::string& out, const std::wstring& text);

// Renderer helpers on 0x00RRGGBB pixels.
double Distance(int32_t dx, int32_t dy);
int LerpChannel(int a, int b, double t);
uint32_t BlendColor(uint32_t a, uint32_t b, double t);

// The pre-install checks' figures (SetupDlgTrigger.cpp): the Windows-version
// bit that the product's supported-system mask is tested against, and the
// free MiB an install of archiveSize bytes into path needs.
int OsVersionBit(DWORD major, DWORD minor);
uint64_t NeededFreeSpaceMB(uint64_t archiveSize, const std::wstring& path);
// True when the running Windows is 7 or later and its version bit is in mask.
bool IsOsSupportedByMask(int mask);

// The folder below the installation folder where the pre-install step sets
// the product's helper files aside (SetupDlgProductSteps.cpp).
extern const wchar_t kSetAsideFolderName[];
// True when every file the install road writes below folder (the
// uninstaller's header file, the set-aside helper files, the product's
// executable) fits a path buffer of MAX_PATH characters (SetupDlgInstall.cpp).
bool InstallFolderFits(const std::wstring& folder);
// True when a change to wnd must be posted: a window another thread owns
// (SetupDlgRoadWindow.cpp). Without a window, or on its thread, the change is
// made at once.
bool OnOtherThread(HWND wnd);
