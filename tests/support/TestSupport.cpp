#include "TestSupport.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "Handles.h"

namespace testing_support {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::wstring TreePath(const char* root, const std::wstring& relative) {
    std::wstring path = FromUnixPath(root);
    std::wstring rel = relative;
    for (auto& c : rel)
        if (c == L'/') c = L'\\';
    return path + L"\\" + rel;
}

std::wstring KnownFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

}  // namespace

DWORD ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

double UnixNow() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

std::wstring RunOnceValue(const wchar_t* name) {
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return data;
}

void RemoveRunOnceValue(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

std::wstring FromUnixPath(const std::string& unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring SourcePath(const std::wstring& relative) { return TreePath(ORVANE_SOURCE_DIR, relative); }
std::wstring BuildPath(const std::wstring& relative) { return TreePath(ORVANE_BINARY_DIR, relative); }

std::wstring DocumentsFolder() { return KnownFolder(CSIDL_PERSONAL); }

std::wstring DownloadsFolder() {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_CREATE, nullptr, &path))) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, buffer);
    std::wstring path = buffer;
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

ScratchFolder::ScratchFolder(const std::wstring& name) {
    path_ = TempFolder() + L"\\orvane-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount());
    RemoveTree(path_);
    SHCreateDirectoryExW(nullptr, path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

namespace {

// Whether drive shows folder: a marker file made in the folder is seen
// through the drive, waiting (bounded) for a drive that is still being made.
bool DriveShows(const std::wstring& drive, const std::wstring& folder) {
    const std::wstring marker = L"scratch-drive-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount()) + L".mark";
    if (!WriteFileBytes(folder + L"\\" + marker, "")) return false;
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
        shown = FileExists(drive + L"\\" + marker);
        if (!shown) Sleep(50);
    }
    DeleteFileW((folder + L"\\" + marker).c_str());
    return shown;
}

}  // namespace

ScratchDrive::ScratchDrive(const std::wstring& folder) {
    const DWORD used = GetLogicalDrives();
    for (wchar_t letter = L'P'; letter <= L'Y' && drive_.empty(); ++letter) {
        if (used & (1u << (letter - L'A'))) continue;
        const std::wstring name = std::wstring(1, letter) + L":";
        if (DefineDosDeviceW(0, name.c_str(), folder.c_str())) {
            if (DriveShows(name, folder)) {
                drive_ = name;
                break;
            }
            DefineDosDeviceW(DDD_REMOVE_DEFINITION, name.c_str(), nullptr);
        }
        // Wine 8 defines the name but resolves drive letters only through the
        // links in its prefix's "dosdevices" folder: one is made there. A link
        // that shows another folder (another test's) is left alone.
        wchar_t prefix[MAX_PATH] = {};
        const std::string unixFolder = ToUnixPath(folder);
        if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH) || unixFolder.empty()) return;
        const std::wstring link = std::wstring(prefix) + L"/dosdevices/" + static_cast<wchar_t>(letter | 0x20) + L":";
        const std::wstring target = Widen(unixFolder);
        // Wine hands the command line to the Unix program split at blanks.
        if (link.find(L' ') != std::wstring::npos || target.find(L' ') != std::wstring::npos) return;
        RunProcess(L"Z:\\bin\\ln -s " + target + L" " + link, 10000);
        if (DriveShows(name, folder)) {
            drive_ = name;
            unixLink_ = link;
        }
    }
}

ScratchDrive::~ScratchDrive() {
    if (drive_.empty()) return;
    if (unixLink_.empty()) {
        DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive_.c_str(), nullptr);
        return;
    }
    RunProcess(L"Z:\\bin\\rm " + unixLink_, 10000);
    // Wine gives no waitable handle for a Unix program: watch for its result.
    for (int i = 0; i < 100 && FolderExists(drive_ + L"\\"); ++i) Sleep(50);
}

bool FileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void RemoveTree(const std::wstring& path) {
    if (path.size() < 4 || !FolderExists(path)) return;
    std::wstring from = path;
    from.push_back(L'\0');  // double NUL-terminated list
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::string ToUnixPath(const std::wstring& windowsPath) {
    using ToUnixFn = char*(CDECL*)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnixFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return {};
    char* unixPath = toUnix(windowsPath.c_str());
    if (!unixPath) return {};
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

namespace {
bool IsListedAsLink(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(path.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
}  // namespace

namespace {

// A junction (a mount-point reparse point), which needs no privilege: an
// empty folder whose reparse data names the target's NT path.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    wchar_t full[MAX_PATH] = {};
    if (!GetFullPathNameW(target.c_str(), MAX_PATH, full, nullptr)) return false;
    const std::wstring substitute = std::wstring(L"\\??\\") + full;
    const std::wstring print = full;
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    UniqueHandle folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    bool made = false;
    if (folder.get() != INVALID_HANDLE_VALUE) {
        // REPARSE_DATA_BUFFER with its MountPointReparseBuffer: both names,
        // each NUL-terminated, one after the other in PathBuffer.
        const size_t substituteBytes = substitute.size() * sizeof(wchar_t);
        const size_t printBytes = print.size() * sizeof(wchar_t);
        const size_t pathBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
        std::vector<BYTE> data(8 + 8 + pathBytes, 0);
        auto put16 = [&](size_t at, size_t value) {
            data[at] = static_cast<BYTE>(value);
            data[at + 1] = static_cast<BYTE>(value >> 8);
        };
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        memcpy(&data[0], &tag, 4);
        put16(4, 8 + pathBytes);                           // ReparseDataLength
        put16(8, 0);                                       // SubstituteNameOffset
        put16(10, substituteBytes);                        // SubstituteNameLength
        put16(12, substituteBytes + sizeof(wchar_t));      // PrintNameOffset
        put16(14, printBytes);                             // PrintNameLength
        memcpy(&data[16], substitute.data(), substituteBytes);
        memcpy(&data[16 + substituteBytes + sizeof(wchar_t)], print.data(), printBytes);
        DWORD returned = 0;
        made = DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                               nullptr, 0, &returned, nullptr) != FALSE;
    }
    folder.reset();
    if (!made) RemoveDirectoryW(link.c_str());
    return made && IsListedAsLink(link);
}

}  // namespace

FolderLink MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    if (MakeJunction(link, target)) return FolderLink::Windows;
    CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    if (IsListedAsLink(link)) return FolderLink::Windows;
    const std::string unixLink = ToUnixPath(link), unixTarget = ToUnixPath(target);
    // Wine hands the command line to the Unix program split at blanks, quotes and all.
    if (unixLink.empty() || unixTarget.empty() || unixLink.find(' ') != std::string::npos ||
        unixTarget.find(' ') != std::string::npos)
        return FolderLink::None;
    // Wine starts Unix programs through CreateProcess.
    RunProcess(L"Z:\\bin\\ln -s " + Widen(unixTarget) + L" " + Widen(unixLink), 10000);
    // Wine gives no waitable handle for a Unix program: watch for its result.
    for (int i = 0; i < 100 && !IsListedAsLink(link); ++i) Sleep(50);
    return IsListedAsLink(link) ? FolderLink::UnixThroughWine : FolderLink::None;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& folder) {
    ProcessResult result;
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        result.startError = GetLastError();
        return result;
    }
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    const DWORD wait = WaitForSingleObject(pi.hProcess, timeoutMs);
    if (wait == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
    } else if (wait == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    return result;
}

}  // namespace testing_support
