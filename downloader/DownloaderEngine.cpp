// Engine control (start, stop, destruction, thread joins) and the loading of
// the download manifest from text, a file or a URL.
#include <process.h>

#include <cctype>
#include <cstring>
#include <utility>

#include "AutoMutex.h"
#include "CurlHandle.h"
#include "Digest.h"
#include "DownloaderCurl.h"
#include "Log.h"
#include "Text.h"
#include "XMLParse.h"

namespace {

// One record per start, owned by the manifest-load thread.
struct LoadArgs {
    DownloaderCurl* engine;
    const char* text;
    int length;
};

bool IsDigest(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The MD5 of the file as hex text, or "" when it cannot be read or has
// another size than expected (which cannot match anyway, and keeps a device
// or a huge file from being read at all).
std::string FileDigest(const std::wstring& path, int64_t expectedSize) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return "";
    int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size != expectedSize) return "";
    Md5Hasher hasher;
    unsigned char digest[16];
    return hasher.HashFile(path.c_str(), digest) ? hasher.ToHexString() : "";
}

bool CopyBounded(char* to, size_t capacity, const std::string& from) {
    if (from.size() >= capacity) return false;
    memcpy(to, from.c_str(), from.size() + 1);
    return true;
}

void WaitAndClose(UniqueHandle thread, DWORD limitMs, const char* what) {
    if (!thread) return;
    // A thread never waits for itself (a callback on an engine thread that
    // starts the engine again): it ends on its own.
    if (GetThreadId(thread.get()) != GetCurrentThreadId() && WaitForSingleObject(thread.get(), limitMs) != WAIT_OBJECT_0)
        WriteLog("DownloaderCurl : %s thread did not end in time.\n", what);
}

// Takes a handle out of its field under the lock, so it is waited for and
// closed once.
UniqueHandle TakeHandle(std::mutex& lock, HANDLE& field) {
    std::lock_guard<std::mutex> guard(lock);
    return UniqueHandle(std::exchange(field, nullptr));
}

}  // namespace

DownloaderCurl::~DownloaderCurl() {
    m_shutdown = true;
    StopDownload();
    JoinThreads();
}

void DownloaderCurl::JoinThreads() {
    // The manifest thread may still start transfers and the dispatcher, the
    // dispatcher and repairs may still add items: join until nothing is left.
    WaitAndClose(TakeHandle(m_lock, m_loadThread), kThreadJoinMs, "manifest");
    WaitAndClose(TakeHandle(m_lock, m_cfgItem.thread), kThreadJoinMs, "manifest transfer");
    WaitAndClose(TakeHandle(m_lock, m_dispatchThread), kThreadJoinMs, "dispatcher");
    for (;;) {
        UniqueHandle t;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (auto& entry : m_items) {
                if (entry.second.thread) {
                    t.reset(std::exchange(entry.second.thread, nullptr));
                    break;
                }
            }
        }
        if (!t) break;
        WaitAndClose(std::move(t), kThreadJoinMs, "transfer");
    }
}

bool DownloaderCurl::WaitStop(DWORD ms) {
    if (!m_stopEvent) {
        Sleep(ms);
        return m_stopped;
    }
    return WaitForSingleObject(m_stopEvent.get(), ms) == WAIT_OBJECT_0;
}

int DownloaderCurl::StopDownload() {
    {
        // Under the file lock: no writer is inside the stream while it is
        // closed, and no event is being sent; none is sent after this.
        AutoMutex lock(m_mutex.get());
        m_stopped = true;
        if (m_stopEvent) SetEvent(m_stopEvent.get());
        m_downloading = false;
        if (!lock.locked()) {
            // The stream stays open for the next start or the engine's end,
            // whoever holds the lock: the transfers still stop.
            WriteLog("Download_StopDownload : the file lock was not had within %lu ms, the target stays open.\n",
                     static_cast<unsigned long>(AutoMutex::WaitLimit()));
            std::lock_guard<std::mutex> guard(m_lock);
            for (auto& entry : m_items) entry.second.status = E_Status_StopByDispatch;
            m_cfgItem.status = E_Status_StopByDispatch;
            return E_FAIL;
        }
        CloseFile();
        m_fileSize = 0;
        m_written = 0;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& entry : m_items) entry.second.status = E_Status_StopByDispatch;
    m_cfgItem.status = E_Status_StopByDispatch;
    return 0;
}

