// The download engine over libcurl's easy interface: manifest loading, mirror
// probing, ranged transfers on threads of their own, a dispatcher, MD5
// verification with block repair, and the figures the installer reports.
//
// Locking. m_lock (engine-local) guards the items table and every item field
// that more than one thread touches, the URL lists, the links and the switch
// list. The named mutex "Download_File" (m_mutex, one handle per engine)
// guards the target stream, the written counter and the completion check.
// Order: the file lock may be held while taking m_lock, never the reverse.
// Events 3, 5 and 7 are sent with the file lock held but never with m_lock
// held, so a callback may call the getters or StopDownload.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "Handles.h"
#include "IDownloader.h"

class IXMLParse;

class DownloaderCurl : public IDownloader {
public:
    // Bounds of the probe requests: a mirror that accepts and never answers
    // must not hold up the installer.
    static constexpr long kProbeConnectTimeoutS = 10;
    static constexpr long kProbeTimeoutS = 15;
    static constexpr size_t kLoadProbeBodyLimit = 4096;
    // Dispatcher figures.
    static constexpr DWORD kDispatchIntervalMs = 2000;
    static constexpr DWORD kStallLimitMs = 6000;
    static constexpr double kStallCutOff = 0.9;
    static constexpr int64_t kSplitMinimum = 512000;
    static constexpr DWORD kRestartPauseMs = 20;
    static constexpr int64_t kBlockSize = 1048576;
    // Repairs of one block before the download fails.
    static constexpr int kRepairRoundsPerBlock = 3;
    // Bound of every join of an engine thread.
    static constexpr DWORD kThreadJoinMs = 30000;

    DownloaderCurl();
    ~DownloaderCurl() override;
    DownloaderCurl(const DownloaderCurl&) = delete;
    DownloaderCurl& operator=(const DownloaderCurl&) = delete;

    int StartWithConfigData(const char* text, int length, std::string targetPath) override;
    int StartWithConfigUrl(std::string url, std::string targetPath) override;
    int LoadConfigFile(std::wstring path, std::string targetPath) override;
    int BeginDownload(DownloadConfig& config) override;
    int StopDownload() override;
    bool IsDownloading() override { return m_downloading.load(); }
    int SetCallback(ProgressCallback& callback) override;
    int GetProgress(DownloadProgress* progress) override;
    DownloadState GetState() override { return static_cast<DownloadState>(m_state.load()); }
    void SetProxy(ProxyConfig& proxy) override;
    bool IsUsingFallback() override { return m_usingFallback.load(); }
    DownloadError GetErrorCode() override { return static_cast<DownloadError>(m_error.load()); }
    std::string GetErrorName() override { return GetDownloadErrorName(m_error.load()); }
    std::string GetLastFailLink() override;
    std::string GetRepairLink() override;
    int GetCurlError() override { return m_failCode.load(); }
    std::vector<UrlCfg> GetCheckedUrlList() override;
    std::vector<UrlCfg> GetUsedUrlList() override;
    double GetFallbackSizeKB() override;
    std::vector<HostSizeRecord> GetHostSizeList() override;
    std::vector<UrlSwitchRecord> GetUrlSwitchList() override;

    virtual int OnConfigDownloaded(DownloadItem* item);
    virtual int LoadConfigData(const char* text, int length);
    virtual int LoadConfig(boost::shared_ptr<IXMLParse> parser, std::string targetPath);
    virtual int CheckDownload(DownloadConfig& config);
    virtual int InitDownload();
    virtual int BeginDownloadItem(DownloadItem* item);

    // Probe requests, also used on their own.
    int64_t GetDownloadFileLenth(const char* url);
    bool GetNetworkNotFull(std::string url);
    std::string HttpGetText(std::string url);
    static bool ComparePing(const UrlCfg& a, const UrlCfg& b) { return a.pingMs < b.pingMs; }

    // Applies the proxy settings to a libcurl handle.
    void ApplyProxy(void* curl);
    // libcurl progress callback that ends a request once the std::atomic<bool>
    // it is given (the engine's stop flag) is set.
    static int AbortWhenStopped(void* stopped, int64_t, int64_t, int64_t, int64_t);
    // "%s:%s" of the two texts; exposed for tests.
    static std::string JoinPair(const std::string& a, const std::string& b) { return a + ":" + b; }

protected:
    friend struct DownloaderAccess;

