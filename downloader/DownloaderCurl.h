// The download engine over libcurl's easy interface: manifest loading, mirror
// probing, ranged transfers on threads of their own, a dispatcher, MD5
// verification with block repair, and the figures the installer reports.
//
// Threads. The caller's thread starts, stops, polls and reads figures. A start
// runs on the manifest thread (loading, probing, the transfer start), then on
// one thread per range and the dispatcher thread. Every thread the engine
// starts is joined by JoinThreads, which a new start and the destructor call.
//
// Locks. m_lock (engine-local) guards the items table and the item fields that
// several threads touch, the URL lists, the fallback mirror, the links, the
// switch list, the proxy and the dispatcher's bookkeeping. The named mutex
// "Download_File" (m_mutex, one handle per engine; the file lock) guards the
// target stream, the written counter, the completion check and the sending of
// events: StopDownload takes it too, so once it returns no event can follow.
// Order: the file lock may be held while taking m_lock, never the reverse.
// Nothing is logged and no callback runs while m_lock is held; events run with
// the file lock held (a callback may call the getters or StopDownload).
//
// Outcome. Every start ends in exactly one event 4 or 5 (Finish), or in none
// when it was stopped.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "BlockDigests.h"
#include "Handles.h"
#include "IDownloader.h"

class IXMLParse;

// Log lines held back while a lock is held, or until they can be written in
// their order; written by Flush or at destruction. Declared before a lock
// guard, it writes after the lock is released.
class DeferredLog {
public:
    DeferredLog() = default;
    ~DeferredLog() { Flush(); }
    DeferredLog(const DeferredLog&) = delete;
    DeferredLog& operator=(const DeferredLog&) = delete;
    DeferredLog(DeferredLog&&) = default;

    void Add(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
    void Flush();

private:
    std::vector<std::string> lines_;
};

class DownloaderCurl : public IDownloader {
public:
    // Bounds of the probe requests: a mirror that accepts and never answers
    // must not hold up the installer. Mirrors answer HEAD at once.
    static constexpr long kProbeConnectTimeoutS = 5;
    static constexpr long kHeadTimeoutS = 5;
    static constexpr long kLoadProbeTimeoutS = 15;
    static constexpr size_t kLoadProbeBodyLimit = 4096;
    // Dispatcher figures.
    static constexpr DWORD kDispatchIntervalMs = 2000;
    static constexpr DWORD kStallLimitMs = 6000;
    static constexpr double kStallCutOff = 0.9;
    static constexpr int64_t kSplitMinimum = 512000;
    static constexpr DWORD kRestartPauseMs = 20;
    static constexpr int64_t kBlockSize = 1048576;
    // A range started again this many times in a row without receiving a
    // byte ends the download; a range that has no other mirror is retried on
    // its own after at least kOwnRetryPauseMs.
    static constexpr int kRangeRetries = 4;
    static constexpr DWORD kOwnRetryPauseMs = 1000;
    // A mirror whose transfers failed this many times in a row without a
    // byte gets no other range until one of its transfers delivers.
    static constexpr int kMirrorFailuresInRow = 2;
    // Repairs of one block before the download fails.
    static constexpr int kRepairRoundsPerBlock = 3;
    // Bound of every join of an engine thread.
    static constexpr DWORD kThreadJoinMs = 30000;
    // libcurl's receive buffer for range transfers: fewer, larger blocks
    // through the file lock.
    static constexpr long kTransferBufferSize = 512 * 1024;

    DownloaderCurl();
    ~DownloaderCurl() override;
    DownloaderCurl(const DownloaderCurl&) = delete;
    DownloaderCurl& operator=(const DownloaderCurl&) = delete;

    // The target path of every start is UTF-8 text; the files are opened by
    // their wide path.
    int StartWithConfigData(const char* text, int length, std::string targetPath) override;
    int StartWithConfigUrl(std::string url, std::string targetPath) override;
    // Refused (kBusy) while a download runs.
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

    // Result of a start or load asked while a download runs.
    static constexpr int kBusy = static_cast<int>(0x800700AAL);  // HRESULT of ERROR_BUSY

