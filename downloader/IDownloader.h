// The download engine's interface and the records it shares with its callers.
//
// libcurl must be initialised once per process (curl_global_init) before the
// first engine is created and before any other thread runs.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// (event, value, extra); the result is ignored by the engine.
using ProgressCallback = std::function<int(int, unsigned, long)>;

enum DownloadEvent {
    E_Download_Progress = 3,    // bytes written (low 32 bits), file size
    E_Download_Fail = 4,        // bytes written or 0, file size or 0
    E_Download_Succeed = 5,     // bytes written or 0, file size or 1
    E_Download_ItemFinish = 7,  // item id, item address
};

enum DownloadState {
    E_State_Idle = 0,
    E_State_NeedUpdate = 3,
    E_State_Fail = 4,
    E_State_Succeed = 5,
};

enum DownloadError {
    E_Error_NoError = 0,
    E_Error_NoNeedDownload = 1,
    E_Error_NeedUpdateDownload = 2,
    E_Error_ConfigDownloadError = 3,
    E_Error_ConfigLoadError = 4,
    E_Error_ConfigLoadVersionError = 5,
    E_Error_ConfigLoadFileSizeError = 6,
    E_Error_ConfigLoadUrlSizeError = 7,
    E_Error_ConfigLoadUrlError = 8,
    E_Error_ConfigLoadHashSizeError = 9,
    E_Error_ConfigLoadHashError = 10,
    E_Error_DownloadCheckUrlError = 11,
    E_Error_DownloadMallocError = 12,
    E_Error_DownloadUrlCountError = 13,
    E_Error_DownloadExeError = 14,
    E_Error_DispatchSuccessError = 15,
    E_Error_DispatchFailError = 16,
    E_Error_DispatchTimeoutError = 17,
    E_Error_RepairSuccessError = 18,
    E_Error_RepairFailError = 19,
    E_Error_RepairTimeoutError = 20,
    E_Error_CheckHashError = 21,
};

enum DownloadItemStatus {
    E_Status_Runing = 0,
    E_Status_StopByDispatch = 1,
    E_Status_Fail = 2,
    E_Status_Succeed = 3,
    E_Status_Replaced = 4,  // a failed item whose rest was restarted as a new item
};

enum UrlSwitchReason {
    E_Switch_Repair = 0,
    E_Switch_Timeout = 1,
    E_Switch_Fail = 2,
    E_Switch_Split = 3,
};

constexpr size_t kUrlCapacity = 1040;          // URL text with its NUL
constexpr size_t kPathCapacity = 260;          // narrow path with its NUL
constexpr size_t kConfigUrlCapacity = 520;     // manifest URL with its NUL
constexpr int kMaxManifestUrls = 10;

// One manifest URL with its probe results.
struct UrlCfg {
    char url[kUrlCapacity] = {};
    bool valid = false;
    uint32_t pingMs = 0;
    bool networkNotFull = false;
    std::string host;
    bool pingOk = false;
    int64_t cfgSize = 0;
    int64_t webSize = 0;
};

// The parsed manifest handed to BeginDownload.
struct DownloadConfig {
    char targetPath[kPathCapacity] = {};
    int32_t fileSize = 0;
    UrlCfg urls[kMaxManifestUrls];
    std::string fileHash;
    std::vector<std::string> blockHashes;
    int32_t connectionsPerUrl = 0;
};

struct ProxyConfig {
    int32_t enabled = 0;
    int32_t type = 0;  // 0 HTTP, 1 SOCKS5, else no proxy options
    std::string host, port;
    std::string user, password;
};

struct HostSizeRecord {
    std::string host;
    int64_t sizeKB = 0;
};

struct UrlSwitchRecord {
    std::string host;
    int32_t reason = 0;  // UrlSwitchReason
};

class DownloaderCurl;

// One transfer of one byte range [start, end], written from pos on.
struct DownloadItem {
    int32_t id = 0;
    int64_t start = 0;
    int64_t pos = 0;
    int64_t end = 0;
    const char* url = nullptr;  // the mirror's URL text, kept alive by urlText
    void* curl = nullptr;       // libcurl easy handle while the transfer runs
    int result = 0;
    FILE* file = nullptr;
    DownloaderCurl* owner = nullptr;
    HANDLE thread = nullptr;
    uint32_t lastDataTick = 0;
    uint32_t startTick = 0;
    uint32_t endTick = 0;
    uint32_t speed = 0;
    int32_t status = E_Status_Runing;
    // Not among the records. The URL text url points into, shared by every
    // copy, so a copy (GetProgress) stays readable after the engine is gone.
    std::shared_ptr<const std::string> urlText;
    // The reply is looked at (status, Content-Range) before its first byte
    // is written; a reply for other bytes than the range's is refused.
    bool replyChecked = false;
    bool replyOk = false;
    int64_t replyStart = -1;  // first byte named by Content-Range, -1 without one
    int retries = 0;          // starts of this range in a row that received no byte

    void SetUrl(std::shared_ptr<const std::string> text) {
        urlText = std::move(text);
        url = urlText ? urlText->c_str() : nullptr;
    }
};

struct DownloadProgress {
    int32_t connections = 0;
    uint64_t fileSize = 0;
    uint64_t written = 0;
    // A copy; its URL texts are its own, so it may be read after the engine
    // is released (its handles and streams are only values then).
    std::map<int, DownloadItem> items;
};

class IDownloader {
public:
    virtual ~IDownloader() = default;
    virtual int StartWithConfigData(const char* text, int length, std::string targetPath) = 0;
    virtual int StartWithConfigUrl(std::string url, std::string targetPath) = 0;
    virtual int LoadConfigFile(std::wstring path, std::string targetPath) = 0;
    virtual int BeginDownload(DownloadConfig& config) = 0;
    virtual int StopDownload() = 0;
    virtual bool IsDownloading() = 0;
    virtual int SetCallback(ProgressCallback& callback) = 0;
    virtual int GetProgress(DownloadProgress* progress) = 0;
    virtual DownloadState GetState() = 0;
    virtual void SetProxy(ProxyConfig& proxy) = 0;
    virtual bool IsUsingFallback() = 0;
    virtual DownloadError GetErrorCode() = 0;
    virtual std::string GetErrorName() = 0;
    virtual std::string GetLastFailLink() = 0;
    virtual std::string GetRepairLink() = 0;
    virtual int GetCurlError() = 0;
    virtual std::vector<UrlCfg> GetCheckedUrlList() = 0;
    virtual std::vector<UrlCfg> GetUsedUrlList() = 0;
    virtual double GetFallbackSizeKB() = 0;
    virtual std::vector<HostSizeRecord> GetHostSizeList() = 0;
    virtual std::vector<UrlSwitchRecord> GetUrlSwitchList() = 0;
};

// 1 and a new engine in *out; 0 for a null argument.
int CreateDownloader(IDownloader** out);
// Destroys the engine on a thread of its own and returns 1 at once.
int ReleaseDownloaderAsync(IDownloader* downloader);

// Name of an item status 0..3; "" for any other value or a null pointer.
const char* GetItemStatusName(const int32_t* status);
// Name of an error code, or its decimal text for an unknown value.
std::string GetDownloadErrorName(int code);
// The text between the scheme prefix and "/download/", or "".
std::string ExtractUrlHost(std::string url);
// True when the URL contains one of the fallback-host markers.
bool IsFallbackHost(std::string url);
// The fallback-host markers, in order; the first is the fallback mirror's host.
const std::vector<std::string>& FallbackHostMarkers();