    int NotifyCallback(int event, unsigned value, long extra);
    // keepDownloading: a start's own load keeps the flag set until its outcome.
    void ResetState(bool keepDownloading = false);
    // Sends the one final event of a start: state, downloading off, event.
    // False when the outcome was already sent.
    bool Finish(DownloadState state, int event, unsigned value, long extra);
    void SetError(DownloadError error) { m_error.store(error); }
    void CloseFile();
    // 1 verified, 0 not verified (bad blocks are repaired when allowed),
    // E_FAIL the file could not be read or hashed.
    int CheckHash(bool allowRepair = true);
    bool AnyTransferRunning();
    // The URL a repair of [first, last] would use, or null; no side effects.
    const char* ChooseRepairUrl(int64_t first, int64_t last, const std::set<std::string>& avoid,
                                std::string* coverUrl, bool* fallback);
    void CheckFinish(DownloadItem* item);
    int RepairData(int64_t first, int64_t last, const std::set<std::string>& avoid);
    const char* GetBestURL(const char* exclude);
    const char* GetBestURLAvoiding(const std::set<std::string>& avoid);
    int CountRunningItems();
    int FindLargestRunningItem();
    void DispatchLoop();
    void FinalCheck();
    // Enters a copy of the item under the next id and gives it its handle
    // at once, so the completion check never sees it idle. Under m_lock.
    DownloadItem* InsertItemLocked(const DownloadItem& item);
    void JoinThreads();
    bool WaitStop(DWORD ms);

    static unsigned __stdcall Download_Thread_Load_Cfg(void* arg);
    static unsigned __stdcall Download_Thread_Download_Cfg(void* arg);
    static unsigned __stdcall Download_Internal(void* arg);
    static unsigned __stdcall Download_Dispatch(void* arg);
    static size_t OnWriteData(char* data, size_t size, size_t count, void* item);
    static size_t OnHeaderData(char* data, size_t size, size_t count, void* item);
    static size_t OnConfigData(char* data, size_t size, size_t count, void* item);
    static int OnTransferProgress(void* item, double, double, double, double);
    size_t WriteAt(const char* data, size_t length, int64_t offset, bool* failed);
    bool AcceptReply(DownloadItem* item);
    void* NewTransferHandle(DownloadItem* item);

    ProgressCallback m_callback;
    std::mutex m_callbackLock;
    std::map<int, DownloadItem> m_items;
    DownloadConfig m_config;
    std::vector<UrlCfg> m_vecUrlCfg;
    FILE* m_file = nullptr;
    std::atomic<uint64_t> m_fileSize{0};
    std::atomic<uint64_t> m_written{0};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_downloading{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_state{E_State_Idle};
    DownloadItem m_cfgItem;
    char m_cfgUrl[kConfigUrlCapacity] = {};
    char m_cfgPath[kPathCapacity] = {};
    char m_targetPath[kPathCapacity] = {};
    UrlCfg m_fallback;
    std::atomic<bool> m_usingFallback{false};
    ProxyConfig m_proxy;
    std::atomic<int> m_error{E_Error_NoError};
    std::string m_lastFailLink;
    std::string m_repairLink;
    std::atomic<int> m_failCode{0};
    std::atomic<bool> m_repairing{false};
    std::vector<UrlCfg> m_checked;
    std::vector<UrlSwitchRecord> m_switches;

    // Not among the records: what makes the engine safe to share and stop.
    mutable std::mutex m_lock;
    UniqueHandle m_mutex;      // this engine's handle of "Download_File"
    UniqueHandle m_stopEvent;  // set by StopDownload and the destructor
    HANDLE m_loadThread = nullptr;   // manifest thread of the current start
    HANDLE m_dispatchThread = nullptr;
    std::atomic<bool> m_outcomeSent{false};
    std::atomic<bool> m_shutdown{false};  // the destructor runs: nothing may start
    std::atomic<uint32_t> m_startTick{0};
    // Per block: repair rounds so far and the URLs that gave it bad bytes.
    std::map<int64_t, int> m_repairRounds;
    std::map<int64_t, std::set<std::string>> m_badSources;
    std::map<std::string, int> m_urlBadBlocks;  // bad blocks each mirror wrote into
};
