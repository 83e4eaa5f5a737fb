// The analytics client: fetches this machine's client data object from the
// maker's analytics service, caches it in a file and in memory, and rewrites
// its visited-product list into the related products of the product family.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CurlHandle.h"
#include "JsonObject.h"

struct WebStatsConfig {
    std::string strAppId;        // "app_id"
    std::string strAppPlatform;  // "app_platform"
    std::string strEmail;        // "email"
    std::string strMachineId;    // "machine_id"
    std::string strDomain;       // "domain"
    std::string strCacheFolder;  // prefix of the cache file's path, no separator added
    int32_t eproduct = 0;        // product class that selects the related-product parser
    bool bSaveCache = false;     // write the cache file whenever the data changes

    // Base address of the analytics service ("https://host"), from the product
    // definition; the request paths are appended to it.
    std::string strServiceUrl;
    // No transfer of this client runs past this moment.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

typedef void (*WebStatsLogCallback)(const char* format, ...);

struct OptionTryData {
    int32_t nProductId = 0;
    std::string strProductName;
};

// Owned through a shared pointer made with the concrete class.
class IWebStatsManager {
public:
    virtual bool Init() = 0;
    virtual void SetLogCallback(WebStatsLogCallback callback) = 0;
    virtual void OnRegister(const std::string& email) = 0;
    // Starts the check thread and returns at once.
    virtual void CheckNewVersion() = 0;
    // A copy of the cached data text.
    virtual std::string GetData() = 0;
    virtual bool UploadOptionTryData(const OptionTryData& data) = 0;
    // Interrupts every thread of this client and waits for each to end: a
    // transfer in progress stops within about a second.
    virtual bool JoinThreads() = 0;
    // True when no check thread runs; waits at most 1 ms for a running one.
    virtual bool IsCheckFinished() = 0;

protected:
    ~IWebStatsManager() = default;
};

bool CreateWebStatsManager(const WebStatsConfig& config, std::shared_ptr<IWebStatsManager>& out);

// One JSON POST on its own libcurl handle.
class CurlPostSession {
public:
    CurlPostSession();
    ~CurlPostSession();
    CurlPostSession(const CurlPostSession&) = delete;
    CurlPostSession& operator=(const CurlPostSession&) = delete;

    // Up to three attempts, stopping at the first that completes; each attempt
    // starts with an empty reply. The HTTP status is not looked at.
    bool Post(const std::string& url, const std::string& body, std::string& reply,
              std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* cancel);
    const std::string& GetError() const { return error_; }

private:
    CurlEasy curl_;
    std::string error_;
};

class WebStatsManager final : public IWebStatsManager {
public:
    explicit WebStatsManager(const WebStatsConfig& config);
    ~WebStatsManager();
    WebStatsManager(const WebStatsManager&) = delete;
    WebStatsManager& operator=(const WebStatsManager&) = delete;

    bool Init() override;
    void SetLogCallback(WebStatsLogCallback callback) override;
    void OnRegister(const std::string& email) override;
    void CheckNewVersion() override;
    std::string GetData() override;
    bool UploadOptionTryData(const OptionTryData& data) override;
    bool JoinThreads() override;
    bool IsCheckFinished() override;

    bool PostJson(const std::string& body, std::string& reply, const std::string& url);
    bool PostUserInfo(std::string& reply);
    std::string GetTokenId();
    std::string GetCacheFilePath() const;
    bool LoadCacheFile();
    bool SaveCacheFile();
    // Replaces "download_info" of data by the related-product keys.
    void RewriteDownloadInfo(CJsonObject& data);

    // Per attempt; a check makes up to three.
    static constexpr std::chrono::seconds kConnectTimeout{5};
    static constexpr std::chrono::seconds kAttemptTimeout{10};
    // The cache file is the last client data object: a few KiB. A larger file is ignored.
    static constexpr size_t kMaxCacheFileBytes = 1024 * 1024;

private:
    struct Worker {
        std::thread thread;
        std::future<void> ended;
        std::mutex joinLock;  // whoever joins holds it
    };

    void Log(const char* format, ...);
    void Start(std::shared_ptr<Worker>& worker, void (WebStatsManager::*body)());
    static void Join(Worker& worker);
    void CheckThread();
    void RegisterThread();
    bool Interrupted() const { return interrupted_.load(); }
    void SetData(const std::string& text);

    WebStatsConfig config_;
    std::mutex configLock_;  // the e-mail can change while the registration thread reads it
    std::string strData_;    // guarded by the process-wide data lock
    std::atomic<WebStatsLogCallback> logCallback_{nullptr};
    std::atomic<bool> interrupted_{false};
    std::mutex workersLock_;
    std::vector<std::shared_ptr<Worker>> workers_;
    std::shared_ptr<Worker> current_;  // the current check thread
};
