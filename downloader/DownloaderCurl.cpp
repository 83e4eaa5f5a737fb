// Records, names, URL helpers, the factory, reset, events, proxy and figures.
#include "DownloaderCurl.h"

#include <process.h>

#include <curl/curl.h>

#include <cstring>

#include "AutoMutex.h"
#include "CurlHandle.h"
#include "Log.h"

namespace {

const char* const kErrorNames[] = {
    "NoError",
    "NoNeedDownload",
    "NeedUpdateDownload",
    "ConfigDownloadError",
    "ConfigLoadError",
    "ConfigLoadVersionError",
    "ConfigLoadFileSizeError",
    "ConfigLoadUrlSizeError",
    "ConfigLoadUrlError",
    "ConfigLoadHashSizeError",
    "ConfigLoadHashError",
    "DownloadCheckUrlError",
    "DownloadMallocError",
    "DownloadUrlCountError",
    "DownloadExeError",
    "DispatchSuccessError",
    "DispatchFailError",
    "DispatchTimeoutError",
    "RepairSuccessError",
    "RepairFailError",
    "RepairTimeoutError",
    "CheckHashError",
};

const char* const kStatusNames[] = {"E_Status_Runing", "E_Status_StopByDispatch", "E_Status_Fail", "E_Status_Succeed"};

unsigned __stdcall ReleaseThread(void* arg) {
    delete static_cast<IDownloader*>(arg);
    return 0;
}

}  // namespace

const char* GetItemStatusName(const int32_t* status) {
    if (!status || *status < 0 || *status > 3) return "";
    return kStatusNames[*status];
}

std::string GetDownloadErrorName(int code) {
    if (code >= 0 && code < static_cast<int>(sizeof(kErrorNames) / sizeof(kErrorNames[0]))) return kErrorNames[code];
    return std::to_string(code);
}

const std::vector<std::string>& FallbackHostMarkers() {
    static const std::vector<std::string> markers = {"cdn.tarvexcloud.net", "tvxcdn", "dl.tarvex.com"};
    return markers;
}

bool IsFallbackHost(std::string url) {
    for (const auto& marker : FallbackHostMarkers())
        if (url.find(marker) != std::string::npos) return true;
    return false;
}

std::string ExtractUrlHost(std::string url) {
    size_t scheme = url.find("https://");
    size_t prefix = 8;
    if (scheme == std::string::npos) {
        scheme = url.find("http://");
        prefix = 7;
    }
    size_t path = url.find("/download/");
    if (scheme == std::string::npos || path == std::string::npos || path < scheme + prefix) return "";
    return url.substr(scheme + prefix, path - scheme - prefix);
}

int CreateDownloader(IDownloader** out) {
    if (!out) return 0;
    *out = new (std::nothrow) DownloaderCurl;
    return *out ? 1 : 0;
}

int ReleaseDownloaderAsync(IDownloader* downloader) {
    if (!downloader) return 1;
    uintptr_t thread = _beginthreadex(nullptr, 0, ReleaseThread, downloader, 0, nullptr);
    if (thread)
        CloseHandle(reinterpret_cast<HANDLE>(thread));  // the thread runs on; its handle is not needed
    else
        delete downloader;  // no thread: release here rather than leak
    return 1;
}

void DeferredLog::Add(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    lines_.emplace_back(buffer);
}

void DeferredLog::Flush() {
    for (const std::string& line : lines_) WriteLog("%s", line.c_str());
    lines_.clear();
}

// The file mutex is made with the engine, not by the transfer start on the
// manifest thread, so a stop from another thread never reads the handle
// while it is being set.
DownloaderCurl::DownloaderCurl()
    : m_mutex(CreateDownloadFileMutex()), m_stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

int DownloaderCurl::NotifyCallback(int event, unsigned value, long extra) {
    // Under the file lock, which StopDownload takes to set the stop: an event
    // either runs before the stop or not at all.
    AutoMutex lock(m_mutex.get());
    if (!lock.locked()) {
        WriteLog("Download_NotifyCallback : event(%d) dropped, the file lock is held elsewhere.\n", event);
        return 0;
    }
    return SendEvent(event, value, extra);
}

int DownloaderCurl::SendEvent(int event, unsigned value, long extra) {
    if (m_stopped || m_shutdown) return 0;
    ProgressCallback callback;
    {
        std::lock_guard<std::mutex> guard(m_callbackLock);
        callback = m_callback;
    }
    if (!callback) return 0;
    return callback(event, value, extra);
}