// --- manifest ---------------------------------------------------------------

int DownloaderCurl::LoadConfig(boost::shared_ptr<IXMLParse> parser, std::string targetPath) {
    if (!parser) {
        SetError(E_Error_ConfigLoadError);
        return E_INVALIDARG;
    }
    DownloadConfig config;
    if (!CopyBounded(config.targetPath, sizeof(config.targetPath), targetPath)) {
        WriteLog("Download_LoadConfig : target path too long (%u).\n", static_cast<unsigned>(targetPath.size()));
        SetError(E_Error_ConfigLoadError);
        return E_INVALIDARG;
    }
    config.connectionsPerUrl = 2;

    int version = 0;
    if (!parser->ReadInt("download.version", version)) {
        m_state = E_State_NeedUpdate;
        SetError(E_Error_ConfigLoadVersionError);
        return E_ABORT;
    }
    if (version > 1) {
        m_state = E_State_NeedUpdate;
        SetError(E_Error_NeedUpdateDownload);
        return E_ABORT;
    }
    int size = 0;
    // A file of no bytes, or a negative size, describes nothing to fetch.
    if (!parser->ReadInt("download.size", size) || size <= 0) {
        if (size <= 0) WriteLog("Download_LoadConfig : file size %d refused.\n", size);
        SetError(E_Error_ConfigLoadFileSizeError);
        return E_ABORT;
    }
    config.fileSize = size;
    int urlCount = 0;
    if (!parser->ReadInt("download.url.size", urlCount)) {
        SetError(E_Error_ConfigLoadUrlSizeError);
        return E_ABORT;
    }
    char key[128];
    for (int i = 0; i < urlCount && i < kMaxManifestUrls; ++i) {
        snprintf(key, sizeof(key), "download.url.item_%d.value", i);
        std::string url;
        // A URL that does not fit its record is refused, never cut.
        if (!parser->ReadString(key, url) || !CopyBounded(config.urls[i].url, sizeof(config.urls[i].url), url)) {
            SetError(E_Error_ConfigLoadUrlError);
            return E_ABORT;
        }
        config.urls[i].valid = true;
    }
    int hashCount = 0;
    if (!parser->ReadInt("download.hash.size", hashCount)) {
        SetError(E_Error_ConfigLoadHashSizeError);
        return E_ABORT;
    }
    for (int i = 0; i < hashCount; ++i) {
        snprintf(key, sizeof(key), "download.hash.item_%d.value", i);
        std::string hash;
        // A digest that is not 32 hex characters can never match: refused here.
        if (!parser->ReadString(key, hash) || !IsDigest(hash)) {
            SetError(E_Error_ConfigLoadHashError);
            return E_ABORT;
        }
        if (i == 0)
            config.fileHash = hash;
        else
            config.blockHashes.push_back(hash);
    }
    if (hashCount < 1) {
        SetError(E_Error_ConfigLoadHashError);
        return E_ABORT;
    }

    std::wstring target = Utf8ToWide(targetPath);
    if (FileExists(target) && _stricmp(FileDigest(target, config.fileSize).c_str(), config.fileHash.c_str()) == 0) {
        SetError(E_Error_NoNeedDownload);
        Finish(E_State_Succeed, E_Download_Succeed, 0, 1);
        return 0;
    }
    return StartTransfer(config);
}

int DownloaderCurl::LoadConfigData(const char* text, int length) {
    ResetState(false);
    int result = E_FAIL;
    if (text) {
        boost::shared_ptr<IXMLParse> parser;
        if (CreateXMLParse(parser) != 0 || !parser->LoadFromMemory(text, length)) {
            SetError(E_Error_ConfigLoadError);
        } else {
            result = LoadConfig(parser, m_targetPath);
        }
    }
    if (result < 0) {
        DownloadState state = GetState() == E_State_NeedUpdate ? E_State_NeedUpdate : E_State_Fail;
        Finish(state, E_Download_Fail, 0, 0);
    }
    return result;
}

int DownloaderCurl::LoadManifestFile(const std::wstring& path, const std::string& targetPath) {
    boost::shared_ptr<IXMLParse> parser;
    if (CreateXMLParse(parser) != 0 || !parser->LoadFromFile(path)) {
        SetError(E_Error_ConfigLoadError);
        return E_INVALIDARG;
    }
    return LoadConfig(parser, targetPath);
}

