#include "StandInLog.h"

#include <tlhelp32.h>

#include "Handles.h"
#include "StandInConfig.h"

namespace standins {

namespace {

std::wstring ReadConfigString(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kConfigKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return {};
    }
    return buffer;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Clean(std::wstring value) {
    for (wchar_t& c : value) {
        if (c < 0x20) c = L' ';
    }
    return value;
}

// Lines already in the log.
size_t CountRecords(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || file.get() == INVALID_HANDLE_VALUE) return 0;
    size_t lines = 0;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) lines += buffer[i] == '\n' ? 1 : 0;
    }
    return lines;
}

}  // namespace

DWORD ReadConfigDword(const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kConfigKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
        return fallback;
    }
    return value;
}

void AppendRecord(const char* role, const char* event, const Fields& fields) {
    const std::wstring path = ReadConfigString(kLogFileValue);
    if (path.empty()) return;

    std::string tail;
    for (const auto& field : fields) tail += "\t" + field.first + "=" + ToUtf8(Clean(field.second));
    tail += "\r\n";

    // Several stand-ins may record at once; one write per record, in turn.
    UniqueHandle lock(CreateMutexW(nullptr, FALSE, L"OrvaneStandInLog"));
    const DWORD waited = lock ? WaitForSingleObject(lock.get(), 5000) : WAIT_FAILED;
    {
        // The record's place in the log, so the order of runs is visible.
        const std::string line = std::string("event=") + event + "\trole=" + role + "\tpid=" +
                                 std::to_string(GetCurrentProcessId()) + "\tseq=" +
                                 std::to_string(CountRecords(path) + 1) + tail;
        UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file && file.get() != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        }
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(lock.get());
}

Fields StartFields() {
    Fields fields;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
    fields.emplace_back("show", std::to_wstring(show));

    DWORD parentId = 0;
    std::wstring parentName;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot && snapshot.get() != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
            if (entry.th32ProcessID == GetCurrentProcessId()) parentId = entry.th32ParentProcessID;
        }
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && parentId != 0;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (entry.th32ProcessID == parentId) parentName = entry.szExeFile;
        }
    }
    fields.emplace_back("ppid", std::to_wstring(parentId));
    fields.emplace_back("parent", parentName);

    wchar_t folder[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, folder);
    fields.emplace_back("cwd", folder);

    wchar_t image[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, image, MAX_PATH * 2);
    fields.emplace_back("image", image);

    fields.emplace_back("cmdline", GetCommandLineW());
    return fields;
}

}  // namespace standins
