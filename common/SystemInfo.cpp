#include "SystemInfo.h"

#include <windows.h>

bool Is64BitWindows() {
    // Looked up at run time: old systems lack IsWow64Process.
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}
