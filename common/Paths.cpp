#include "Paths.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "JFile.h"
#include "SystemInfo.h"

namespace {

const wchar_t kQuickLaunchTail[] = L"\\Microsoft\\Internet Explorer\\Quick Launch";
const wchar_t kTaskBarTail[] = L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar";

// The shell's path of a special folder, plus a fixed tail, into a MAX_PATH
// buffer. A tail that does not fit fails instead of running past the buffer.
int SpecialFolder(int csidl, wchar_t* buffer, const wchar_t* tail = nullptr) {
    if (!buffer) return 0;
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &list)) || !list) return 0;
    const BOOL found = SHGetPathFromIDListW(list, buffer);
    CoTaskMemFree(list);
    if (!found) return 0;
    if (tail) {
        if (wcslen(buffer) + wcslen(tail) >= MAX_PATH) return 0;
        wcscat(buffer, tail);
    }
    return 1;
}

// PathAppendW into a buffer of MAX_PATH; false, with the buffer unchanged,
// when the result does not fit (PathAppendW alone would empty the buffer).
bool AppendBounded(wchar_t* buffer, const wchar_t* more) {
    if (wcslen(more) >= MAX_PATH) return false;
    wchar_t joined[MAX_PATH];
    wcscpy(joined, buffer);
    if (!PathAppendW(joined, more) || joined[0] == L'\0') return false;
    wcscpy(buffer, joined);
    return true;
}

}  // namespace

int GetDesktopPath(wchar_t* buffer) { return SpecialFolder(CSIDL_DESKTOP, buffer); }
int GetProgramsPath(wchar_t* buffer) { return SpecialFolder(CSIDL_PROGRAMS, buffer); }
int GetCommonProgramsPath(wchar_t* buffer) { return SpecialFolder(CSIDL_COMMON_PROGRAMS, buffer); }
int GetAppDataPath(wchar_t* buffer) { return SpecialFolder(CSIDL_APPDATA, buffer); }
int GetQuickLaunchPath(wchar_t* buffer) { return SpecialFolder(CSIDL_APPDATA, buffer, kQuickLaunchTail); }
int GetTaskBarPinPath(wchar_t* buffer) { return SpecialFolder(CSIDL_APPDATA, buffer, kTaskBarTail); }
int GetPersonalFolderPath(wchar_t* buffer) { return SpecialFolder(CSIDL_PERSONAL, buffer); }

std::wstring& GetDownloadsPath(std::wstring& out, const std::wstring& subPath, const wchar_t* fileName, int create) {
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, buffer);
    PathRemoveFileSpecW(buffer);
    std::wstring path = PathJoin(PathJoin(buffer, L"Downloads"), subPath);
    if (path.empty()) {
        // Too long: an empty result, never a relative or cut path.
        out.clear();
        return out;
    }
    if (create) CreateDirectories(path);
    if (fileName) path = PathJoin(path, fileName);
    out = path;
    return out;
}

std::wstring& GetSystemFolderPath(std::wstring& out, bool x86) {
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, x86 ? CSIDL_SYSTEMX86 : CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, buffer);
    out = buffer;
    return out;
}

int GetProgramPath(wchar_t* buffer, const std::wstring& subPath, int create, int preferNative64) {
    if (!buffer) return 0;
    buffer[0] = L'\0';
    bool haveFolder = false;
    if (preferNative64 && Is64BitWindows()) {
        // An inherited variable can be any length: one that does not fit
        // counts as missing.
        const DWORD length = GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
        haveFolder = length > 0 && length < MAX_PATH;
        if (!haveFolder) buffer[0] = L'\0';
    }
    if (!haveFolder && !SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE)) return 0;
    if (!AppendBounded(buffer, subPath.c_str())) {
        // Never leave an empty or cut folder behind for a caller that
        // ignores the result.
        buffer[0] = L'\0';
        return 0;
    }
    if (!create) return 1;
    return CreateDirectories(buffer);
}

std::wstring PathJoin(std::wstring a, std::wstring b) {
    if (a.size() >= MAX_PATH) return std::wstring();
    wchar_t buffer[MAX_PATH] = {};
    wcscpy(buffer, a.c_str());
    if (!AppendBounded(buffer, b.c_str())) return std::wstring();
    return buffer;
}

std::string PathJoin(std::string a, std::string b) {
    if (a.size() >= MAX_PATH || b.size() >= MAX_PATH) return std::string();
    char buffer[MAX_PATH] = {};
    strcpy(buffer, a.c_str());
    if (!PathAppendA(buffer, b.c_str())) return std::string();
    return buffer;
}

bool LoadResourceText(int id, const wchar_t* type, std::string& out) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), type);
    if (!found) return false;
    const DWORD size = SizeofResource(self, found);
    HGLOBAL loaded = size ? LoadResource(self, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return false;
    std::vector<char> text(size + 1, '\0');
    memcpy(text.data(), bytes, size);
    out = text.data();
    return true;
}
