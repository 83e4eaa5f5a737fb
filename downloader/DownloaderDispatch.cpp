// The dispatcher: restarts of failed ranges, moves of stalled ones and
// splits for free connections, one pass every two seconds.
#include <cstring>

#include "DownloaderCurl.h"
#include "Log.h"

namespace {

bool SameUrl(const char* a, const char* b) { return a && b && strcmp(a, b) == 0; }

// A copy of the range that carries on from its first missing byte on url.
DownloadItem ContinuationOf(const DownloadItem& item, const char* url, uint32_t now) {
    DownloadItem copy = item;
    copy.url = url;
    copy.start = item.pos;
    copy.speed = 0;
    copy.lastDataTick = copy.startTick = now;
    copy.retries = item.pos > item.start ? 0 : item.retries + 1;
    return copy;
}

}  // namespace

bool DownloaderCurl::MirrorBenchedLocked(const char* url) const {
    if (!url) return false;
    auto found = m_failuresInRow.find(url);
    return found != m_failuresInRow.end() && found->second >= kMirrorFailuresInRow;
}

const char* DownloaderCurl::GetBestURL(const char* exclude) {
    std::set<std::string> avoid;
    if (exclude) avoid.insert(exclude);
    const char* best = FastestUrlLocked(avoid);
    if (best && IsFallbackHost(best)) m_usingFallback = true;
    return best;
}

const char* DownloaderCurl::FastestUrlLocked(const std::set<std::string>& avoid) const {
    // The URL of the fastest range that ran, runs or was moved, outside
    // avoid and not passed over for failing (lowest id among equals).
    const char* best = nullptr;
    uint32_t bestSpeed = 0;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        const bool usable = item.status == E_Status_Runing || item.status == E_Status_Succeed ||
                            item.status == E_Status_StopByDispatch;
        if (!usable || !item.url || item.speed <= bestSpeed || avoid.count(item.url) || MirrorBenchedLocked(item.url))
            continue;
        bestSpeed = item.speed;
        best = item.url;
    }
    return best;
}

int DownloaderCurl::CountRunningItems() {
    int n = 0;
    for (const auto& entry : m_items)
        if (entry.second.status == E_Status_Runing) ++n;
    return n;
}

int DownloaderCurl::FindLargestRunningItem() {
    int id = -1;
    int64_t largest = 0;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        if (item.status != E_Status_Runing) continue;
        int64_t remain = item.end - item.pos;
        if (remain > 0 && remain > largest) {
            largest = remain;
            id = entry.first;
        }
    }
    return id;
}

bool DownloaderCurl::AnyTransferRunning() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& entry : m_items)
        if (entry.second.curl) return true;
    return false;
}

const char* DownloaderCurl::ChooseTargetLocked(const char* exclude, UrlSwitchReason reason, const char* recordUrl) {
    if (const char* best = GetBestURL(exclude)) return best;
    if (!m_fallback.valid || SameUrl(exclude, m_fallback.url) || MirrorBenchedLocked(m_fallback.url)) return nullptr;
    m_usingFallback = true;
    m_switches.push_back({ExtractUrlHost(recordUrl ? recordUrl : ""), reason});
    return m_fallback.url;
}

// --- the passes ------------------------------------------------------------------

unsigned __stdcall DownloaderCurl::Download_Dispatch(void* arg) {
    DownloaderCurl* engine = static_cast<DownloaderCurl*>(arg);
    if (!engine) {
        WriteLog("Download_Dispatch Error : lpvoid == NULL.\n");
        return 0;
    }
    WriteLog("Download_Dispatch Begining.\n");
    engine->DispatchLoop();
    WriteLog("Download_Dispatch Endding.\n");
    return 0;
}

void DownloaderCurl::DispatchLoop() {
    int idlePasses = 0;
    while (m_downloading && !m_stopped) {
        WaitStop(kDispatchIntervalMs);
        if (!m_downloading || m_stopped) break;

        // A download with nothing running that nobody has checked (a range
        // that could not start, a check that could not take the lock) is
        // checked here, so it still ends in one outcome.
        idlePasses = AnyTransferRunning() ? 0 : idlePasses + 1;
        if (idlePasses >= 2) {
            CheckFinish(nullptr);
            idlePasses = 0;
        }
        // Items entered during this pass wait for the next one.
        int count;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            count = static_cast<int>(m_items.size());
        }
        for (int id = 0; id < count && m_downloading && !m_stopped; ++id) DispatchItem(id);
    }
    FinalCheck();
}

