#include "ProductStepsSupport.h"

#include <shellapi.h>

#include <vector>

#include "Log.h"

namespace {

// After TerminateProcess, how long the process gets to really end.
constexpr DWORD kTerminateWaitMs = 5000;

}  // namespace

ShellStartResult StartShellProgram(const wchar_t* verb, const std::wstring& file, const std::wstring& parameters,
                                   int show) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = show;
    ShellStartResult result;
    const BOOL ok = ShellExecuteExW(&info);
    // The handle is owned whatever the shell reported, so it is never leaked.
    result.process.reset(info.hProcess);
    result.started = ok && reinterpret_cast<INT_PTR>(info.hInstApp) > 32;
    return result;
}

bool WaitForProgramEnd(HANDLE process, DWORD timeoutMs, const char* name, DWORD& exitCode) {
    if (!process) return false;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code)) exitCode = code;
        return true;
    }
    TerminateProcess(process, 0);
    WaitForSingleObject(process, kTerminateWaitMs);
    WriteLog("%s did not end within %lu ms; ended.\n", name, static_cast<unsigned long>(timeoutMs));
    return false;
}

std::wstring ReadWideRegString(HKEY key, const wchar_t* name) {
    if (!key) return {};
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = 0;
        // One character is kept back for the NUL stored data may lack.
        DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        const LONG result =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (result == ERROR_MORE_DATA) {
            buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
            continue;
        }
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
        const size_t count = bytes / sizeof(wchar_t);
        size_t length = 0;
        while (length < count && buffer[length]) ++length;
        return std::wstring(buffer.data(), length);
    }
    return {};
}
