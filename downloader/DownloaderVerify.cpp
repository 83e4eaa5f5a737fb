// The completion check, MD5 verification and the repair of bad blocks.
#include <algorithm>
#include <cstring>

#include "AutoMutex.h"
#include "Digest.h"
#include "DownloaderCurl.h"
#include "Log.h"
#include "Text.h"

void DownloaderCurl::FinalCheck() {
    if (m_stopped || GetState() == E_State_Succeed || m_outcomeSent) return;
    AutoMutex lock(m_mutex.get());
    if (!lock.locked()) {
        FailForFileLock("Download_Dispatch");
        return;
    }
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

void DownloaderCurl::CheckFinish(DownloadItem* item) {
    WriteLog("Download_CheckFinish.\n");
    AutoMutex lock(m_mutex.get());
    if (!lock.locked()) {
        // Neither verified nor closed: the stream may be in another's hands.
        FailForFileLock("Download_CheckFinish");
        return;
    }
    if (item) {
        int id;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            id = item->id;
        }
        NotifyCallback(E_Download_ItemFinish, static_cast<unsigned>(id), static_cast<long>(reinterpret_cast<uintptr_t>(item)));
    }
    int waitFor = -1;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& entry : m_items) {
            const DownloadItem& it = entry.second;
            // A failed range with bytes missing is the dispatcher's to restart:
            // checking now would only fetch the same bytes twice.
            if (it.curl || (it.status == E_Status_Fail && it.pos < it.end + 1)) {
                waitFor = entry.first;
                break;
            }
        }
    }
    if (waitFor >= 0) {
        WriteLog("Download_CheckFinish : continue. now wait (%d).\n", waitFor);
        return;
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
    std::vector<size_t> bad;
    const int verified = FindBadBlocks(bad);
    if (verified != 0 || !allowRepair || bad.empty()) return verified;
    std::vector<RepairPiece> pieces;
    if (!PlanRepairs(bad, pieces)) return 0;
    for (const RepairPiece& piece : pieces) RepairData(piece.first, piece.last, piece.writers);
    m_repairing = true;
    return 0;
}

int DownloaderCurl::FindBadBlocks(std::vector<size_t>& bad) {
    const std::wstring& path = m_targetWide;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if (m_file && fflush(m_file.get()) != 0) return E_FAIL;
    UniqueFile stream(_wfopen(path.c_str(), L"rb"));
    FILE* f = stream.get();
    if (!f) return E_FAIL;
    const int64_t size = static_cast<int64_t>(m_config.fileSize);
    const size_t expected = static_cast<size_t>((size + kBlockSize - 1) / kBlockSize);
    const int64_t length = _fseeki64(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
    // Every block as the manifest describes it: the whole file verifies when
    // each block does (the digests taken as blocks completed are used, the
    // rest read now), so the whole-file digest is computed only when some
    // block differs, as the last word before repairs.
    std::vector<std::string> blocks;
    if (m_config.blockHashes.size() == expected && m_blockDigests.Count() == expected) {
        for (size_t i = 0; i < expected; ++i) {
            std::string digest = m_blockDigests.Current(i);
            if (digest.empty()) {
                const int64_t offset = static_cast<int64_t>(i) * kBlockSize;
                digest = HashFileRange(f, offset, std::min(kBlockSize, size - offset));
            }
            blocks.push_back(digest);  // "" for a block the file does not reach
        }
        bool all = true;
        for (size_t i = 0; i < expected && all; ++i) all = _stricmp(blocks[i].c_str(), m_config.blockHashes[i].c_str()) == 0;
        if (all && length == size) return 1;
    }
    rewind(f);
    char whole[64] = {};
    if (!GetFileHash(f, whole, sizeof(whole))) return E_FAIL;
    // Digests are hex: a manifest written in lower case means the same.
    if (_stricmp(whole, m_config.fileHash.c_str()) == 0) return 1;
    if (blocks.empty()) {
        int ok = GetFileBlockHashes(f, static_cast<size_t>(kBlockSize), blocks);
        if (!ok) return E_FAIL;
    }
    stream.reset();
    if (m_config.blockHashes.size() != expected || length > size) {
        // The manifest's blocks do not describe this file: nothing to repair by.
        WriteLog("Download_CheckHash : %u block digests for %u blocks.\n",
                 static_cast<unsigned>(m_config.blockHashes.size()), static_cast<unsigned>(expected));
        SetError(E_Error_CheckHashError);
        return 0;
    }
    for (size_t i = 0; i < expected; ++i) {
        // A block the file does not reach (a missing tail) is bad too.
        if (i >= blocks.size() || _stricmp(blocks[i].c_str(), m_config.blockHashes[i].c_str()) != 0) bad.push_back(i);
    }
    return bad.empty() ? 1 : 0;
}

bool DownloaderCurl::PlanRepairs(const std::vector<size_t>& bad, std::vector<RepairPiece>& pieces) {
    const int64_t size = static_cast<int64_t>(m_config.fileSize);
    DeferredLog log;  // written after the lock is released
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i : bad) {
        const int64_t first = static_cast<int64_t>(i) * kBlockSize;
        const int64_t last = std::min(first + kBlockSize - 1, size - 1);
        if (++m_repairRounds[first] > kRepairRoundsPerBlock) {
            log.Add("Download_CheckHash : block at %lld still bad after %d repairs.\n", static_cast<long long>(first),
                    kRepairRoundsPerBlock);
            SetError(E_Error_RepairFailError);
            return false;
        }
        std::vector<RepairPiece> block = PlanBlockRepairLocked(first, last);
        std::set<std::string> writers;
        for (const RepairPiece& piece : block) {
            bool fallback = false;
            if (!ChooseRepairUrlLocked(piece.writers, &fallback)) {
                log.Add("Download_RepairData : GetBestURL error, start(%d), end(%d).\n", static_cast<int>(piece.first),
                        static_cast<int>(piece.last));
                m_repairLink.clear();
                SetError(E_Error_RepairFailError);
                return false;
            }
            writers.insert(piece.writers.begin(), piece.writers.end());
        }
        for (const std::string& url : writers) ++m_urlBadBlocks[url];
        pieces.insert(pieces.end(), block.begin(), block.end());
    }
    return true;
}