void DownloaderCurl::DispatchItem(int id) {
    DispatchAction action;
    {
        DeferredLog log;  // written after the lock is released
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_items.find(id);
        if (it == m_items.end()) return;
        DownloadItem& item = it->second;
        const uint32_t now = GetTickCount();
        switch (item.status) {
        case E_Status_Fail:
            RestartFailedLocked(item, now, action, log);
            break;
        case E_Status_Runing:
            MoveStalledLocked(item, now, action);
            break;
        case E_Status_Succeed:
            SplitForFreeSlotLocked(item, now, action);
            break;
        default:
            break;  // stopped and replaced ranges are left alone
        }
    }
    if (action.fail) {
        m_downloading = false;
        return;
    }
    if (!action.fresh) return;
    if (action.old) {
        Sleep(kRestartPauseMs);
        std::lock_guard<std::mutex> guard(m_lock);
        action.old->status = action.oldStatus;  // a moved range's transfer ends at its next progress call
    }
    BeginDownloadItem(action.fresh);
}

// A failed range: its rest goes to the best other mirror, else the fallback,
// else (after a pause) its own mirror again, as long as it has starts left.
// With none left, the download fails.
void DownloaderCurl::RestartFailedLocked(DownloadItem& item, uint32_t now, DispatchAction& action, DeferredLog& log) {
    if (item.pos >= item.end + 1) {
        item.status = E_Status_StopByDispatch;  // every byte arrived before it failed
        return;
    }
    const char* url = nullptr;
    const int retries = item.pos > item.start ? 0 : item.retries + 1;
    if (retries <= kRangeRetries) {
        url = ChooseTargetLocked(item.url, E_Switch_Fail, item.url);
        if (!url) {
            if (now - item.endTick < kOwnRetryPauseMs) return;  // looked at again next pass
            url = item.url;
        }
    }
    if (!url) {
        log.Add("Download_Dispatch : download error fail , ID(%d).\n", item.id);
        std::string link = item.url ? item.url : "";
        size_t scheme = link.find("http://");
        size_t path = link.find("/download/");
        if (scheme != std::string::npos && path != std::string::npos && path > scheme)
            log.Add("Download_Dispatch link :(%s).\n", link.substr(scheme + 7, path - scheme - 7).c_str());
        SetError(m_repairing ? E_Error_RepairFailError : E_Error_DispatchFailError);
        m_failCode = item.result;
        m_lastFailLink = link;
        action.fail = true;
        return;
    }
    action.fresh = InsertItemLocked(ContinuationOf(item, url, now));
    action.old = &item;
    action.oldStatus = E_Status_Replaced;
}

// A running range that received nothing for the stall limit moves to another
// mirror from its first missing byte; its old transfer is cut there. Late in
// the download, and on the fallback mirror, ranges are left to finish.
void DownloaderCurl::MoveStalledLocked(DownloadItem& item, uint32_t now, DispatchAction& action) {
    const uint64_t size = m_fileSize.load();
    if (size != 0 && static_cast<double>(m_written.load()) / size > kStallCutOff) return;
    if (m_fallback.valid && SameUrl(item.url, m_fallback.url)) return;
    if (!item.curl || now - item.lastDataTick < kStallLimitMs) return;
    const char* url = ChooseTargetLocked(item.url, E_Switch_Timeout, item.url);
    if (!url) return;  // nowhere to go: looked at again next pass
    DownloadItem copy = ContinuationOf(item, url, now);
    item.end = item.pos;
    action.fresh = InsertItemLocked(copy);
    action.old = &item;
    action.oldStatus = E_Status_StopByDispatch;
}

// A finished range frees a connection: while fewer ranges run than the
// download started with, the largest remaining range is cut in two and its
// second half fetched on the best mirror.
void DownloaderCurl::SplitForFreeSlotLocked(const DownloadItem& finished, uint32_t now, DispatchAction& action) {
    if (CountRunningItems() >= m_connections) return;
    int bigId = FindLargestRunningItem();
    if (bigId < 0) return;
    DownloadItem& big = m_items[bigId];
    const int64_t remain = big.end - big.pos;
    if (remain < kSplitMinimum) return;
    const char* url = ChooseTargetLocked(big.url, E_Switch_Split, finished.url);
    if (!url) url = finished.url;
    const int64_t half = remain / 2;
    DownloadItem copy = big;
    copy.url = url;
    copy.start = copy.pos = big.pos + half;
    copy.speed = 0;
    copy.retries = 0;
    copy.lastDataTick = copy.startTick = now;
    big.end -= half;
    action.fresh = InsertItemLocked(copy);
}
