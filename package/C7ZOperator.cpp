#include "C7ZOperator.h"

#include <windows.h>

#include <cstdio>

#include "UnpackPackage.h"

int C7ZOperator::OnProgress(uint32_t low, uint32_t high) {
    char text[260];
    snprintf(text, sizeof(text), "now pos is %d \n", static_cast<int>(low));
    OutputDebugStringA(text);
    return callback_ ? callback_(E_Unpack_Progress, low, 0) : 0;
}

void C7ZOperator::OnError(int code) {
    char text[260];
    snprintf(text, sizeof(text), "\n!!! Error is %d \n", code);
    OutputDebugStringA(text);
    lastError_ = code;
    if (callback_) callback_(E_Unpack_ArchiveEvent, static_cast<unsigned int>(code), 0);
}

bool C7ZOperator::ExtractFromMemory(const void* bytes, size_t length, const char* folder, const char* password,
                                    std::string& errorText, bool removeTemp) {
    ArchiveRunner runner;
    runner.SetCallback(this);
    return runner.ExtractFromMemory(bytes, length, folder, password, errorText, removeTemp);
}

bool C7ZOperator::ExtractFile(const char* archive, const char* folder, const char* password,
                              std::string& errorText) {
    ArchiveRunner runner;
    runner.SetCallback(this);
    return runner.ExtractFile(archive, folder, password, errorText);
}

bool C7ZOperator::Compress(const char* folder, const char* archive, const char* password) {
    ArchiveRunner runner;
    runner.SetCallback(this);
    return runner.Compress(folder, archive, password);
}