int DownloaderCurl::LoadConfigFile(std::wstring path, std::string targetPath) {
    // The items and the stream of a running download belong to its threads.
    if (Busy() || m_shutdown) {
        WriteLog("Download_LoadConfigFile : refused, a download is running.\n");
        return kBusy;
    }
    JoinThreads();
    if (!ResetState(true)) {
        FailForFileLock("Download_LoadConfigFile");
        return E_FAIL;
    }
    return LoadManifestFile(path, targetPath);
}

unsigned __stdcall DownloaderCurl::Download_Thread_Load_Cfg(void* arg) {
    LoadArgs* args = static_cast<LoadArgs*>(arg);
    if (!args || !args->engine) {
        WriteLog("Download_Thread_Download_Cfg : error.\n");
        delete args;
        return 0;
    }
    if (args->engine->LoadConfigData(args->text, args->length) == 0) {
        WriteLog("Download_Thread_Download_Cfg : succeed.\n");
    } else {
        WriteLog("Download_Thread_Download_Cfg : failed.\n");
        WriteLog("Download_Thread_Download_Cfg : error.\n");
    }
    delete args;
    return 0;
}

int DownloaderCurl::StartWithConfigData(const char* text, int length, std::string targetPath) {
    if (m_shutdown) return E_ABORT;
    // A previous start of this engine ends first, so no thread of it outlives the reset.
    StopDownload();
    JoinThreads();
    if (!ResetState(true)) {
        FailForFileLock("Download_StartWithConfigData");
        return E_FAIL;
    }
    if (!CopyBounded(m_targetPath, sizeof(m_targetPath), targetPath)) {
        WriteLog("Download_StartWithConfigData : target path too long (%u).\n", static_cast<unsigned>(targetPath.size()));
        SetError(E_Error_ConfigLoadError);
        Finish(E_State_Fail, E_Download_Fail, 0, 0);
        return E_INVALIDARG;
    }
    // Downloading is on before the thread runs and stays on through loading
    // and probing, so a caller never sees a pause between start and outcome.
    m_downloading = true;
    LoadArgs* args = new (std::nothrow) LoadArgs{this, text, length};
    uintptr_t thread = args ? _beginthreadex(nullptr, 0, Download_Thread_Load_Cfg, args, 0, nullptr) : 0;
    if (!thread) {
        delete args;
        Finish(E_State_Fail, E_Download_Fail, 0, 0);
        return E_FAIL;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_loadThread = reinterpret_cast<HANDLE>(thread);
    return 0;
}

size_t DownloaderCurl::OnConfigData(char* data, size_t size, size_t count, void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item || !item->file || !item->owner) return 0;
    return fwrite(data, size, count, item->file) * size;
}

void DownloaderCurl::SetConfigTransferOptions(void* handle, DownloadItem* item) {
    CURL* curl = static_cast<CURL*>(handle);
    SetBaseOptions(curl, m_cfgUrl, OnConfigData, item);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AbortWhenStopped);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &m_stopped);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20000L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Lavf/55.13.102");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    std::lock_guard<std::mutex> guard(m_lock);
    ApplyProxy(curl);
}

