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

std::wstring TreePath(const char* variable, const std::wstring& relative) {
    const char* root = std::getenv(variable);
    std::wstring path = FromUnixPath(root ? root : "");
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

std::wstring SourcePath(const std::wstring& relative) { return TreePath("ORVANE_SOURCE_DIR", relative); }
std::wstring BuildPath(const std::wstring& relative) { return TreePath("ORVANE_BINARY_DIR", relative); }

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

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& folder) {
    ProcessResult result;
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        return result;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
    } else {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    return result;
}

}  // namespace testing_support
