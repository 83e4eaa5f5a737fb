// The segmented transfer: start, cutting into ranges, one libcurl transfer
// per range on its own thread, the write path and the abort rule.
#include <process.h>

#include <cstring>

#include "AutoMutex.h"
#include "CurlHandle.h"
#include "DownloaderCurl.h"
#include "Log.h"
#include "Text.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

int DownloaderCurl::BeginDownload(DownloadConfig& config) {
    // The items and the stream of a running download belong to its threads.
    if (Busy() || m_shutdown) {
        WriteLog("Download_BeginDownload : refused, a download is running.\n");
        return kBusy;
    }
    JoinThreads();
    if (!ResetState(true)) {
        FailForFileLock("Download_BeginDownload");
        return E_FAIL;
    }
    return StartTransfer(config);
}

int DownloaderCurl::StartTransfer(DownloadConfig& config) {
    if (m_shutdown || m_stopped) return E_ABORT;
    m_config = config;
    m_fileSize = static_cast<uint32_t>(config.fileSize);
    if (CheckDownload(config) != 0) {
        WriteLog("Error : BeginDownload (CheckDownload(siItem) != S_OK).\n");
        if (!m_stopped) m_state = E_State_Fail;
        SetError(E_Error_DownloadCheckUrlError);
        return E_FAIL;
    }
    FILE* file;
    {
        AutoMutex lock(m_mutex.get());
        if (!lock.locked()) {
            FailForFileLock("Download_BeginDownload");
            return E_FAIL;
        }
        if (m_stopped) return E_ABORT;
        CloseFile();
        m_fileSize = 0;
        m_written = 0;
        m_fileSize = static_cast<uint32_t>(config.fileSize);
        // The narrow target path is UTF-8; the file is opened by its wide path.
        m_targetWide = Utf8ToWide(m_config.targetPath);
        m_file.reset(_wfopen(m_targetWide.c_str(), L"wb"));
        // Unbuffered: a full disk shows at the write that meets it.
        if (m_file) setvbuf(m_file.get(), nullptr, _IONBF, 0);
        file = m_file.get();
    }
    WriteLog("Download_BeginDownload : OpenFile(%d), Mutex(%d), File(%s).\n",
             static_cast<int>(reinterpret_cast<uintptr_t>(file)),
             static_cast<int>(reinterpret_cast<uintptr_t>(m_mutex.get())), m_config.targetPath);
    if (!file) {
        WriteLog("Download_BeginDownload : the target cannot be opened (%d).\n", errno);
        m_state = E_State_Fail;
        SetError(E_Error_CheckHashError);
        return E_FAIL;
    }
    return InitDownload();
}

std::shared_ptr<const std::string> DownloaderCurl::UrlTextLocked(const char* url) {
    if (!url) return nullptr;
    auto& text = m_urlTexts[url];
    if (!text) text = std::make_shared<const std::string>(url);
    return text;
}

DownloadItem* DownloaderCurl::InsertItemLocked(const DownloadItem& item) {
    int32_t id = static_cast<int32_t>(m_items.size());
    DownloadItem& entry = m_items[id];
    entry = item;
    entry.id = id;
    entry.SetUrl(UrlTextLocked(item.url));
    // The item holds its handle until its transfer thread takes it over.
    entry.curl = curl_easy_init();
    entry.thread = nullptr;
    entry.result = 0;
    entry.status = E_Status_Runing;
    entry.replyChecked = entry.replyOk = false;
    entry.replyStart = -1;
    return &entry;
}

int DownloaderCurl::InitDownload() {
    std::vector<DownloadItem*> fresh;
    {
        // The file lock orders the start against a stop: downloading never
        // turns on after StopDownload turned it off.
        AutoMutex fileLock(m_mutex.get());
        if (!fileLock.locked()) {
            FailForFileLock("Download_InitDownload");
            return E_FAIL;
        }
        std::lock_guard<std::mutex> guard(m_lock);
        const int64_t n = static_cast<int64_t>(m_vecUrlCfg.size());
        if (n < 1) {
            SetError(E_Error_DownloadUrlCountError);
            return E_INVALIDARG;
        }
        if (m_stopped) return E_ABORT;
        m_written = 0;
        int per = m_config.connectionsPerUrl;
        if (per < 1 || per > 10) per = 2;
        const int64_t size = static_cast<int64_t>(m_fileSize.load());
        int64_t total = n * per;
        // Never more ranges than bytes: no empty or reversed range.
        if (total > size) total = size;
        m_connections = static_cast<int>(total);
        m_blockDigests.Reset(size, kBlockSize);
        m_items.clear();
        m_downloading = true;
        const int64_t chunk = total ? size / total : 0;
        const uint32_t now = GetTickCount();
        for (int64_t i = 0; i < total; ++i) {
            DownloadItem item;
            item.url = m_vecUrlCfg[static_cast<size_t>(i % n)].url;
            item.start = i * chunk;
            item.end = (i == total - 1) ? size - 1 : item.start + chunk - 1;
            item.pos = item.start;
            item.lastDataTick = item.startTick = now;
            fresh.push_back(InsertItemLocked(item));
        }
    }
    // Every range has its handle before the first one starts, so the first
    // to end cannot take the others for finished.
    for (DownloadItem* item : fresh) BeginDownloadItem(item);
    uintptr_t thread = _beginthreadex(nullptr, 0, Download_Dispatch, this, 0, nullptr);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_dispatchThread = reinterpret_cast<HANDLE>(thread);
    }
    WriteLog("Download_InitDownload : start download dispatch, thread(%d).\n", static_cast<int>(thread));
    if (fresh.empty()) CheckFinish(nullptr);  // an empty file: nothing to fetch, only to verify
    return 0;
}

