// Engine control (start, stop, destruction, thread joins) and the loading of
// the download manifest from text, a file or a URL.
#include <process.h>

#include <curl/curl.h>

#include <cctype>
#include <cstring>

#include "AutoMutex.h"
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

// The MD5 of the file as 32 upper-case hex characters, or "" when it cannot
// be read or has another size than expected (which cannot match anyway, and
// keeps a device or a huge file from being read at all).
std::string FileDigest(const std::wstring& path, int64_t expectedSize) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return "";
    int64_t size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size != expectedSize) return "";
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "";
    char buffer[64] = {};
    int ok = GetFileHash(f, buffer, sizeof(buffer));
    fclose(f);
    return ok ? buffer : "";
}

bool CopyBounded(char* to, size_t capacity, const std::string& from) {
    if (from.size() >= capacity) return false;
    memcpy(to, from.c_str(), from.size() + 1);
    return true;
}

void WaitAndClose(HANDLE& thread, DWORD limitMs, const char* what) {
    if (!thread) return;
    if (WaitForSingleObject(thread, limitMs) != WAIT_OBJECT_0)
        WriteLog("DownloaderCurl : %s thread did not end in time.\n", what);
    CloseHandle(thread);
    thread = nullptr;
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
    WaitAndClose(m_loadThread, kThreadJoinMs, "manifest");
    {
        HANDLE t = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            t = m_cfgItem.thread;
            m_cfgItem.thread = nullptr;
        }
        WaitAndClose(t, kThreadJoinMs, "manifest transfer");
    }
    WaitAndClose(m_dispatchThread, kThreadJoinMs, "dispatcher");
    for (;;) {
        HANDLE t = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (auto& entry : m_items) {
                if (entry.second.thread) {
                    t = entry.second.thread;
                    entry.second.thread = nullptr;
                    break;
                }
            }
        }
        if (!t) break;
        WaitAndClose(t, kThreadJoinMs, "transfer");
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
    m_stopped = true;
    if (m_stopEvent) SetEvent(m_stopEvent.get());
    {
        // No writer may be inside the stream while it is closed.
        AutoMutex lock(m_mutex.get());
        m_downloading = false;
        CloseFile();
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& entry : m_items) entry.second.status = E_Status_StopByDispatch;
        m_cfgItem.status = E_Status_StopByDispatch;
    }
    m_fileSize = 0;
    m_written = 0;
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
    if (!parser->ReadInt("download.size", size)) {
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

    std::wstring target = NarrowToWide(targetPath);
    if (FileExists(target) && _stricmp(FileDigest(target, config.fileSize).c_str(), config.fileHash.c_str()) == 0) {
        SetError(E_Error_NoNeedDownload);
        Finish(E_State_Succeed, E_Download_Succeed, 0, 1);
        return 0;
    }
    return BeginDownload(config);
}

int DownloaderCurl::LoadConfigData(const char* text, int length) {
    ResetState(true);
    int result = E_FAIL;
    if (text) {
        boost::shared_ptr<IXMLParse> parser;
        if (CreateXMLParse(parser) != 0 || !parser->LoadFromMemory(text, length)) {
            SetError(E_Error_ConfigLoadError);
        } else {
            result = LoadConfig(parser, m_targetPath);
        }
    }
    // A stop ends a start without an outcome, as it does a running transfer.
    if (result < 0 && !m_stopped) {
        DownloadState state = GetState() == E_State_NeedUpdate ? E_State_NeedUpdate : E_State_Fail;
        Finish(state, E_Download_Fail, 0, 0);
    }
    return result;
}

int DownloaderCurl::LoadConfigFile(std::wstring path, std::string targetPath) {
    ResetState(true);
    boost::shared_ptr<IXMLParse> parser;
    if (CreateXMLParse(parser) != 0 || !parser->LoadFromFile(path)) {
        SetError(E_Error_ConfigLoadError);
        return E_INVALIDARG;
    }
    return LoadConfig(parser, targetPath);
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
    // A previous start of this engine ends first, so no thread of it outlives the reset.
    if (m_loadThread || m_dispatchThread) {
        StopDownload();
        JoinThreads();
    }
    ResetState();
    if (!CopyBounded(m_targetPath, sizeof(m_targetPath), targetPath)) {
        WriteLog("Download_StartWithConfigData : target path too long (%u).\n", static_cast<unsigned>(targetPath.size()));
        SetError(E_Error_ConfigLoadError);
        Finish(E_State_Fail, E_Download_Fail, 0, 0);
        return E_INVALIDARG;
    }
    // Downloading is on before the thread runs: a load that fails at once
    // must not leave the flag set after its failure event.
    m_downloading = true;
    LoadArgs* args = new (std::nothrow) LoadArgs{this, text, length};
    uintptr_t thread = args ? _beginthreadex(nullptr, 0, Download_Thread_Load_Cfg, args, 0, nullptr) : 0;
    if (!thread) {
        delete args;
        Finish(E_State_Fail, E_Download_Fail, 0, 0);
        return E_FAIL;
    }
    m_loadThread = reinterpret_cast<HANDLE>(thread);
    return 0;
}

