// The dispatcher (restarts, moves and splits of ranges), the completion
// check, MD5 verification and the repair of bad blocks.
#include <process.h>

#include <curl/curl.h>

#include <cstring>

#include "AutoMutex.h"
#include "Digest.h"
#include "DownloaderCurl.h"
#include "Log.h"
#include "Text.h"

namespace {

bool SameUrl(const char* a, const char* b) { return a && b && strcmp(a, b) == 0; }

bool Usable(int status) {
    return status == E_Status_Runing || status == E_Status_Succeed || status == E_Status_StopByDispatch;
}

// A copy of the range that carries on from its first missing byte on url.
DownloadItem ContinuationOf(const DownloadItem& item, const char* url, uint32_t now) {
    DownloadItem copy = item;
    copy.url = url;
    copy.start = item.pos;
    copy.speed = 0;
    copy.lastDataTick = copy.startTick = now;
    return copy;
}

}  // namespace

// --- choosing mirrors (callers hold m_lock) ----------------------------------

const char* DownloaderCurl::GetBestURL(const char* exclude) {
    std::set<std::string> avoid;
    if (exclude) avoid.insert(exclude);
    return GetBestURLAvoiding(avoid);
}

namespace {

// The URL of the fastest live range outside avoid (lowest id among equals), or null.
const char* FastestUrl(const std::map<int, DownloadItem>& items, const std::set<std::string>& avoid) {
    const char* best = nullptr;
    uint32_t bestSpeed = 0;
    for (const auto& entry : items) {
        const DownloadItem& item = entry.second;
        if (!Usable(item.status) || !item.url || avoid.count(item.url)) continue;
        if (item.speed > bestSpeed) {
            bestSpeed = item.speed;
            best = item.url;
        }
    }
    return best;
}

}  // namespace

const char* DownloaderCurl::GetBestURLAvoiding(const std::set<std::string>& avoid) {
    const char* best = FastestUrl(m_items, avoid);
    if (best && IsFallbackHost(best)) m_usingFallback = true;
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

// --- dispatcher ----------------------------------------------------------------

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
    while (m_downloading) {
        WaitStop(kDispatchIntervalMs);
        if (!m_downloading) break;

        // A download with nothing running that nobody has checked (a range
        // that could not start, a check that could not take the lock) is
        // checked here, so it still ends in one outcome.
        idlePasses = AnyTransferRunning() ? 0 : idlePasses + 1;
        if (idlePasses >= 2) {
            CheckFinish(nullptr);
            idlePasses = 0;
        }

        int count;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            count = static_cast<int>(m_items.size());
        }
        for (int id = 0; id < count && m_downloading; ++id) {
            DownloadItem* fresh = nullptr;
            bool pause = false;
            int32_t oldStatus = -1;
            DownloadItem* old = nullptr;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                auto it = m_items.find(id);
                if (it == m_items.end()) continue;
                DownloadItem& item = it->second;
                const uint32_t now = GetTickCount();
                const uint64_t size = m_fileSize.load();
                if (item.status == E_Status_Fail) {
                    if (item.pos >= item.end + 1) {
                        item.status = E_Status_StopByDispatch;
                        continue;
                    }
                    const char* url = GetBestURL(item.url);
                    if (!url && m_fallback.valid && !SameUrl(item.url, m_fallback.url)) {
                        url = m_fallback.url;
                        m_usingFallback = true;
                        m_switches.push_back({ExtractUrlHost(item.url ? item.url : ""), E_Switch_Fail});
                    }
                    if (!url) {
                        WriteLog("Download_Dispatch : download error fail , ID(%d).\n", item.id);
                        std::string link = item.url ? item.url : "";
                        size_t scheme = link.find("http://");
                        size_t path = link.find("/download/");
                        if (scheme != std::string::npos && path != std::string::npos && path > scheme)
                            WriteLog("Download_Dispatch link :(%s).\n", link.substr(scheme + 7, path - scheme - 7).c_str());
                        SetError(m_repairing ? E_Error_RepairFailError : E_Error_DispatchFailError);
                        m_failCode = item.result;
                        m_lastFailLink = link;
                        m_downloading = false;
                        break;
                    }
                    fresh = InsertItemLocked(ContinuationOf(item, url, now));
                    old = &item;
                    oldStatus = E_Status_Replaced;
                    pause = true;
                } else if (item.status == E_Status_Runing) {
                    if (size != 0 && static_cast<double>(m_written.load()) / size > kStallCutOff) continue;
                    if (m_fallback.valid && SameUrl(item.url, m_fallback.url)) continue;
                    if (!item.curl || now - item.lastDataTick < kStallLimitMs) continue;
                    const char* url = GetBestURL(item.url);
                    if (!url) {
                        if (!m_fallback.valid) continue;
                        url = m_fallback.url;
                        m_usingFallback = true;
                        m_switches.push_back({ExtractUrlHost(item.url ? item.url : ""), E_Switch_Timeout});
                    }
                    DownloadItem copy = ContinuationOf(item, url, now);
                    item.end = item.pos;
                    fresh = InsertItemLocked(copy);
                    old = &item;
                    oldStatus = E_Status_StopByDispatch;
                    pause = true;
                } else if (item.status == E_Status_Succeed) {
                    if (CountRunningItems() >= m_connections) continue;
                    int bigId = FindLargestRunningItem();
                    if (bigId < 0) continue;
                    DownloadItem& big = m_items[bigId];
                    int64_t remain = big.end - big.pos;
                    if (remain < kSplitMinimum) continue;
                    const char* url = GetBestURL(big.url);
                    if (!url) {
                        if (m_fallback.valid) {
                            url = m_fallback.url;
                            m_usingFallback = true;
                            m_switches.push_back({ExtractUrlHost(item.url ? item.url : ""), E_Switch_Split});
                        } else {
                            url = item.url;
                        }
                    }
                    int64_t half = remain / 2;
                    DownloadItem copy = big;
                    copy.url = url;
                    copy.start = copy.pos = big.pos + half;
                    copy.speed = 0;
                    copy.lastDataTick = copy.startTick = now;
                    big.end -= half;
                    fresh = InsertItemLocked(copy);
                }
            }
            if (!fresh) continue;
            if (pause) {
                Sleep(kRestartPauseMs);
                std::lock_guard<std::mutex> guard(m_lock);
                old->status = oldStatus;
            }
            BeginDownloadItem(fresh);
        }
    }
    FinalCheck();
}