int DownloaderCurl::BeginDownloadItem(DownloadItem* item) {
    if (!item) return E_POINTER;
    CURL* curl;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!item->curl) item->curl = curl_easy_init();
        curl = static_cast<CURL*>(item->curl);
        item->result = 0;
        item->file = m_file.get();
        item->owner = this;
        if (curl) {
            SetBaseOptions(curl, item->url ? item->url : "", OnWriteData, item);
            curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeaderData);
            curl_easy_setopt(curl, CURLOPT_HEADERDATA, item);
            curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, OnTransferProgress);
            curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, item);
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 5L);
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20000L);
            curl_easy_setopt(curl, CURLOPT_USERAGENT, "Downloader");
            curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferBufferSize);
            if (item->end < (1LL << 32) && item->end <= static_cast<int64_t>(m_fileSize.load())) {
                char range[64];
                snprintf(range, sizeof(range), "%lld-%lld", static_cast<long long>(item->start),
                         static_cast<long long>(item->end));
                curl_easy_setopt(curl, CURLOPT_RANGE, range);
            }
            ApplyProxy(curl);
        }
    }
    uintptr_t thread = curl ? _beginthreadex(nullptr, 0, Download_Internal, item, 0, nullptr) : 0;
    int id;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        id = item->id;
        if (thread) {
            item->thread = reinterpret_cast<HANDLE>(thread);
        } else {
            // No handle or no thread: a failed range, which the dispatcher restarts.
            CurlEasy owned(static_cast<CURL*>(item->curl));
            item->curl = nullptr;
            if (item->status == E_Status_Runing) item->status = E_Status_Fail;
        }
    }
    if (thread) WriteLog("Download_BeginDownloadItem : id(%d) thread(%d).\n", id, static_cast<int>(thread));
    return 0;
}

unsigned __stdcall DownloaderCurl::Download_Internal(void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item || !item->owner) {
        WriteLog("Download_Internal Error : pItem == NULL.\n");
        return 0;
    }
    DownloaderCurl* engine = item->owner;
    CurlEasy curl;  // this thread owns the handle from here on
    {
        std::lock_guard<std::mutex> guard(engine->m_lock);
        curl.reset(static_cast<CURL*>(item->curl));
    }
    if (!curl) {
        WriteLog("Download_Internal Error : pItem curl == NULL.\n");
        return 0;
    }
    CURLcode rc = curl_easy_perform(curl.get());
    int id, result, status;
    int64_t pos, end;
    {
        std::lock_guard<std::mutex> guard(engine->m_lock);
        item->endTick = GetTickCount();
        item->result = rc;
        pos = item->pos;
        end = item->end;
        if (item->status == E_Status_Runing) {
            // A reply that ended before the range did is a failed range,
            // whose rest the dispatcher fetches again from the first missing byte.
            if (rc == CURLE_OK && item->pos < item->end + 1) item->result = CURLE_PARTIAL_FILE;
            item->status = item->result == CURLE_OK ? E_Status_Succeed : E_Status_Fail;
        }
        item->curl = nullptr;
        engine->NoteTransferEndLocked(*item);
        id = item->id;
        result = item->result;
        status = item->status;
    }
    curl.reset();
    if (rc == CURLE_OK && result == CURLE_PARTIAL_FILE)
        WriteLog("Download_Internal : id(%d) ended short at %lld of %lld.\n", id, static_cast<long long>(pos),
                 static_cast<long long>(end + 1));
    engine->CheckFinish(item);
    if (result != 0 && status != E_Status_StopByDispatch)
        WriteLog("Download_Internal ERROR ID(%d), Result(%d).\n", id, result);
    else
        WriteLog("Download_Internal Finish (%d).\n", id);
    return 0;
}

void DownloaderCurl::NoteTransferEndLocked(const DownloadItem& item) {
    if (!item.url) return;
    // A mirror that delivers is healthy again; one that failed without a byte
    // counts towards being passed over.
    if (item.pos > item.start)
        m_failuresInRow[item.url] = 0;
    else if (item.status == E_Status_Fail)
        ++m_failuresInRow[item.url];
}

