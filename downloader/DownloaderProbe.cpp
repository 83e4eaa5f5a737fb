// Mirror probing: echo, HEAD size and load probe for every manifest URL, then
// the choice and order of the mirrors and the fallback mirror.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "DownloaderCurl.h"
#include "IcmpPinger.h"
#include "Log.h"

namespace {

size_t DiscardData(char*, size_t size, size_t count, void*) { return size * count; }

struct CappedText {
    std::string text;
    size_t limit = 0;
    bool capped = false;
};

// Keeps the first bytes of the body; only its first characters matter.
size_t AppendCapped(char* data, size_t size, size_t count, void* arg) {
    CappedText* body = static_cast<CappedText*>(arg);
    size_t n = size * count;
    size_t room = body->limit - body->text.size();
    if (n > room) {
        body->text.append(data, room);
        body->capped = true;
        return 0;  // enough read: end the transfer
    }
    body->text.append(data, n);
    return n;
}

void SetProbeBounds(CURL* curl, std::atomic<bool>* stopped) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, DownloaderCurl::kProbeConnectTimeoutS);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, DownloaderCurl::kProbeTimeoutS);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, DownloaderCurl::AbortWhenStopped);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, stopped);
}

bool SaysYes(const std::string& reply) { return reply.size() >= 2 && reply[0] == '1'; }

const char* TrueFalse(bool v) { return v ? "true" : "false"; }

}  // namespace

int64_t DownloaderCurl::GetDownloadFileLenth(const char* url) {
    CURL* curl = curl_easy_init();
    if (!curl || !url) {
        if (curl) curl_easy_cleanup(curl);
        return -1;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_HEADER, 1L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardData);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Lavf/55.13.102");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    SetProbeBounds(curl, &m_stopped);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ApplyProxy(curl);
    }
    CURLcode rc = curl_easy_perform(curl);
    curl_off_t length = -1;
    if (rc == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    curl_easy_cleanup(curl);
    WriteLog("Download_GetDownloadFileLenth : result(%d), url_err(%d).\n", static_cast<int>(length),
             static_cast<int>(rc));
    return static_cast<int64_t>(length);
}

std::string DownloaderCurl::HttpGetText(std::string url) {
    CURL* curl = curl_easy_init();
    if (!curl) return "error";
    CappedText body;
    body.limit = kLoadProbeBodyLimit;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendCapped);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    SetProbeBounds(curl, &m_stopped);
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc == CURLE_WRITE_ERROR && body.capped) rc = CURLE_OK;
    return rc == CURLE_OK ? body.text : "error";
}

bool DownloaderCurl::GetNetworkNotFull(std::string url) {
    if (IsFallbackHost(url)) return true;
    std::string host = ExtractUrlHost(url);
    if (host.empty()) return false;
    std::string reply = HttpGetText("https://" + host + "/flag.php");
    WriteLog("Download : GetNetworkNotFull IP(%s), Result(%s).\n", host.c_str(), reply.c_str());
    if (SaysYes(reply)) return true;
    reply = HttpGetText("http://" + host + "/flag.php");
    WriteLog("Download : GetNetworkNotFull IP(%s), Result(%s).\n", host.c_str(), reply.c_str());
    return SaysYes(reply);
}

int DownloaderCurl::CheckDownload(DownloadConfig& config) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecUrlCfg.clear();
        m_checked.clear();
    }
    m_usingFallback = false;
    std::vector<UrlCfg> checked, candidates;
    bool haveFallback = false;
    UrlCfg fallback;
    const int64_t fileSize = static_cast<int64_t>(m_fileSize.load());

    for (int i = 0; i < kMaxManifestUrls; ++i) {
        UrlCfg& u = config.urls[i];
        // A stop ends probing: the rest is recorded as not usable.
        if (m_stopped) u.valid = false;
        if (!u.valid) {
            checked.push_back(u);
            continue;
        }
        if (IsFallbackHost(u.url) && !haveFallback) {
            int64_t size = GetDownloadFileLenth(u.url);
            u.valid = (size == fileSize);
            u.cfgSize = fileSize;
            u.webSize = size;
            u.host = FallbackHostMarkers().front();
            if (u.valid) {
                fallback = u;
                haveFallback = true;
            }
            checked.push_back(u);
            continue;
        }
        bool ok = PingUrlHost(u.url, &u.pingMs);
        WriteLog("Download_CheckPing: ID(%d), Invalid(%s), time(%d).\n", i, TrueFalse(ok), static_cast<int>(u.pingMs));
        u.pingOk = ok;
        u.host = ExtractUrlHost(u.url);
        if (!ok) {
            u.valid = false;
            checked.push_back(u);
            continue;
        }
        int64_t size = GetDownloadFileLenth(u.url);
        u.valid = (size == fileSize);
        u.cfgSize = fileSize;
        u.webSize = size;
        if (u.valid && !IsFallbackHost(u.url)) {
            u.networkNotFull = GetNetworkNotFull(u.url);
            candidates.push_back(u);
        }
        checked.push_back(u);
        WriteLog("Download_CheckDownload: ID(%d), FileSizeConsistent(%s) NetworkNotFull(%s).\n", i, TrueFalse(u.valid),
                 TrueFalse(u.networkNotFull));
    }

    std::stable_sort(candidates.begin(), candidates.end(), ComparePing);
    std::vector<UrlCfg> used;
    for (const UrlCfg& c : candidates)
        if (c.networkNotFull) used.push_back(c);

    if (used.empty()) {
        WriteLog("Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 0.\n");
        WriteLog("Download_CheckDownload: Using Ama now.\n");
        if (haveFallback) {
            used.push_back(fallback);
            m_config.connectionsPerUrl = 5;
        } else {
            WriteLog("Download_CheckDownload: ERROR : con't find Ama now.\n");
        }
    } else if (used.size() <= 2) {
        WriteLog("Download_CheckDownload: Warring, m_vecUrlCfg.size() <= 2.\n");
        if (haveFallback) {
            used.push_back(fallback);
            WriteLog("Download_CheckDownload: Add Ama now.\n");
        } else {
            WriteLog("Download_CheckDownload: Add Ama fail.\n");
        }
    }
    if (used.size() > 5) used.resize(5);

    std::lock_guard<std::mutex> guard(m_lock);
    m_vecUrlCfg = used;
    m_checked = checked;
    if (haveFallback) m_fallback = fallback;
    return m_vecUrlCfg.empty() ? E_FAIL : 0;
}