    // Probe requests, also used on their own (each logs its own line).
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
    // What the dispatcher does with one item in one pass, decided under m_lock
    // and carried out after it: enter fresh, pause, give old its status, start fresh.
    struct DispatchAction {
        DownloadItem* fresh = nullptr;
        DownloadItem* old = nullptr;
        int32_t oldStatus = E_Status_Runing;
        bool fail = false;  // the download cannot go on
    };
    // A part of a bad block to fetch again and the mirrors whose bytes are in it.
    struct RepairPiece {
        int64_t first, last;
        std::set<std::string> writers;
    };

    // Sends an event unless the engine was stopped or is being destroyed.
    int NotifyCallback(int event, unsigned value, long extra);
    int SendEvent(int event, unsigned value, long extra);  // the same, the file lock held or given up
    // fromCaller: a start or load asked by the caller, which also clears the
    // stop; the resets of a start's own threads keep the stop and the
    // downloading flag, so a stop is never undone. False when the file lock
    // could not be had for a caller's reset: the start must not go on.
    bool ResetState(bool fromCaller);
    // The file lock was held elsewhere past its bound: whatever where was
    // about to do to the stream is not done, and the download fails.
    void FailForFileLock(const char* where);
    // Sends the one final event of a start: state, downloading off, event.
    // False when the outcome was already sent or the engine was stopped.
    bool Finish(DownloadState state, int event, unsigned value, long extra);
    void SetError(DownloadError error) { m_error.store(error); }
    void CloseFile();
    bool Busy() const { return m_downloading.load(); }

    // Loading without the caller's checks, for the engine's own threads.
    int LoadManifestFile(const std::wstring& path, const std::string& targetPath);
    int StartTransfer(DownloadConfig& config);

    // Probing of one URL slot; its log lines go to log.
    int64_t HeadSize(const char* url, DeferredLog& log);
    bool AcceptsLoad(const std::string& url, DeferredLog& log);
    void ProbeSlot(int slot, UrlCfg& u, int64_t fileSize, bool fallbackSlot, DeferredLog& log);

    // 1 verified, 0 not verified (bad blocks are repaired when allowed),
    // E_FAIL the file could not be read or hashed.
    int CheckHash(bool allowRepair = true);
    // As CheckHash, without repairs; the blocks that differ go to bad (none
    // when the manifest's blocks do not describe the file).
    int FindBadBlocks(std::vector<size_t>& bad);
    // The parts of the bad blocks to fetch again; false (and the error set)
    // when a block has used its repairs or no mirror can take a part.
    bool PlanRepairs(const std::vector<size_t>& bad, std::vector<RepairPiece>& pieces);
    bool AnyTransferRunning();
    void CheckFinish(DownloadItem* item);
    // The parts of bad block [first, last] to fetch again: the whole block
    // when a live mirror (or the fallback) wrote none of its bytes, else each
    // part written by one set of mirrors, to come from a mirror outside it.
    std::vector<RepairPiece> PlanBlockRepairLocked(int64_t first, int64_t last);
    // A live mirror (else the fallback) that wrote none of writers' bytes, or null.
    const char* CleanRepairUrlLocked(const std::set<std::string>& writers, bool* fallback);
    // The URL for a repair of bytes written by writers: a clean one, else the
    // live mirror seen in the fewest bad blocks; null when there is none.
    const char* ChooseRepairUrlLocked(const std::set<std::string>& writers, bool* fallback);
    int RepairData(int64_t first, int64_t last, const std::set<std::string>& writers);