size_t DownloaderCurl::OnHeaderData(char* data, size_t size, size_t count, void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    size_t n = size * count;
    if (!item || !item->owner) return n;
    std::string line(data, n);
    std::lock_guard<std::mutex> guard(item->owner->m_lock);
    if (line.compare(0, 5, "HTTP/") == 0) {
        item->replyStart = -1;  // a new reply (after a redirect): forget the last one's
    } else if (line.size() > 14 && _strnicmp(line.c_str(), "Content-Range:", 14) == 0) {
        long long first = -1;
        const char* p = line.c_str() + 14;
        while (*p == ' ') ++p;
        if (_strnicmp(p, "bytes ", 6) == 0 && sscanf(p + 6, "%lld", &first) == 1) item->replyStart = first;
    }
    return n;
}

bool DownloaderCurl::AcceptReplyLocked(DownloadItem* item, DeferredLog& log) {
    long code = 0;
    curl_easy_getinfo(static_cast<CURL*>(item->curl), CURLINFO_RESPONSE_CODE, &code);
    const int64_t size = static_cast<int64_t>(m_fileSize.load());
    // Only bytes of this range may be written at this range's start.
    bool ok = (code == 206 && item->replyStart == item->start) ||
              (code == 200 && item->start == 0 && item->end == size - 1);
    if (!ok)
        log.Add("Download_OnWriteData : id(%d) refused reply, status(%ld) start(%lld), wanted %lld-%lld.\n", item->id,
                code, static_cast<long long>(item->replyStart), static_cast<long long>(item->start),
                static_cast<long long>(item->end));
    return ok;
}

size_t DownloaderCurl::OnWriteData(char* data, size_t size, size_t count, void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item || !item->owner) return 0;
    DownloaderCurl* engine = item->owner;
    DeferredLog log;  // written after the locks are released
    std::vector<BlockDigests::Job> complete;
    size_t w = 0;
    {
        AutoMutex lock(engine->m_mutex.get());
        if (!lock.locked()) {
            engine->FailForFileLock("Download_OnWriteData");
            return 0;
        }
        size_t n = size * count;
        int64_t pos;
        {
            std::lock_guard<std::mutex> guard(engine->m_lock);
            if (!item->replyChecked) {
                item->replyChecked = true;
                item->replyOk = engine->AcceptReplyLocked(item, log);
            }
            if (!item->replyOk) return 0;
            pos = item->pos;
            if (pos > item->end + 1) return 0;
            if (pos + static_cast<int64_t>(n) > item->end + 1) n = static_cast<size_t>(item->end + 1 - pos);
        }
        bool failed = false;
        w = engine->WriteAt(data, n, pos, &failed);
        if (failed) {
            // A target that takes no more bytes (a full disk) cannot be
            // completed by fetching again: the download fails now.
            log.Add("Download_OnWriteData : write failed at %lld (%d).\n", static_cast<long long>(pos), errno);
            engine->SetError(E_Error_CheckHashError);
            engine->Finish(E_State_Fail, E_Download_Fail, static_cast<unsigned>(engine->m_written.load()),
                           static_cast<long>(engine->m_fileSize.load()));
        }
        if (w) engine->m_blockDigests.Written(pos, static_cast<int64_t>(w), complete);
        std::lock_guard<std::mutex> guard(engine->m_lock);
        item->pos += static_cast<int64_t>(w);
        uint32_t now = GetTickCount();
        if (now != item->lastDataTick) {
            item->speed = static_cast<uint32_t>(static_cast<uint32_t>(w) * 1000u / (now - item->lastDataTick));
            item->lastDataTick = now;
        }
    }
    // Blocks this write completed are hashed now, on this thread and outside
    // the locks, while the other transfers go on.
    for (const BlockDigests::Job& job : complete) engine->m_blockDigests.Hash(engine->m_targetWide, job);
    return w;
}

size_t DownloaderCurl::WriteAt(const char* data, size_t length, int64_t offset, bool* failed) {
    if (!m_downloading) return 0;
    size_t w = 0;
    if (m_file && data) {
        if (_fseeki64(m_file.get(), offset, SEEK_SET) == 0) w = fwrite(data, 1, length, m_file.get());
        if (w < length && failed) *failed = true;
    } else if (failed) {
        *failed = true;
    }
    // Only what reached the file counts.
    uint64_t size = m_fileSize.load();
    uint64_t written = m_written.load() + w;
    if (written > size) written = size;
    m_written = written;
    NotifyCallback(E_Download_Progress, static_cast<unsigned>(written), static_cast<long>(size));
    return w;
}

int DownloaderCurl::OnTransferProgress(void* arg, double, double, double, double) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item || !item->owner) return 0;
    std::lock_guard<std::mutex> guard(item->owner->m_lock);
    return (item->status == E_Status_StopByDispatch || item->status == E_Status_Fail) ? 1 : 0;
}

void DownloaderCurl::CloseFile() {
    WriteLog("Download_CloseFile.\n");
    if (m_file) {
        int rc = fclose(m_file.release());
        WriteLog("CloseFile %d.\n", rc);
    }
}