bool DownloaderCurl::ResetState(bool fromCaller) {
    bool lockHeld = true;
    if (fromCaller && !m_shutdown) {
        // The reset touches flags only, never the stream: without the lock it
        // still happens, and the caller's start then fails instead of going on.
        AutoMutex lock(m_mutex.get());
        lockHeld = lock.locked();
        m_stopped = false;
        if (m_stopEvent) ResetEvent(m_stopEvent.get());
        m_downloading = false;
    }
    m_written = 0;
    m_failCode = 0;
    m_error = E_Error_NoError;
    m_repairing = false;
    m_state = E_State_Idle;
    m_outcomeSent = false;
    m_fileLockLost = !lockHeld;
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastFailLink.clear();
    m_repairLink.clear();
    m_switches.clear();
    m_failuresInRow.clear();
    m_repairRounds.clear();
    m_urlBadBlocks.clear();
    return lockHeld;
}

bool DownloaderCurl::Finish(DownloadState state, int event, unsigned value, long extra) {
    // Once a wait for the lock has passed its bound, the outcome only tries
    // for it: it touches no stream, and the caller waits for it.
    AutoMutex lock(m_mutex.get(), m_fileLockLost ? 0 : AutoMutex::WaitLimit());
    if (!lock.locked()) WriteLog("Download_Finish : event(%d) sent without the file lock.\n", event);
    // A stopped start ends without an outcome; its state stays as it was.
    if (m_stopped || m_shutdown) return false;
    bool expected = false;
    if (!m_outcomeSent.compare_exchange_strong(expected, true)) return false;
    m_state = state;
    m_downloading = false;
    SendEvent(event, value, extra);
    return true;
}

void DownloaderCurl::FailForFileLock(const char* where) {
    WriteLog("%s : the file lock was not had within %lu ms, the download fails.\n", where,
             static_cast<unsigned long>(AutoMutex::WaitLimit()));
    m_fileLockLost = true;
    if (m_outcomeSent || m_stopped) return;
    SetError(E_Error_CheckHashError);
    Finish(E_State_Fail, E_Download_Fail, static_cast<unsigned>(m_written.load()), static_cast<long>(m_fileSize.load()));
}

int DownloaderCurl::AbortWhenStopped(void* stopped, int64_t, int64_t, int64_t, int64_t) {
    return static_cast<std::atomic<bool>*>(stopped)->load() ? 1 : 0;
}

void DownloaderCurl::ApplyProxy(void* handle) {
    CURL* curl = static_cast<CURL*>(handle);
    if (!curl || !m_proxy.enabled) return;
    if (m_proxy.type == 0)
        curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    else if (m_proxy.type == 1)
        curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_SOCKS5));
    else
        return;
    // libcurl copies option strings, so temporaries of any length are fine.
    std::string proxy = JoinPair(m_proxy.host, m_proxy.port);
    std::string credentials = JoinPair(m_proxy.user, m_proxy.password);
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, credentials.c_str());
}

int DownloaderCurl::SetCallback(ProgressCallback& callback) {
    std::lock_guard<std::mutex> guard(m_callbackLock);
    m_callback = callback;
    return m_callback ? 0 : E_POINTER;
}

void DownloaderCurl::SetProxy(ProxyConfig& proxy) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_proxy = proxy;
}

int DownloaderCurl::GetProgress(DownloadProgress* progress) {
    if (!progress) return E_POINTER;
    progress->connections = m_connections;
    progress->fileSize = m_fileSize;
    progress->written = m_written;
    std::lock_guard<std::mutex> guard(m_lock);
    progress->items = m_items;
    return 0;
}

std::string DownloaderCurl::GetLastFailLink() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastFailLink;
}

std::string DownloaderCurl::GetRepairLink() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_repairLink;
}

std::vector<UrlCfg> DownloaderCurl::GetCheckedUrlList() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_checked;
}

std::vector<UrlCfg> DownloaderCurl::GetUsedUrlList() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_vecUrlCfg;
}

std::vector<UrlSwitchRecord> DownloaderCurl::GetUrlSwitchList() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_switches;
}

double DownloaderCurl::GetFallbackSizeKB() {
    std::lock_guard<std::mutex> guard(m_lock);
    double total = 0;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        if (item.url && IsFallbackHost(item.url)) total += static_cast<double>(item.pos - item.start) / 1024;
    }
    return total;
}

std::vector<HostSizeRecord> DownloaderCurl::GetHostSizeList() {
    double fallbackKB = GetFallbackSizeKB();
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<HostSizeRecord> records;
    for (const UrlCfg& cfg : m_vecUrlCfg) {
        if (cfg.host.empty()) continue;
        HostSizeRecord record;
        record.host = cfg.host;
        if (IsFallbackHost(cfg.url)) {
            record.sizeKB = static_cast<int64_t>(fallbackKB);
        } else {
            // Hosts are compared whole: 127.0.0.2 is not part of 127.0.0.20.
            double kb = 0;
            for (const auto& entry : m_items) {
                const DownloadItem& item = entry.second;
                if (item.url && ExtractUrlHost(item.url) == cfg.host)
                    kb += static_cast<double>(item.pos - item.start) / 1024;
            }
            record.sizeKB = static_cast<int64_t>(kb);
        }
        records.push_back(record);
    }
    return records;
}
