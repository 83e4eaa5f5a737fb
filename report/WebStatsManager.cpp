#include <winsock2.h>  // before windows.h, as libcurl needs it

#include "WebStatsManager.h"

#include <windows.h>

#include <curl/curl.h>

#include <cstdarg>
#include <cstdio>

#include "HttpTransfer.h"
#include "JFile.h"
#include "RelatedProductParser.h"
#include "Text.h"

namespace {

// Shared by every client of the process: one guards the cache file, the other
// the cached data text. The two are never held together. Never destroyed: a
// report thread may still hold one while the process exits.
std::mutex& CacheFileLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::mutex& DataLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

const char kCacheFileName[] = "5d0c6f2e-8a4b-4c71-9e3d-b27f14a6c958";

// The text as the inside of a JSON string, escaped by the JSON printer: a
// one-element array prints as ["..."].
std::string JsonEscape(const std::string& text) {
    CJsonObject array;
    array.Add(text);
    std::string printed = array.ToString();
    return printed.size() >= 4 ? printed.substr(2, printed.size() - 4) : std::string();
}

}  // namespace

bool CreateWebStatsManager(const WebStatsConfig& config, std::shared_ptr<IWebStatsManager>& out) {
    out = std::make_shared<WebStatsManager>(config);
    return out != nullptr;
}

// ---------------------------------------------------------------------------

CurlPostSession::CurlPostSession() : curl_(MakeCurlEasy()) {}

CurlPostSession::~CurlPostSession() = default;

