// Stand-in for the product's executable "orvane.exe", for tests only (never
// packaged). Every start records its raw command line (which may carry no
// program name), current folder, show state and parent; a "/XI:" value (the
// installer's window handle in decimal) is recorded with whether it names a
// live window. Then:
//   "/quit_by_setup"  tells every resident copy to quit and exits at once;
//   "--resident", or any other start while the "Resident" setting is 1,
//                     owns the tray window "VIZAZIRIVIZEVIDU" until WM_CLOSE,
//                     a "/quit_by_setup" start (unless "IgnoreQuit") or its
//                     bound;
//   anything else     waits "ExitDelayMs" and exits with its mode's code.
// Nothing outlives kLifeBoundMs.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "StandInConfig.h"
#include "StandInLog.h"

namespace {

using standins::AppendRecord;
using standins::ReadConfigDword;

constexpr char kRole[] = "orvane";
constexpr UINT_PTR kBoundTimer = 1;

UINT g_quitMessage = 0;

bool HasSwitch(const std::wstring& commandLine, const wchar_t* name) {
    return commandLine.find(name) != std::wstring::npos;
}

// The exit code of a mode: its own setting, else "ExitCode", else 0.
DWORD ExitCodeFor(const wchar_t* mode) {
    const DWORD fallback = ReadConfigDword(standins::kExitCodeValue, 0);
    if (mode == nullptr) return fallback;
    return ReadConfigDword((std::wstring(standins::kExitCodeValue) + mode).c_str(), fallback);
}

DWORD Bounded(DWORD ms) {
    return ms == standins::kNeverExit || ms > standins::kLifeBoundMs ? standins::kLifeBoundMs : ms;
}

// The number after "/XI:" and whether it names a live window.
void RecordInstallerWindow(const std::wstring& commandLine) {
    const size_t at = commandLine.find(L"/XI:");
    if (at == std::wstring::npos) return;
    const std::wstring text = commandLine.substr(at + 4, commandLine.find(L' ', at) - (at + 4));
    wchar_t* end = nullptr;
    const long long value = wcstoll(text.c_str(), &end, 10);
    const bool number = !text.empty() && end != nullptr && *end == L'\0';
    HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
    AppendRecord(kRole, "xi", {{"value", text}, {"live", number && IsWindow(window) ? L"1" : L"0"}});
}

void Quit(HWND window, const char* event, const standins::Fields& fields) {
    AppendRecord(kRole, event, fields);
    DestroyWindow(window);
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        const DWORD hang = Bounded(ReadConfigDword(standins::kCloseHangValue, 0));
        if (hang > 0) {
            AppendRecord(kRole, "close_hang", {{"ms", std::to_wstring(hang)}});
            Sleep(hang);
        }
        Quit(window, "close", {{"wparam", std::to_wstring(wParam)}, {"lparam", std::to_wstring(lParam)}});
        return 0;
    }
    if (message == WM_TIMER && wParam == kBoundTimer) {
        KillTimer(window, kBoundTimer);
        Quit(window, "bound", {});
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (g_quitMessage != 0 && message == g_quitMessage) {
        if (ReadConfigDword(standins::kIgnoreQuitValue, 0) == 1) {
            AppendRecord(kRole, "quit_ignored", {{"from", std::to_wstring(wParam)}});
            return 0;
        }
        Quit(window, "quit_by_setup", {{"from", std::to_wstring(wParam)}});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int RunResident(HINSTANCE instance) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TrayProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = standins::kTrayWindowClass;
    RegisterClassW(&windowClass);
    // A top-level window that is never shown, as a tray program's is.
    HWND window = CreateWindowExW(0, standins::kTrayWindowClass, standins::kTrayWindowTitle, WS_OVERLAPPED, 0, 0,
                                  100, 100, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        AppendRecord(kRole, "resident_failed", {{"error", std::to_wstring(GetLastError())}});
        return 1;
    }
    const DWORD bound = std::min(ReadConfigDword(standins::kResidentBoundValue, standins::kDefaultResidentMs),
                                 standins::kLifeBoundMs);
    SetTimer(window, kBoundTimer, bound, nullptr);
    AppendRecord(kRole, "resident",
                 {{"window", std::to_wstring(reinterpret_cast<UINT_PTR>(window))}, {"bound", std::to_wstring(bound)}});
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    AppendRecord(kRole, "exit", {{"code", L"0"}});
    return 0;
}

BOOL CALLBACK PostQuit(HWND window, LPARAM count) {
    wchar_t className[64] = {};
    wchar_t title[64] = {};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, title, 64);
    if (std::wstring(className) == standins::kTrayWindowClass && std::wstring(title) == standins::kTrayWindowTitle) {
        PostMessageW(window, g_quitMessage, GetCurrentProcessId(), 0);
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

int RunQuitBySetup() {
    int told = 0;
    EnumWindows(PostQuit, reinterpret_cast<LPARAM>(&told));
    AppendRecord(kRole, "quit_sent", {{"count", std::to_wstring(told)}});
    const DWORD code = ExitCodeFor(standins::kQuitMode);
    AppendRecord(kRole, "exit", {{"code", std::to_wstring(code)}});
    return static_cast<int>(code);
}

int RunPlain(const wchar_t* mode) {
    const DWORD delay = Bounded(ReadConfigDword(standins::kExitDelayValue, 0));
    const DWORD code = ExitCodeFor(mode);
    if (delay > 0) Sleep(delay);
    AppendRecord(kRole, "exit", {{"code", std::to_wstring(code)}});
    return static_cast<int>(code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The raw line: a start through the shell may pass the arguments alone.
    const std::wstring commandLine = GetCommandLineW();
    g_quitMessage = RegisterWindowMessageW(standins::kQuitMessageName);
    AppendRecord(kRole, "start", standins::StartFields());
    RecordInstallerWindow(commandLine);

    if (HasSwitch(commandLine, L"/quit_by_setup")) return RunQuitBySetup();
    const wchar_t* mode = nullptr;
    if (HasSwitch(commandLine, L"/install")) mode = standins::kInstallMode;
    if (HasSwitch(commandLine, L"/uninstall") || HasSwitch(commandLine, L"/full_uninstall")) {
        mode = standins::kUninstallMode;
    }
    const bool installerSwitch = mode != nullptr;
    if (HasSwitch(commandLine, L"--resident") ||
        (!installerSwitch && ReadConfigDword(standins::kResidentValue, 0) == 1)) {
        return RunResident(instance);
    }
    return RunPlain(mode);
}