    // GetBestURL, CountRunningItems and FindLargestRunningItem: callers hold m_lock.
    const char* GetBestURL(const char* exclude);
    // The URL of the fastest range outside avoid whose mirror is not passed
    // over, or null.
    const char* FastestUrlLocked(const std::set<std::string>& avoid) const;
    int CountRunningItems();
    int FindLargestRunningItem();
    void DispatchLoop();
    void DispatchItem(int id);
    // One function per decision of a pass, each under m_lock.
    void RestartFailedLocked(DownloadItem& item, uint32_t now, DispatchAction& action, DeferredLog& log);
    void MoveStalledLocked(DownloadItem& item, uint32_t now, DispatchAction& action);
    void SplitForFreeSlotLocked(const DownloadItem& finished, uint32_t now, DispatchAction& action);
    // The best URL away from exclude, else the fallback mirror (recording a
    // switch for recordHost), else null.
    const char* ChooseTargetLocked(const char* exclude, UrlSwitchReason reason, const char* recordUrl);
    bool MirrorBenchedLocked(const char* url) const;
    void FinalCheck();
    // Enters a copy of the item under the next id and gives it its handle
    // at once, so the completion check never sees it idle.
    DownloadItem* InsertItemLocked(const DownloadItem& item);
    // The engine's one copy of a URL text, which items share.
    std::shared_ptr<const std::string> UrlTextLocked(const char* url);
    // Records how a transfer ended for its mirror's failure count.
    void NoteTransferEndLocked(const DownloadItem& item);
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
    bool AcceptReplyLocked(DownloadItem* item, DeferredLog& log);
    void SetConfigTransferOptions(void* curl, DownloadItem* item);

    ProgressCallback m_callback;           // m_callbackLock
    std::mutex m_callbackLock;
    std::map<int, DownloadItem> m_items;   // m_lock
    // Written by the transfer start on the manifest thread before any range
    // runs; read only afterwards.
    DownloadConfig m_config;
    std::wstring m_targetWide;  // m_config's target path, to open the file by
    std::vector<UrlCfg> m_vecUrlCfg;       // m_lock
    UniqueFile m_file;                     // file lock
    std::atomic<uint64_t> m_fileSize{0};
    std::atomic<uint64_t> m_written{0};    // changed under the file lock
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_downloading{false};
    std::atomic<bool> m_stopped{false};    // set under the file lock
    std::atomic<int> m_state{E_State_Idle};
    DownloadItem m_cfgItem;                // m_lock
    // Set by a start on the caller's thread before its threads run; read only afterwards.
    char m_cfgUrl[kConfigUrlCapacity] = {};
    char m_cfgPath[kPathCapacity] = {};
    char m_targetPath[kPathCapacity] = {};
    UrlCfg m_fallback;                     // m_lock
    std::atomic<bool> m_usingFallback{false};
    ProxyConfig m_proxy;                   // m_lock
    std::atomic<int> m_error{E_Error_NoError};
    std::string m_lastFailLink;            // m_lock
    std::string m_repairLink;              // m_lock
    std::atomic<int> m_failCode{0};
    std::atomic<bool> m_repairing{false};
    std::vector<UrlCfg> m_checked;         // m_lock
    std::vector<UrlSwitchRecord> m_switches;  // m_lock

    // Not among the records: what makes the engine safe to share and stop.
    mutable std::mutex m_lock;
    UniqueHandle m_mutex;      // this engine's handle of "Download_File"; set at construction
    UniqueHandle m_stopEvent;  // set by StopDownload and the destructor; set at construction
    HANDLE m_loadThread = nullptr;      // m_lock: manifest thread of the current start
    HANDLE m_dispatchThread = nullptr;  // m_lock
    std::atomic<bool> m_outcomeSent{false};  // changed under the file lock, or once it was lost
    // A wait for the file lock passed its bound during this start: the
    // outcome goes out without waiting for the lock a second time.
    std::atomic<bool> m_fileLockLost{false};
    std::atomic<bool> m_shutdown{false};     // the destructor runs: nothing may start
    // m_lock: the dispatcher's and the repair's bookkeeping.
    std::map<std::string, std::shared_ptr<const std::string>> m_urlTexts;
    std::map<std::string, int> m_failuresInRow;  // per mirror URL, transfers without a byte
    std::map<int64_t, int> m_repairRounds;       // per bad block
    std::map<std::string, int> m_urlBadBlocks;   // bad blocks each mirror wrote into
    BlockDigests m_blockDigests;  // its own lock; reset by InitDownload before any range runs
};