std::vector<DownloaderCurl::RepairPiece> DownloaderCurl::PlanBlockRepairLocked(int64_t first, int64_t last) {
    // What each range wrote into the block (items are never removed, so
    // earlier repairs count too).
    struct Span {
        int64_t from, to;
        const char* url;
    };
    std::vector<Span> spans;
    std::set<std::string> writers;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        if (!item.url || item.pos <= item.start) continue;
        Span span{std::max(item.start, first), std::min(item.pos - 1, last), item.url};
        if (span.from > span.to) continue;
        spans.push_back(span);
        writers.insert(item.url);
    }
    bool fallback = false;
    if (writers.empty() || CleanRepairUrlLocked(writers, &fallback)) return {RepairPiece{first, last, writers}};
    // Every mirror at hand wrote into the block: each part goes to a mirror
    // that did not write that part, so the one that spoiled it is never asked again.
    std::vector<int64_t> cuts = {first, last + 1};
    for (const Span& span : spans) {
        cuts.push_back(span.from);
        cuts.push_back(span.to + 1);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<RepairPiece> pieces;
    for (size_t c = 0; c + 1 < cuts.size(); ++c) {
        std::set<std::string> partWriters;
        for (const Span& span : spans)
            if (span.from <= cuts[c] && cuts[c] <= span.to) partWriters.insert(span.url);
        if (!pieces.empty() && pieces.back().writers == partWriters)
            pieces.back().last = cuts[c + 1] - 1;
        else
            pieces.push_back(RepairPiece{cuts[c], cuts[c + 1] - 1, partWriters});
    }
    return pieces;
}

const char* DownloaderCurl::CleanRepairUrlLocked(const std::set<std::string>& writers, bool* fallback) {
    *fallback = false;
    // The fastest live mirror that wrote none of these bytes, else the fallback.
    if (const char* best = FastestUrlLocked(writers)) return best;
    if (m_fallback.valid && !writers.count(m_fallback.url) && !MirrorBenchedLocked(m_fallback.url)) {
        *fallback = true;
        return m_fallback.url;
    }
    return nullptr;
}

const char* DownloaderCurl::ChooseRepairUrlLocked(const std::set<std::string>& writers, bool* fallback) {
    if (const char* clean = CleanRepairUrlLocked(writers, fallback)) return clean;
    // Every live mirror wrote them: the one seen in the fewest bad blocks.
    const char* best = nullptr;
    int fewest = 0;
    uint32_t bestSpeed = 0;
    for (const auto& entry : m_items) {
        const DownloadItem& item = entry.second;
        const bool usable = item.status == E_Status_Runing || item.status == E_Status_Succeed ||
                            item.status == E_Status_StopByDispatch;
        if (!usable || !item.url || item.speed == 0 || MirrorBenchedLocked(item.url)) continue;
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

int DownloaderCurl::RepairData(int64_t first, int64_t last, const std::set<std::string>& writers) {
    DownloadItem* fresh;
    {
        DeferredLog log;  // written after the lock is released
        std::lock_guard<std::mutex> guard(m_lock);
        bool fallback = false;
        const char* url = ChooseRepairUrlLocked(writers, &fallback);
        if (!url) {
            log.Add("Download_RepairData : GetBestURL error, start(%d), end(%d).\n", static_cast<int>(first),
                    static_cast<int>(last));
            m_repairLink.clear();
            return E_INVALIDARG;
        }
        if (IsFallbackHost(url)) m_usingFallback = true;
        if (fallback) {
            // The switch is recorded for the range that covered the repaired bytes.
            std::string cover;
            for (const auto& entry : m_items) {
                if (entry.second.start <= first && entry.second.end >= last && entry.second.url) {
                    cover = ExtractUrlHost(entry.second.url);
                    break;
                }
            }
            m_switches.push_back({cover, E_Switch_Repair});
        }
        m_repairLink = url;
        DownloadItem item;
        item.url = url;
        item.start = item.pos = first;
        item.end = last;
        item.lastDataTick = item.startTick = GetTickCount();
        fresh = InsertItemLocked(item);
        log.Add("Download_RepairData : GetBestURL Info, start(%d), end(%d), ID(%d).\n", static_cast<int>(first),
                static_cast<int>(last), fresh->id);
    }
    BeginDownloadItem(fresh);
    return 0;
}
