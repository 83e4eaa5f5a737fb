// The process-wide install log: one plain-text file, one line per WriteLog,
// each line opened, appended and closed, prefixed with the elapsed time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

// Receives every message (without time prefix) after it is written; the
// result is ignored. Runs on the thread that logged, outside the log's lock,
// so two threads' callbacks may run in the other order than their lines were
// written: ILog::LineNumberInCallback gives the line's place in the file.
typedef int (*LogCallback)(const char* message);

class ILog {
public:
    // The one instance, created on first use and kept until the process ends.
    static ILog* GetInstance();
    virtual ~ILog() = default;

    // Stores the path and the start tick and writes the run header; always 1.
    int Init(const std::wstring& path);
    ILog* SetCallback(LogCallback callback);
    // Appends one line, then hands the message to the callback.
    void WriteLine(const char* message);
    // The number of the line (1, 2, ... in the order lines are written)
    // whose callback runs on this thread; 0 outside a callback.
    static uint64_t LineNumberInCallback();
    // Elapsed time since Init as "%02d:%02d:%02d : ".
    std::string GetTimePrefix() const;
    // Destroys the instance; offered, never called by the installer.
    static int Release();

private:
    ILog() = default;

    mutable std::mutex lock_;  // guards the fields and the file while a line is written
    std::wstring path_;
    DWORD startTick_ = 0;
    LogCallback callback_ = nullptr;
    uint64_t linesWritten_ = 0;
};

ILog* GetLog();

// Formats into a 13,000-byte buffer (longer messages are truncated) and
// writes one line.
void WriteLog(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// "%02d:%02d:%02d : " for a number of seconds; hours are not reduced modulo 24.
std::string FormatTimePrefix(uint32_t seconds);
// Whole seconds between two tick counts, right across a wrap of the counter.
inline uint32_t ElapsedSeconds(DWORD now, DWORD start) { return static_cast<uint32_t>(now - start) / 1000; }

// Documents folder + subPath (+ fileName); creates the folders of Documents +
// subPath when create is non-zero. Returns out.
std::wstring& GetDocumentsPath(std::wstring& out, const std::wstring& subPath, const wchar_t* fileName, int create);