void DownloaderCurl::FinalCheck() {
    if (m_stopped || GetState() == E_State_Succeed || m_outcomeSent) return;
    AutoMutex lock(m_mutex.get());
    // The download is over here (a range could go nowhere, or a reset):
    // whatever the file holds ends it with exactly one outcome.
    int verified = CheckHash(false);
    if (verified == 1) {
        CloseFile();
        Finish(E_State_Succeed, E_Download_Succeed, static_cast<unsigned>(m_written.load()),
               static_cast<long>(m_fileSize.load()));
        return;
    }
    WriteLog("Download_Dispatch : CheckHash download failed.\n");
    if (GetErrorCode() == E_Error_NoError) SetError(E_Error_CheckHashError);
    Finish(E_State_Fail, E_Download_Fail, static_cast<unsigned>(m_written.load()),
           static_cast<long>(m_fileSize.load()));
}

// --- completion and verification -------------------------------------------------

void DownloaderCurl::CheckFinish(DownloadItem* item) {
    WriteLog("Download_CheckFinish.\n");
    AutoMutex lock(m_mutex.get());
    if (item) NotifyCallback(E_Download_ItemFinish, static_cast<unsigned>(item->id), static_cast<long>(reinterpret_cast<uintptr_t>(item)));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& entry : m_items) {
            const DownloadItem& it = entry.second;
            // A failed range with bytes missing is the dispatcher's to restart:
            // checking now would only fetch the same bytes twice.
            if (it.curl || (it.status == E_Status_Fail && it.pos < it.end + 1)) {
                WriteLog("Download_CheckFinish : continue. now wait (%d).\n", entry.first);
                return;
            }
        }
    }
    if (!m_downloading || m_outcomeSent) return;
    int verified = CheckHash(true);
    const unsigned written = static_cast<unsigned>(m_written.load());
    const long size = static_cast<long>(m_fileSize.load());
    if (verified == 1) {
        WriteLog("Download_CheckFinish : Finish download.\n");
        CloseFile();
        Finish(E_State_Succeed, E_Download_Succeed, written, size);
        return;
    }
    if (verified == E_FAIL) {
        // An unreadable target is never reported as a verified one.
        WriteLog("Download_CheckFinish : the target cannot be checked.\n");
        SetError(E_Error_CheckHashError);
        CloseFile();
        Finish(E_State_Fail, E_Download_Fail, written, size);
        return;
    }
    if (!AnyTransferRunning()) {
        // Not verified and nothing being repaired: it cannot get better.
        WriteLog("Download_CheckFinish : not verified and nothing to repair.\n");
        if (GetErrorCode() == E_Error_NoError) SetError(E_Error_CheckHashError);
        CloseFile();
        Finish(E_State_Fail, E_Download_Fail, written, size);
    }
}

