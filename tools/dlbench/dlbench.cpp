// dlbench: runs the download engine once on a manifest, the way the installer
// does, and prints the outcome and its figures as one JSON object.
//
//   dlbench.exe MANIFEST TARGET [--deadline SECONDS] [--mirror-logs FOLDER]
//
// MANIFEST and TARGET are Windows paths. With --mirror-logs (the loopback
// mirrors' folder) it also reports what the mirrors sent in all. A run that
// has not ended by the deadline is reported as a hang and exits 2.
#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Digest.h"
#include "DownloaderCurl.h"
#include "Log.h"
#include "Text.h"

namespace {

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return bytes;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

// Sum of the "bytes" fields of the log's lines from offset on.
int64_t BytesLogged(const std::wstring& file, size_t offset) {
    std::string text = ReadAll(file);
    int64_t total = 0;
    for (size_t p = text.find("\"bytes\":", offset); p != std::string::npos; p = text.find("\"bytes\":", p + 1))
        total += _atoi64(text.c_str() + p + 8);
    return total;
}

size_t LogSize(const std::wstring& file) { return ReadAll(file).size(); }

int CountLines(const std::string& text, const char* what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

std::string FileMd5(const std::wstring& path) {
    Md5Hasher hasher;
    unsigned char digest[16];
    return hasher.HashFile(path.c_str(), digest) ? hasher.ToHexString() : "";
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: dlbench MANIFEST TARGET [--deadline SECONDS] [--mirror-logs FOLDER]\n");
        return 64;
    }
    std::wstring manifestPath = argv[1], target = argv[2], logs;
    double deadline = 300;
    for (int i = 3; i + 1 < argc; i += 2) {
        std::wstring key = argv[i];
        if (key == L"--deadline") deadline = _wtof(argv[i + 1]);
        if (key == L"--mirror-logs") logs = argv[i + 1];
    }
    curl_global_init(CURL_GLOBAL_ALL);
    std::wstring logFile = target + L".log";
    DeleteFileW(logFile.c_str());
    ILog::GetInstance()->Init(logFile);

    std::string manifest = ReadAll(manifestPath);
    if (manifest.empty()) {
        printf("{\"state\":\"no-manifest\"}\n");
        return 1;
    }
    DeleteFileW(target.c_str());
    size_t ownStart = 0, nginxStart = 0;
    if (!logs.empty()) {
        ownStart = LogSize(logs + L"\\requests.log");
        nginxStart = LogSize(logs + L"\\nginx-requests.log");
    }

    std::atomic<int> finalEvent{0};
    std::atomic<DWORD> firstData{0}, finishTick{0};
    std::atomic<unsigned> sizeSeen{0};
    ProgressCallback callback = [&](int event, unsigned value, long extra) {
        DWORD now = GetTickCount();
        if (event == E_Download_Progress && !firstData) firstData = now;
        if (event == E_Download_Progress) sizeSeen = static_cast<unsigned>(extra);
        if ((event == E_Download_Fail || event == E_Download_Succeed) && !finalEvent) {
            finishTick = now;
            finalEvent = event;
        }
        return 1;
    };
    DownloaderCurl* engine = new DownloaderCurl;
    engine->SetCallback(callback);
    const DWORD start = GetTickCount();
    engine->StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()), WideToUtf8(target));
    bool ended = false;
    while ((GetTickCount() - start) / 1000.0 < deadline) {
        if (!engine->IsDownloading() && finalEvent) {
            ended = true;
            break;
        }
        Sleep(20);
    }
    const DWORD end = ended ? finishTick.load() : GetTickCount();
    std::string state = ended ? (engine->GetState() == E_State_Succeed ? "succeed" : "failed") : "hang";
    std::string error = engine->GetErrorName();
    DownloadProgress progress;
    engine->GetProgress(&progress);
    int connections = progress.connections;
    int ranges = static_cast<int>(progress.items.size());
    engine->StopDownload();
    delete engine;

    const double wall = (end - start) / 1000.0;
    const double probe = firstData ? (firstData - start) / 1000.0 : wall;
    const double size = static_cast<double>(sizeSeen.load());
    std::string log = ReadAll(logFile);
    int64_t sent = -1;
    if (!logs.empty()) sent = BytesLogged(logs + L"\\requests.log", ownStart) + BytesLogged(logs + L"\\nginx-requests.log", nginxStart);
    printf("{\"state\":\"%s\",\"error\":\"%s\",\"wall_s\":%.3f,\"probe_s\":%.3f,\"goodput_MBps\":%.3f,"
           "\"size\":%.0f,\"sent\":%lld,\"waste\":%.4f,\"repairs\":%d,\"connections\":%d,\"ranges\":%d,\"md5\":\"%s\"}\n",
           state.c_str(), Escape(error).c_str(), wall, probe,
           (wall > probe && size > 0) ? size / (wall - probe) / 1e6 : 0.0, size, static_cast<long long>(sent),
           (sent >= 0 && size > 0) ? sent / size : -1.0, CountLines(log, "Download_RepairData : GetBestURL Info"),
           connections, ranges, FileMd5(target).c_str());
    curl_global_cleanup();
    return state == "succeed" ? 0 : (state == "hang" ? 2 : 1);
}
