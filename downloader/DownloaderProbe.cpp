// Mirror probing: echo, HEAD size and load probe for every manifest URL, then
// the choice and order of the mirrors and the fallback mirror.
#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "CurlHandle.h"
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

void SetProbeBounds(CURL* curl, long timeoutS, std::atomic<bool>* stopped) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, DownloaderCurl::kProbeConnectTimeoutS);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutS);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, DownloaderCurl::AbortWhenStopped);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, stopped);
}

// The TLS handshakes of probe requests take turns. The slots are probed at
// once, and Wine's Schannel (over GnuTLS) was seen to break, and once to
// crash, when several handshakes of one process ran together. The turn ends
// when the connection is made, so the waits for the answers (a slow mirror's
// first byte) still run side by side.
std::mutex g_tlsHandshake;

// Called by libcurl once the connection is made, before the request is sent.
int EndHandshakeTurn(void* turn, char*, char*, int, int) {
    auto* lock = static_cast<std::unique_lock<std::mutex>*>(turn);
    if (lock->owns_lock()) lock->unlock();
    return CURL_PREREQFUNC_OK;
}

CURLcode PerformProbe(CURL* curl, const char* url) {
    if (strncmp(url, "https://", 8) != 0) return curl_easy_perform(curl);
    std::unique_lock<std::mutex> turn(g_tlsHandshake);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, EndHandshakeTurn);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, &turn);
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, nullptr);
    return rc;
}

bool IsTransientFailure(CURLcode rc) {
    return rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_SEND_ERROR || rc == CURLE_RECV_ERROR ||
           rc == CURLE_GOT_NOTHING;
}

bool SaysYes(const std::string& reply) { return reply.size() >= 2 && reply[0] == '1'; }

const char* TrueFalse(bool v) { return v ? "true" : "false"; }

}  // namespace

int64_t DownloaderCurl::HeadSize(const char* url, DeferredLog& log) {
    CurlEasy curl = MakeCurlEasy();
    if (!curl || !url) return -1;
    SetBaseOptions(curl.get(), url, DiscardData, nullptr);
    curl_easy_setopt(curl.get(), CURLOPT_HEADER, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "Lavf/55.13.102");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    SetProbeBounds(curl.get(), kHeadTimeoutS, &m_stopped);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ApplyProxy(curl.get());
    }
    CURLcode rc = PerformProbe(curl.get(), url);
    // A connection that broke before the answer (a failed TLS handshake, a
    // reset) is asked once more: one such hiccup must not cost a mirror the
    // whole download. A refusal, a time-out or an answer is final.
    if (IsTransientFailure(rc) && !m_stopped) rc = PerformProbe(curl.get(), url);
    curl_off_t length = -1;
    if (rc == CURLE_OK) curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    log.Add("Download_GetDownloadFileLenth : result(%d), url_err(%d).\n", static_cast<int>(length),
            static_cast<int>(rc));
    return static_cast<int64_t>(length);
}

int64_t DownloaderCurl::GetDownloadFileLenth(const char* url) {
    DeferredLog log;
    return HeadSize(url, log);
}

std::string DownloaderCurl::HttpGetText(std::string url) {
    CurlEasy curl = MakeCurlEasy();
    if (!curl) return "error";
    CappedText body;
    body.limit = kLoadProbeBodyLimit;
    SetBaseOptions(curl.get(), url.c_str(), AppendCapped, &body);
    SetProbeBounds(curl.get(), kLoadProbeTimeoutS, &m_stopped);
    CURLcode rc = PerformProbe(curl.get(), url.c_str());
    if (rc == CURLE_WRITE_ERROR && body.capped) rc = CURLE_OK;
    return rc == CURLE_OK ? body.text : "error";
}

bool DownloaderCurl::AcceptsLoad(const std::string& url, DeferredLog& log) {
    if (IsFallbackHost(url)) return true;
    std::string host = ExtractUrlHost(url);
    if (host.empty()) return false;
    std::string reply = HttpGetText("https://" + host + "/flag.php");
    log.Add("Download : GetNetworkNotFull IP(%s), Result(%s).\n", host.c_str(), reply.c_str());
    if (SaysYes(reply)) return true;
    reply = HttpGetText("http://" + host + "/flag.php");
    log.Add("Download : GetNetworkNotFull IP(%s), Result(%s).\n", host.c_str(), reply.c_str());
    return SaysYes(reply);
}