bool CurlPostSession::Post(const std::string& url, const std::string& body, std::string& reply,
                           std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* cancel) {
    CURL* curl = curl_.get();
    if (!curl) {
        error_ = "curl_easy_init failed";
        return false;
    }
    report_http::TransferLimits limits;
    limits.connectTimeoutMs = static_cast<long>(WebStatsManager::kConnectTimeout.count() * 1000);
    limits.totalTimeoutMs = static_cast<long>(WebStatsManager::kAttemptTimeout.count() * 1000);
    limits.deadline = deadline;
    limits.cancel = cancel;

    CurlList headers;
    AppendCurlList(headers, "Content-Type: application/json");
    AppendCurlList(headers, "charsets: utf-8");
    SetBaseOptions(curl, url.c_str(), &AppendToString, &reply);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "utilities");

    CURLcode result = CURLE_OK;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // What a failed attempt received must not join the next reply.
        reply.clear();
        report_http::TransferGuard guard(limits);
        if (!guard.Apply(curl)) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        result = curl_easy_perform(curl);
        if (result == CURLE_OK) break;
        if (cancel && cancel->load()) break;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);  // the list goes with this call
    if (result != CURLE_OK) {
        reply.clear();
        error_ = curl_easy_strerror(result);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------

WebStatsManager::WebStatsManager(const WebStatsConfig& config) : config_(config) { LoadCacheFile(); }

WebStatsManager::~WebStatsManager() {
    // No thread may outlive the object it works on.
    JoinThreads();
}

bool WebStatsManager::Init() { return true; }

void WebStatsManager::SetLogCallback(WebStatsLogCallback callback) { logCallback_ = callback; }

void WebStatsManager::Log(const char* format, ...) {
    WebStatsLogCallback callback = logCallback_.load();
    if (!callback) return;
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    callback("%s", text);
}

void WebStatsManager::Start(std::shared_ptr<Worker>& worker, void (WebStatsManager::*body)()) {
    worker = std::make_shared<Worker>();
    std::promise<void> ended;
    worker->ended = ended.get_future();
    worker->thread = std::thread([this, body, ended = std::move(ended)]() mutable {
        try {
            (this->*body)();
        } catch (...) {
            // a worker's failure ends only the worker
        }
        ended.set_value();
    });
}

void WebStatsManager::Join(Worker& worker) {
    std::lock_guard<std::mutex> guard(worker.joinLock);
    if (worker.thread.joinable()) worker.thread.join();
}

void WebStatsManager::CheckNewVersion() {
    std::shared_ptr<Worker> worker;
    Start(worker, &WebStatsManager::CheckThread);
    std::lock_guard<std::mutex> guard(workersLock_);
    current_ = worker;
    workers_.push_back(worker);
}

bool WebStatsManager::IsCheckFinished() {
    std::shared_ptr<Worker> worker;
    {
        std::lock_guard<std::mutex> guard(workersLock_);
        worker = current_;
    }
    if (!worker) return true;
    {
        std::lock_guard<std::mutex> guard(worker->joinLock);
        if (!worker->thread.joinable()) return true;
    }
    if (worker->ended.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) return false;
    Join(*worker);
    return true;
}

bool WebStatsManager::JoinThreads() {
    interrupted_ = true;
    std::vector<std::shared_ptr<Worker>> workers;
    {
        std::lock_guard<std::mutex> guard(workersLock_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) Join(*worker);
    return true;
}

std::string WebStatsManager::GetData() {
    std::lock_guard<std::mutex> guard(DataLock());
    return strData_;
}

void WebStatsManager::SetData(const std::string& text) {
    std::lock_guard<std::mutex> guard(DataLock());
    strData_ = text;
}

bool WebStatsManager::PostJson(const std::string& body, std::string& reply, const std::string& url) {
    CurlPostSession session;
    if (session.Post(url, body, reply, config_.deadline, &interrupted_)) return true;
    Log("error curl post: %s\n", session.GetError().c_str());
    return false;
}

bool WebStatsManager::PostUserInfo(std::string& reply) {
    WebStatsConfig config;
    {
        std::lock_guard<std::mutex> guard(configLock_);
        config = config_;
    }
    std::string body = "{\"machine_id\":\"" + JsonEscape(config.strMachineId) + "\", \"email\":\"" +
                       JsonEscape(config.strEmail) + "\", \"domain\":\"" + JsonEscape(config.strDomain) +
                       "\", \"app_id\":\"" + JsonEscape(config.strAppId) + "\", \"app_platform\":\"" +
                       JsonEscape(config.strAppPlatform) + "\"}";
    return PostJson(body, reply, config.strServiceUrl + "/v2/client/userinfo");
}

void WebStatsManager::CheckThread() {
    std::string reply;
    if (!PostUserInfo(reply)) return;
    if (Interrupted()) return;

    CJsonObject json(reply);
    int32_t cscode = -1;
    if (!json.Get("cscode", cscode) || cscode != 0) {
        Log("Get cscode from Web stats failed, %s\n", reply.c_str());
        return;
    }
    CJsonObject data;
    if (!json.Get("data", data)) {
        Log("Get data from Web stats failed, %s\n", reply.c_str());
        return;
    }
    CJsonObject cached(GetData());
    int32_t newVersion = 0, cachedVersion = 0;
    bool hasNew = data.Get("api_version", newVersion);
    bool hasCached = cached.Get("api_version", cachedVersion);
    Log("Check web api version,%d.%d\n", newVersion, cachedVersion);
    if (!hasNew) {
        Log("Parse api version failed,%s\n", reply.c_str());
        return;
    }
    if (hasCached && cachedVersion == newVersion) return;

    RewriteDownloadInfo(data);
    SetData(data.ToString());
    if (config_.bSaveCache) {
        bool saved = SaveCacheFile();
        Log("CheckNewVersion: Update cache file %s\n", saved ? "success" : "failed");
    }
}

void WebStatsManager::OnRegister(const std::string& email) {
    {
        std::lock_guard<std::mutex> guard(configLock_);
        if (email == config_.strEmail) return;
        config_.strEmail = email;
    }
    std::shared_ptr<Worker> worker;
    Start(worker, &WebStatsManager::RegisterThread);
    std::lock_guard<std::mutex> guard(workersLock_);
    workers_.push_back(worker);
}

void WebStatsManager::RegisterThread() {
    while (!IsCheckFinished()) {
        if (Interrupted()) return;
        Sleep(10);
    }
    if (Interrupted()) return;
    std::string email;
    {
        std::lock_guard<std::mutex> guard(configLock_);
        email = config_.strEmail;
    }
    CJsonObject data(GetData());
    CJsonObject user;
    data.Get("user_info", user);
    if (!user.Replace("email", email)) {
        Log("Error: replace name failed, msg=%s\n", user.GetErrorText().c_str());
        return;
    }
    if (!data.Replace("user_info", user)) {
        Log("Error: replace user_info failed, msg=%s\n", data.GetErrorText().c_str());
        return;
    }
    SetData(data.ToString());
    if (config_.bSaveCache) {
        bool saved = SaveCacheFile();
        Log("OnRegister: Update cahe file %s\n", saved ? "success" : "failed");
    }
}

bool WebStatsManager::UploadOptionTryData(const OptionTryData& tryData) {
    WebStatsConfig config;
    {
        std::lock_guard<std::mutex> guard(configLock_);
        config = config_;
    }
    std::string body = "{\"pid\":\"" + std::to_string(tryData.nProductId) + "\", \"token_id\":\"" +
                       JsonEscape(GetTokenId()) + "\", \"product_name\":\"" + JsonEscape(tryData.strProductName) +
                       "\", \"domain\":\"" + JsonEscape(config.strDomain) + "\", \"machine_id\":\"" +
                       JsonEscape(config.strMachineId) + "\"}";
    std::string reply;
    if (!PostJson(body, reply, config.strServiceUrl + "/v2/client/report")) return false;
    CJsonObject json(reply);
    int32_t cscode = -1;
    if (json.Get("cscode", cscode) && cscode == 0) return true;
    Log("Upload option try data failed, %s\n", reply.c_str());
    return false;
}

std::string WebStatsManager::GetTokenId() {
    CJsonObject data(GetData());
    CJsonObject user;
    std::string token;
    if (!data.Get("user_info", user) || !user.Get("token_id", token)) return std::string();
    return token;
}

std::string WebStatsManager::GetCacheFilePath() const { return config_.strCacheFolder + kCacheFileName; }

bool WebStatsManager::LoadCacheFile() {
    std::wstring path = NarrowToWide(GetCacheFilePath());
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    std::string text;
    {
        std::lock_guard<std::mutex> guard(CacheFileLock());
        JFile file;
        if (!file.Open(path, E_File_Read | E_File_Text)) {
            Log("Error: open file failed!\n");
            return false;
        }
        int64_t size = file.GetSize();
        if (size < 0 || static_cast<uint64_t>(size) > kMaxCacheFileBytes) {
            file.Close();
            Log("Error: cache file too large, ignored\n");
            return false;
        }
        text.resize(static_cast<size_t>(size));
        int64_t read = size > 0 ? file.Read(&text[0], text.size()) : 0;
        file.Close();
        text.resize(read > 0 ? static_cast<size_t>(read) : 0);  // text mode: CR LF reads as LF
    }
    SetData(text);
    return true;
}

bool WebStatsManager::SaveCacheFile() {
    std::string text = GetData();
    std::wstring path = NarrowToWide(GetCacheFilePath());
    std::lock_guard<std::mutex> guard(CacheFileLock());
    JFile file;
    if (!file.Open(path, E_File_Write | E_File_Text)) {
        Log("Error: write cache file failed!\n");
        return false;
    }
    bool written = text.empty() || file.Write(text.data(), text.size()) == static_cast<int64_t>(text.size());
    file.Close();
    return written;
}

void WebStatsManager::RewriteDownloadInfo(CJsonObject& data) {
    CJsonObject info;
    if (!data.Get("download_info", info)) return;
    std::shared_ptr<IRelatedProductParser> parser = CreateRelatedProductParser(config_.eproduct, &info);
    if (!parser) {
        Log("Error: create related product parser failed, eproduct=%d\n", config_.eproduct);
        return;
    }
    std::vector<RelatedProduct> products;
    if (!parser->Parse(products)) {
        Log("Error: parse related product failed, eproduct=%d\n", config_.eproduct);
        return;
    }
    data.Delete("download_info");
    if (products.empty()) return;

    const RelatedProduct& first = products.front();
    data.Add("related_product", first.nProductId);
    data.Add("url_simple", first.strUrlSimple);
    data.Add("url_simple_nodomain", first.strUrlSimpleNoDomain);
    data.Add("visit_time", first.strDate);
    CJsonObject names;
    names.Add(first.strName);
    data.Add("related_product_name", names);
    CJsonObject all;
    for (const auto& product : products) {
        CJsonObject entry;
        entry.Add("related_product", product.nProductId);
        entry.Add("related_product_name", product.strName);
        entry.Add("url_simple", product.strUrlSimple);
        entry.Add("url_simple_nodomain", product.strUrlSimpleNoDomain);
        entry.Add("visit_time", product.strDate);
        all.Add(entry);
    }
    data.Add("related_products_all", all);
}
