#include "Log.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cstring>
#include <vector>

#include "JFile.h"

namespace {

constexpr size_t kMessageBufferSize = 13000;

// The line whose callback runs on this thread.
thread_local uint64_t t_lineInCallback = 0;

std::mutex g_instanceLock;
ILog* g_instance = nullptr;

// Appends to the log file in text mode, creating it and its folders.
constexpr unsigned kAppendText = E_File_Read | E_File_Write | E_File_Text;

}  // namespace

ILog* ILog::GetInstance() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    if (!g_instance) g_instance = new ILog();
    return g_instance;
}

ILog* GetLog() { return ILog::GetInstance(); }

int ILog::Release() {
    std::lock_guard<std::mutex> guard(g_instanceLock);
    delete g_instance;
    g_instance = nullptr;
    return 1;
}

int ILog::Init(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(lock_);
    path_ = path;
    startTick_ = GetTickCount();
    JFile file;
    if (file.Open(path_, kAppendText)) {
        file.SeekToEnd();
        const std::string header = "\n\n" + std::string(40, '-') + "\n";
        file.Write(header.data(), header.size());
        static const char kFirstLine[] = "00:00:00 : Init Log OK.\n";
        file.Write(kFirstLine, sizeof(kFirstLine) - 1);
        file.Close();
    }
    return 1;
}

ILog* ILog::SetCallback(LogCallback callback) {
    std::lock_guard<std::mutex> guard(lock_);
    callback_ = callback;
    return this;
}

std::string FormatTimePrefix(uint32_t seconds) {
    char text[64];
    snprintf(text, sizeof(text), "%02d:%02d:%02d : ", static_cast<int>(seconds / 3600),
             static_cast<int>((seconds % 3600) / 60), static_cast<int>(seconds % 60));
    return text;
}

std::string ILog::GetTimePrefix() const {
    DWORD start;
    {
        std::lock_guard<std::mutex> guard(lock_);
        start = startTick_;
    }
    return FormatTimePrefix(ElapsedSeconds(GetTickCount(), start));
}

uint64_t ILog::LineNumberInCallback() { return t_lineInCallback; }

void ILog::WriteLine(const char* message) {
    if (!message) return;
    LogCallback callback;
    uint64_t number;
    {
        // Lines from different threads stay whole and in order; the callback
        // runs after the lock is released because it may talk to a window
        // whose thread is itself waiting to log.
        std::lock_guard<std::mutex> guard(lock_);
        callback = callback_;
        number = ++linesWritten_;
        JFile file;
        if (!path_.empty() && file.Open(path_, kAppendText)) {
            file.SeekToEnd();
            const std::string prefix =
                FormatTimePrefix(ElapsedSeconds(GetTickCount(), startTick_));
            file.Write(prefix.data(), 10);
            file.Write(message, strlen(message));
            file.Write("\n", 1);
            file.Close();
        }
    }
    if (!callback) return;
    // A callback that logs again numbers its own line inside.
    const uint64_t outer = t_lineInCallback;
    t_lineInCallback = number;
    callback(message);
    t_lineInCallback = outer;
}

void WriteLog(const char* format, ...) {
    std::vector<char> buffer(kMessageBufferSize, '\0');
    va_list args;
    va_start(args, format);
    vsnprintf(buffer.data(), kMessageBufferSize, format, args);
    va_end(args);
    GetLog()->WriteLine(buffer.data());
}

std::wstring& GetDocumentsPath(std::wstring& out, const std::wstring& subPath, const wchar_t* fileName,
                               int create) {
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, buffer);
    PathAppendW(buffer, subPath.c_str());
    if (create) CreateDirectories(buffer);
    if (fileName) PathAppendW(buffer, fileName);
    out = buffer;
    return out;
}