int DownloaderCurl::CheckHash(bool allowRepair) {
    std::wstring path = NarrowToWide(m_config.targetPath);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if (m_file && fflush(m_file) != 0) return E_FAIL;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return E_FAIL;
    char whole[64] = {};
    if (!GetFileHash(f, whole, sizeof(whole))) {
        fclose(f);
        return E_FAIL;
    }
    // Digests are hex: a manifest written in lower case means the same.
    if (_stricmp(whole, m_config.fileHash.c_str()) == 0) {
        fclose(f);
        return 1;
    }
    std::vector<std::string> blocks;
    int ok = GetFileBlockHashes(f, static_cast<size_t>(kBlockSize), blocks);
    fclose(f);
    if (!ok) return E_FAIL;

    const int64_t size = static_cast<int64_t>(m_config.fileSize);
    const size_t expected = static_cast<size_t>((size + kBlockSize - 1) / kBlockSize);
    if (m_config.blockHashes.size() != expected || blocks.size() > expected) {
        // The manifest's blocks do not describe this file: nothing to repair by.
        WriteLog("Download_CheckHash : %u block digests for %u blocks.\n",
                 static_cast<unsigned>(m_config.blockHashes.size()), static_cast<unsigned>(expected));
        SetError(E_Error_CheckHashError);
        return 0;
    }
    std::vector<size_t> bad;
    for (size_t i = 0; i < expected; ++i) {
        // A block the file does not reach (a missing tail) is bad too.
        if (i >= blocks.size() || _stricmp(blocks[i].c_str(), m_config.blockHashes[i].c_str()) != 0) bad.push_back(i);
    }
    if (bad.empty()) return 1;
    if (!allowRepair) return 0;

    struct Plan { int64_t first, last; std::set<std::string> avoid; };
    std::vector<Plan> plans;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (size_t i : bad) {
            Plan p;
            p.first = static_cast<int64_t>(i) * kBlockSize;
            p.last = std::min(p.first + kBlockSize - 1, size - 1);
            // Every mirror whose bytes landed in this block is avoided from now on.
            std::set<std::string> writers;
            for (const auto& entry : m_items) {
                const DownloadItem& item = entry.second;
                if (item.url && item.pos > item.start && item.start <= p.last && item.pos - 1 >= p.first)
                    writers.insert(item.url);
            }
            for (const std::string& url : writers) ++m_urlBadBlocks[url];
            std::set<std::string>& sources = m_badSources[p.first];
            sources.insert(writers.begin(), writers.end());
            p.avoid = sources;
            if (++m_repairRounds[p.first] > kRepairRoundsPerBlock) {
                WriteLog("Download_CheckHash : block at %lld still bad after %d repairs.\n",
                         static_cast<long long>(p.first), kRepairRoundsPerBlock);
                SetError(E_Error_RepairFailError);
                return 0;
            }
            bool fallback = false;
            if (!ChooseRepairUrl(p.first, p.last, p.avoid, nullptr, &fallback)) {
                WriteLog("Download_RepairData : GetBestURL error, start(%d), end(%d).\n", static_cast<int>(p.first),
                         static_cast<int>(p.last));
                m_repairLink.clear();
                SetError(E_Error_RepairFailError);
                return 0;
            }
            plans.push_back(p);
        }
    }
    for (const Plan& p : plans) RepairData(p.first, p.last, p.avoid);
    m_repairing = true;
    return 0;
}

const char* DownloaderCurl::ChooseRepairUrl(int64_t first, int64_t last, const std::set<std::string>& avoid,
                                            std::string* coverUrl, bool* fallback) {
    std::set<std::string> writers = avoid;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        if (item.start <= first && item.end >= last && item.url) {
            writers.insert(item.url);
            if (coverUrl) *coverUrl = item.url;
            break;
        }
    }
    *fallback = false;
    // The fastest live mirror that put no bytes into this block.
    const char* best = FastestUrl(m_items, writers);
    if (best) return best;
    uint32_t bestSpeed = 0;
    if (m_fallback.valid && !writers.count(m_fallback.url)) {
        *fallback = true;
        return m_fallback.url;
    }
    // Every live mirror wrote into it: the one seen in the fewest bad blocks.
    int fewest = 0;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        if (!Usable(item.status) || !item.url || item.speed == 0) continue;
        auto found = m_urlBadBlocks.find(item.url);
        int bad = found == m_urlBadBlocks.end() ? 0 : found->second;
        if (!best || bad < fewest || (bad == fewest && item.speed > bestSpeed)) {
            best = item.url;
            fewest = bad;
            bestSpeed = item.speed;
        }
    }
    return best;
}

int DownloaderCurl::RepairData(int64_t first, int64_t last, const std::set<std::string>& avoid) {
    DownloadItem* fresh;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::string cover;
        bool fallback = false;
        const char* url = ChooseRepairUrl(first, last, avoid, &cover, &fallback);
        if (!url) {
            WriteLog("Download_RepairData : GetBestURL error, start(%d), end(%d).\n", static_cast<int>(first),
                     static_cast<int>(last));
            m_repairLink.clear();
            return E_INVALIDARG;
        }
        if (IsFallbackHost(url)) m_usingFallback = true;
        if (fallback) {
            m_switches.push_back({cover.empty() ? "" : ExtractUrlHost(cover), E_Switch_Repair});
        }
        m_repairLink = url;
        DownloadItem item;
        item.url = url;
        item.start = item.pos = first;
        item.end = last;
        item.lastDataTick = item.startTick = GetTickCount();
        fresh = InsertItemLocked(item);
        WriteLog("Download_RepairData : GetBestURL Info, start(%d), end(%d), ID(%d).\n", static_cast<int>(first),
                 static_cast<int>(last), fresh->id);
    }
    BeginDownloadItem(fresh);
    return 0;
}
