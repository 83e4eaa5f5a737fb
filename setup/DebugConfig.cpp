#include "DebugConfig.h"

#include <windows.h>
#include <shlwapi.h>

#include <atomic>

#include "Log.h"

std::wstring GetDebugConfigPath() {
    std::wstring path;
    return GetDocumentsPath(path, L"", L"ZovDebugConfig.ini", 1);
}

int ReadDebugConfigInt(const wchar_t* key) {
    const std::wstring path = GetDebugConfigPath();
    if (!PathFileExistsW(path.c_str())) return 0;
    return static_cast<int>(GetPrivateProfileIntW(L"root", key, 0, path.c_str()));
}

bool IsTestMode() {
    static std::atomic<bool> cached{false};
    if (cached.load()) return true;
    if (ReadDebugConfigInt(L"setup_test_mode") != 1) return false;
    cached.store(true);
    return true;
}

bool IsTestRestart() { return ReadDebugConfigInt(L"setup_test_restart") == 1; }
