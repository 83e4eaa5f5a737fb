#include "TestSupport.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>
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

FolderLink MakeFolderLink(const std::wstring& link, const std::wstring& target) {
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
