// Registered by the tests as the shell's http and https handler: records each
// address the installer opens instead of starting a browser.
#include <windows.h>
#include <shellapi.h>

#include "StandInLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standins::Fields fields;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    fields.emplace_back("url", args != nullptr && count > 1 ? args[1] : L"");
    if (args != nullptr) LocalFree(args);
    for (auto& field : standins::StartFields()) fields.push_back(field);
    standins::AppendRecord("url", "open", fields);
    return 0;
}