size_t DownloaderCurl::OnConfigData(char* data, size_t size, size_t count, void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item || !item->file || !item->owner) return 0;
    return fwrite(data, size, count, item->file) * size;
}

void* DownloaderCurl::NewTransferHandle(DownloadItem* item) {
    CURL* curl = curl_easy_init();
    if (!curl) return nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, m_cfgUrl);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnConfigData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, item);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AbortWhenStopped);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &m_stopped);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20000L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Lavf/55.13.102");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    std::lock_guard<std::mutex> guard(m_lock);
    ApplyProxy(curl);
    return curl;
}

int DownloaderCurl::StartWithConfigUrl(std::string url, std::string targetPath) {
    if (m_loadThread || m_dispatchThread || m_cfgItem.thread) {
        StopDownload();
        JoinThreads();
    }
    ResetState();
    m_cfgItem = DownloadItem();
    memset(m_cfgUrl, 0, sizeof(m_cfgUrl));
    // Over-long values are refused, never cut: the ".cfg" path must fit too.
    if (!CopyBounded(m_cfgUrl, sizeof(m_cfgUrl), url) || targetPath.size() + 4 >= sizeof(m_cfgPath))
        return E_INVALIDARG;

    DownloadItem& item = m_cfgItem;
    item.url = m_cfgUrl;
    item.end = GetDownloadFileLenth(m_cfgUrl);
    item.lastDataTick = item.startTick = GetTickCount();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        item.id = static_cast<int32_t>(m_items.size());
        m_items[item.id] = item;
    }
    std::string cfgPath = targetPath + ".cfg";
    item.file = _wfopen(NarrowToWide(cfgPath).c_str(), L"wb");
    if (!item.file) return E_INVALIDARG;
    item.owner = this;
    CopyBounded(m_cfgPath, sizeof(m_cfgPath), cfgPath);
    CopyBounded(m_targetPath, sizeof(m_targetPath), targetPath);
    item.curl = NewTransferHandle(&item);

    m_downloading = true;  // before the thread, as for manifest text
    uintptr_t thread = _beginthreadex(nullptr, 0, Download_Thread_Download_Cfg, &item, 0, nullptr);
    if (!thread) {
        if (item.curl) curl_easy_cleanup(static_cast<CURL*>(item.curl));
        item.curl = nullptr;
        fclose(item.file);
        item.file = nullptr;
        Finish(E_State_Fail, E_Download_Fail, 0, 0);
        return E_FAIL;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        item.thread = reinterpret_cast<HANDLE>(thread);
    }
    WriteLog("Download_BeginDownload : Download link id(%d) thread(%d).\n", item.id,
             static_cast<int>(reinterpret_cast<uintptr_t>(item.thread)));
    return 0;
}

unsigned __stdcall DownloaderCurl::Download_Thread_Download_Cfg(void* arg) {
    DownloadItem* item = static_cast<DownloadItem*>(arg);
    if (!item) {
        WriteLog("Download_Thread_Download_Cfg Error : pItem == NULL.\n");
        return 0;
    }
    DownloaderCurl* engine = item->owner;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            if (engine->m_stopped) break;
            item->file = _wfopen(NarrowToWide(engine->m_cfgPath).c_str(), L"wb");
            item->curl = item->file ? engine->NewTransferHandle(item) : nullptr;
        }
        item->status = E_Status_Runing;
        CURLcode rc = item->curl ? curl_easy_perform(static_cast<CURL*>(item->curl)) : CURLE_FAILED_INIT;
        item->endTick = GetTickCount();
        item->result = rc;
        if (item->status == E_Status_Runing) item->status = rc == CURLE_OK ? E_Status_Succeed : E_Status_Fail;
        if (item->curl) curl_easy_cleanup(static_cast<CURL*>(item->curl));
        item->curl = nullptr;
        if (engine && engine->OnConfigDownloaded(item) == 0) {
            WriteLog("Download_Thread_Download_Cfg : succeed.\n");
            return 0;
        }
        WriteLog("Download_Thread_Download_Cfg : failed.\n");
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
    ResetState(true);
    if (!item || !item->file) return E_POINTER;
    fclose(item->file);
    item->file = nullptr;
    int result = E_FAIL;
    std::wstring cfg = NarrowToWide(m_cfgPath);
    if (FileExists(cfg)) result = LoadConfigFile(cfg, m_targetPath);
    return result;
}