int DownloaderCurl::StartWithConfigUrl(std::string url, std::string targetPath) {
    if (m_shutdown) return E_ABORT;
    StopDownload();
    JoinThreads();
    if (!ResetState(true)) {
        FailForFileLock("Download_StartWithConfigUrl");
        return E_FAIL;
    }
    memset(m_cfgUrl, 0, sizeof(m_cfgUrl));
    // Over-long values are refused, never cut: the ".cfg" path must fit too.
    if (!CopyBounded(m_cfgUrl, sizeof(m_cfgUrl), url) || targetPath.size() + 4 >= sizeof(m_cfgPath))
        return E_INVALIDARG;
    const int64_t size = GetDownloadFileLenth(m_cfgUrl);
    std::string cfgPath = targetPath + ".cfg";
    UniqueFile file(_wfopen(Utf8ToWide(cfgPath).c_str(), L"wb"));
    if (!file) return E_INVALIDARG;
    CopyBounded(m_cfgPath, sizeof(m_cfgPath), cfgPath);
    CopyBounded(m_targetPath, sizeof(m_targetPath), targetPath);

    DownloadItem* item = &m_cfgItem;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_cfgItem = DownloadItem();
        item->SetUrl(UrlTextLocked(m_cfgUrl));
        item->end = size;
        item->lastDataTick = item->startTick = GetTickCount();
        item->id = static_cast<int32_t>(m_items.size());
        m_items[item->id] = *item;
        item->file = file.get();  // the manifest thread's from here on
        item->owner = this;
    }
    m_downloading = true;  // before the thread, as for manifest text
    uintptr_t thread = _beginthreadex(nullptr, 0, Download_Thread_Download_Cfg, item, 0, nullptr);
    if (thread) {
        file.release();
    } else {
        std::lock_guard<std::mutex> guard(m_lock);
        item->file = nullptr;
    }
    if (!thread) {
        Finish(E_State_Fail, E_Download_Fail, 0, 0);
        return E_FAIL;
    }
    int id;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        item->thread = reinterpret_cast<HANDLE>(thread);
        id = item->id;
    }
    WriteLog("Download_BeginDownload : Download link id(%d) thread(%d).\n", id, static_cast<int>(thread));
    return 0;
}

unsigned __stdcall DownloaderCurl::Download_Thread_Download_Cfg(void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item || !item->owner) {
        WriteLog("Download_Thread_Download_Cfg Error : pItem == NULL.\n");
        return 0;
    }
    DownloaderCurl* engine = item->owner;
    for (int attempt = 0; attempt < 3 && !engine->m_stopped; ++attempt) {
        // Each attempt on a fresh handle and a ".cfg" file written anew.
        FILE* file = nullptr;
        {
            std::lock_guard<std::mutex> guard(engine->m_lock);
            file = item->file;
            item->file = nullptr;
        }
        if (!file) file = _wfopen(Utf8ToWide(engine->m_cfgPath).c_str(), L"wb");
        CurlEasy curl = MakeCurlEasy();
        {
            std::lock_guard<std::mutex> guard(engine->m_lock);
            item->file = file;
            item->curl = file ? curl.get() : nullptr;
            if (item->status != E_Status_StopByDispatch) item->status = E_Status_Runing;
        }
        CURLcode rc = CURLE_FAILED_INIT;
        if (file && curl) {
            engine->SetConfigTransferOptions(curl.get(), item);
            rc = curl_easy_perform(curl.get());
        }
        {
            std::lock_guard<std::mutex> guard(engine->m_lock);
            item->endTick = GetTickCount();
            item->result = rc;
            if (item->status == E_Status_Runing) item->status = rc == CURLE_OK ? E_Status_Succeed : E_Status_Fail;
            item->curl = nullptr;
        }
        curl.reset();
        if (engine->OnConfigDownloaded(item) == 0) {
            WriteLog("Download_Thread_Download_Cfg : succeed.\n");
            return 0;
        }
        WriteLog("Download_Thread_Download_Cfg : failed.\n");
    }
    {
        // A stop before the first attempt leaves the first ".cfg" stream here.
        std::lock_guard<std::mutex> guard(engine->m_lock);
        UniqueFile left(item->file);
        item->file = nullptr;
    }
    // Only the last failed attempt reports: the caller waits for one outcome.
    if (engine->m_stopped) return 0;
    engine->SetError(E_Error_ConfigDownloadError);
    WriteLog("Download_Thread_Download_Cfg : error.\n");
    DownloadState state = engine->GetState() == E_State_NeedUpdate ? E_State_NeedUpdate : E_State_Fail;
    engine->Finish(state, E_Download_Fail, 0, 0);
    return 0;
}

int DownloaderCurl::OnConfigDownloaded(DownloadItem* item) {
    ResetState(false);
    if (!item) return E_POINTER;
    UniqueFile file;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        file.reset(item->file);
        item->file = nullptr;
    }
    if (!file) return E_POINTER;
    file.reset();
    if (m_stopped) return E_ABORT;
    int result = E_FAIL;
    std::wstring cfg = Utf8ToWide(m_cfgPath);
    if (FileExists(cfg)) result = LoadManifestFile(cfg, m_targetPath);
    return result;
}
