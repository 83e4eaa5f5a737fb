// Stand-in for the product's self-registering library "orvane32.dll", for
// tests only: registering and unregistering record the host process.
#include <windows.h>

#include "StandInLog.h"

namespace {

HMODULE g_module = nullptr;

HRESULT Record(const char* event) {
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH * 2);
    standins::Fields fields = {{"dll", path}};
    for (auto& field : standins::StartFields()) fields.push_back(field);
    standins::AppendRecord("orvane32", event, fields);
    return S_OK;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Record("register"); }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return Record("unregister"); }