bool DownloaderCurl::GetNetworkNotFull(std::string url) {
    DeferredLog log;
    return AcceptsLoad(url, log);
}

// The probes of one listed slot, in their order: a fallback slot is only
// sized; any other is pinged, then sized, then asked for its load.
void DownloaderCurl::ProbeSlot(int slot, UrlCfg& u, int64_t fileSize, bool fallbackSlot, DeferredLog& log) {
    if (fallbackSlot) {
        u.webSize = HeadSize(u.url, log);
        u.valid = (u.webSize == fileSize);
        u.cfgSize = fileSize;
        u.host = FallbackHostMarkers().front();
        return;
    }
    bool ok = PingUrlHost(u.url, &u.pingMs);
    log.Add("Download_CheckPing: ID(%d), Invalid(%s), time(%d).\n", slot, TrueFalse(ok), static_cast<int>(u.pingMs));
    u.pingOk = ok;
    u.host = ExtractUrlHost(u.url);
    if (!ok) {
        u.valid = false;
        return;
    }
    u.webSize = HeadSize(u.url, log);
    u.valid = (u.webSize == fileSize);
    u.cfgSize = fileSize;
    // A fallback-host URL that reaches this point is never a candidate.
    if (u.valid && !IsFallbackHost(u.url)) u.networkNotFull = AcceptsLoad(u.url, log);
    log.Add("Download_CheckDownload: ID(%d), FileSizeConsistent(%s) NetworkNotFull(%s).\n", slot, TrueFalse(u.valid),
            TrueFalse(u.networkNotFull));
}

int DownloaderCurl::CheckDownload(DownloadConfig& config) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_vecUrlCfg.clear();
        m_checked.clear();
    }
    m_usingFallback = false;
    const int64_t fileSize = static_cast<int64_t>(m_fileSize.load());

    // Every normal slot is probed on a thread of its own; the fallback-host
    // slots on one more, in their order, since the first of them whose size
    // matches decides how the later ones are probed. Results and log lines
    // are then taken in slot order, as if probed one after the other.
    bool fallbackSlot[kMaxManifestUrls] = {};
    DeferredLog logs[kMaxManifestUrls];
    std::vector<std::thread> probes;
    auto spawn = [&probes](std::function<void()> probe) {
        try {
            probes.emplace_back(probe);
        } catch (const std::system_error&) {
            probe();  // no thread to be had: probe here
        }
    };
    for (int i = 0; i < kMaxManifestUrls; ++i) {
        fallbackSlot[i] = config.urls[i].valid && IsFallbackHost(config.urls[i].url);
        if (!config.urls[i].valid || fallbackSlot[i] || m_stopped) continue;
        spawn([this, &config, &logs, fileSize, i] { ProbeSlot(i, config.urls[i], fileSize, false, logs[i]); });
    }
    int fallbackIndex = -1;
    spawn([&] {
        for (int i = 0; i < kMaxManifestUrls && !m_stopped; ++i) {
            if (!fallbackSlot[i]) continue;
            ProbeSlot(i, config.urls[i], fileSize, fallbackIndex < 0, logs[i]);
            if (fallbackIndex < 0 && config.urls[i].valid) fallbackIndex = i;
        }
    });
    // Each probe is bounded by its own time limits (echo, HEAD, load probe).
    for (std::thread& t : probes) t.join();

    std::vector<UrlCfg> checked, candidates;
    for (int i = 0; i < kMaxManifestUrls; ++i) {
        UrlCfg& u = config.urls[i];
        // A stop ends probing: what was not probed is not usable.
        if (m_stopped) u.valid = false;
        if (u.valid && u.networkNotFull && !fallbackSlot[i]) candidates.push_back(u);
        logs[i].Flush();
        checked.push_back(u);
    }
    const bool haveFallback = fallbackIndex >= 0 && !m_stopped;
    const UrlCfg fallback = haveFallback ? config.urls[fallbackIndex] : UrlCfg();
    std::stable_sort(candidates.begin(), candidates.end(), ComparePing);
    std::vector<UrlCfg> used = candidates;

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
