// A small program the common tests start as a child: it reports what it saw
// to a file named on its command line, or just stays alive for a while.
//   helper parse-name OUT        option "\n" source of its own file name
//   helper command-line OUT      its command line, UTF-16
//   helper sleep MS              sleeps, then exits 0
//   helper restart OUT           stores a run-once "command-line OUT" for
//                                itself, then restarts Windows
//   helper run-unelevated OUT    starts itself through RunUnelevated in
//                                "command-line OUT.child" mode; writes the result
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "Process.h"
#include "Registry.h"
#include "Text.h"

namespace {

bool WriteBytes(const wchar_t* path, const void* data, size_t size) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    if (mode == L"sleep") {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return 0;
    }
    if (mode == L"parse-name") {
        std::string option = "untouched", source = "untouched";
        ParseSetupFileName(option, source);
        const std::string text = option + "\n" + source;
        return WriteBytes(argv[2], text.data(), text.size()) ? 0 : 1;
    }
    if (mode == L"restart") {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring command = L"\"" + std::wstring(self) + L"\" command-line \"" + argv[2] + L"\"";
        if (!SetRunOnceValue("OrvaneRestartCheck", WideToNarrow(command))) return 3;
        RestartSystem();
        Sleep(20000);  // the restart ends this process long before
        return 4;
    }
    if (mode == L"run-unelevated") {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring child = std::wstring(argv[2]) + L".child";
        const int result = RunUnelevated(self, L"command-line \"" + child + L"\"", L"", SW_SHOWNORMAL);
        const std::string text = std::to_string(result);
        return WriteBytes(argv[2], text.data(), text.size()) ? 0 : 1;
    }
    if (mode == L"command-line") {
        const wchar_t* line = GetCommandLineW();
        return WriteBytes(argv[2], line, wcslen(line) * sizeof(wchar_t)) ? 0 : 1;
    }
    return 2;
}
