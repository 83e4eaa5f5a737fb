// The archive callback of the unpack step: turns the archiver's progress and
// events into unpack events on a ProgressCallback, and offers the jobs.
// Progress may arrive from the archiver's decoder threads, so the callback
// set here must be safe to call from them; it is set before a job starts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ArchiveRunner.h"
#include "ProgressCallback.h"

class C7ZOperator : public I7zFileInfoCallback {
public:
    ~C7ZOperator() override = default;

    void SetCallback(ProgressCallback callback) { callback_ = std::move(callback); }

    bool ExtractFromMemory(const void* bytes, size_t length, const char* folder, const char* password,
                           std::string& errorText, bool removeTemp);
    bool ExtractFile(const char* archive, const char* folder, const char* password, std::string& errorText);
    bool Compress(const char* folder, const char* archive, const char* password);

    // E_Unpack_Progress (100) with the low half; the callback's result.
    int OnProgress(uint32_t low, uint32_t high) override;
    // E_Unpack_ArchiveEvent (101) with the code, which is kept.
    void OnError(int code) override;

    int GetLastError() const { return lastError_; }

private:
    std::atomic<int> lastError_{0};
    ProgressCallback callback_;
};
