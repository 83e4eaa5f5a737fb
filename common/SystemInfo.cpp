#include "SystemInfo.h"

#include <windows.h>
#include <iphlpapi.h>
#include <lm.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "Handles.h"
#include "Log.h"
#include "Registry.h"
#include "Text.h"

namespace {

// The three version probes, in the order the system trusts them: the
// workstation service and ntdll report the real version, GetVersionExW only
// what the program's manifest declares support for.
void ProbeWindowsVersion(DWORD& major, DWORD& minor) {
    WKSTA_INFO_100* info = nullptr;
    if (NetWkstaGetInfo(nullptr, 100, reinterpret_cast<BYTE**>(&info)) == NERR_Success && info) {
        major = info->wki100_ver_major;
        minor = info->wki100_ver_minor;
        NetApiBufferFree(info);
        WriteLog("Window Version : %d,%d", static_cast<int>(major), static_cast<int>(minor));
        return;
    }
    if (info) NetApiBufferFree(info);

    WriteLog("First get window version failed. Do second method.");
    if (UniqueModule ntdll{LoadLibraryA("ntdll.dll")}) {
        using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
        auto getNumbers = reinterpret_cast<RtlGetNtVersionNumbersFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "RtlGetNtVersionNumbers")));
        if (getNumbers) {
            DWORD build = 0;
            getNumbers(&major, &minor, &build);
            WriteLog("Window Version : %d,%d", static_cast<int>(major), static_cast<int>(minor));
        }
    }

    if (major == 0) {
        WriteLog("Second get window version failed. Do third method.");
        // Zeroed, so a failed call gives 0.0 and not whatever the stack held.
        OSVERSIONINFOEXW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
        GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
        WriteLog("Window Version : %d,%d", static_cast<int>(version.dwMajorVersion),
                 static_cast<int>(version.dwMinorVersion));
        major = version.dwMajorVersion;
        minor = version.dwMinorVersion;
    }
}

std::string FormatAddress(const BYTE* bytes) {
    char text[32];
    snprintf(text, sizeof(text), "%02x-%02x-%02x-%02x-%02x-%02x", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
             bytes[5]);
    return text;
}

std::string Join(const std::vector<std::string>& pieces) {
    std::string text;
    for (const std::string& piece : pieces) {
        if (!text.empty()) text += ":";
        text += piece;
    }
    return text;
}

std::string FirstAddresses(const std::vector<AdapterAddress>& adapters) {
    std::vector<std::string> first;
    for (size_t i = 0; i < adapters.size() && i < 3; ++i) first.push_back(adapters[i].address);
    return Join(first);
}

std::string Upper(std::string text) {
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::mutex g_machineIdLock;
std::string g_machineId;

const char kNetClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002bE10318}";
const char kNetworkKey[] = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";

}  // namespace

void GetWindowsVersion(DWORD& major, DWORD& minor) { ProbeWindowsVersion(major, minor); }

bool IsWin7OrLater() {
    DWORD major = 0, minor = 0;
    ProbeWindowsVersion(major, minor);
    return major > 6 || (major == 6 && minor >= 1);
}

std::string WindowsVersionName(DWORD major, DWORD minor) {
    if (major >= 10) return "win10";
    if (major == 6) {
        switch (minor) {
            case 3: return "win8.1";
            case 2: return "win8";
            case 1: return "win7";
            case 0: return "vista";
            default: return "unknown";
        }
    }
    return "xp";
}

std::string GetWindowsVersionName() {
    DWORD major = 0, minor = 0;
    GetWindowsVersion(major, minor);
    return WindowsVersionName(major, minor);
}

bool IsVistaOrLater() {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        version = {};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
    }
    return version.dwMajorVersion >= 6;
}

void GetNativeSystemInfoSafe(SYSTEM_INFO* info) {
    if (!info) return;
    using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    auto getNative = reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo")));
    if (getNative)
        getNative(info);
    else
        GetSystemInfo(info);
}

bool Is64BitWindows() {
    // Looked up at run time: old systems lack IsWow64Process.
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64) return true;
    SYSTEM_INFO info = {};
    GetNativeSystemInfoSafe(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

int64_t GetDiskFreeSpaceMB(char letter) {
    const char root[] = {letter, ':', '\\', '\0'};
    ULARGE_INTEGER available = {}, total = {}, totalFree = {};
    if (!GetDiskFreeSpaceExA(root, &available, &total, &totalFree)) return 0;
    return static_cast<int64_t>(static_cast<double>(totalFree.QuadPart) / 1024.0 / 1024.0);
}

bool IsUserAdmin() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    BOOL member = FALSE;
    const bool ok = CheckTokenMembership(nullptr, administrators, &member) && member;
    FreeSid(administrators);
    return ok;
}

const std::vector<std::string>& VmMacPrefixes() {
    static const std::vector<std::string> prefixes = {"00-05-69", "00-0C-29", "00-50-56", "00-1c-14", "00-1C-42",
                                                      "00-03-FF", "00-0F-4B", "00-16-3E", "08-00-27"};
    return prefixes;
}

bool IsVmAddress(const std::string& address) {
    const std::string upper = Upper(address);
    for (const std::string& prefix : VmMacPrefixes())
        if (upper.find(Upper(prefix)) != std::string::npos) return true;
    return false;
}

bool ReadAdapterList(std::vector<AdapterAddress>& adapters) {
    ULONG size = 648;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]());
    DWORD result = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.reset(new BYTE[size]());
        result = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size);
    }
    if (result != ERROR_SUCCESS) return false;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()); adapter; adapter = adapter->Next) {
        BYTE address[6] = {};
        std::memcpy(address, adapter->Address, std::min<size_t>(adapter->AddressLength, sizeof(address)));
        adapters.push_back({adapter->AdapterName, FormatAddress(address)});
    }
    return true;
}

std::string BuildMachineId(const std::vector<AdapterAddress>& adapters,
                           const std::function<bool(const std::string&)>& isHardware) {
    std::vector<std::string> identity, fallback;
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (i < 3 && !IsVmAddress(adapters[i].address)) fallback.push_back(adapters[i].address);
        if (isHardware(adapters[i].name)) identity.push_back(adapters[i].address);
    }
    std::string text = Join(identity);
    if (text.empty()) text = Join(fallback);
    if (text.empty()) text = FirstAddresses(adapters);
    SortMacList(text);
    return text;
}

std::string GetMachineId() {
    // The statistics thread and the install worker may ask at the same time:
    // the identity is built under the lock, the log line written after it
    // (the log hands its lines to a callback).
    bool listed = true;
    std::string identity;
    {
        std::lock_guard<std::mutex> guard(g_machineIdLock);
        if (g_machineId.empty()) {
            std::vector<AdapterAddress> adapters;
            listed = ReadAdapterList(adapters);
            g_machineId = BuildMachineId(adapters, [](const std::string& name) {
                return IsPciAdapter(name) || IsPhysicalAdapter(name);
            });
        }
        identity = g_machineId;
    }
    if (!listed) WriteLog("failed to call GetAdaptersInfo\n");
    return identity;
}

std::string GetFirstMacAddresses() {
    std::vector<AdapterAddress> adapters;
    if (!ReadAdapterList(adapters)) WriteLog("failed to call GetAdaptersInfo\n");
    return FirstAddresses(adapters);
}

std::vector<std::string> GetMacAddressList() {
    std::vector<AdapterAddress> adapters;
    ReadAdapterList(adapters);
    std::vector<std::string> list;
    for (size_t i = 0; i < adapters.size() && i < 3; ++i)
        if (!IsVmAddress(adapters[i].address)) list.push_back(adapters[i].address);
    if (list.size() > 1) std::sort(list.begin(), list.end());
    return list;
}

bool IsPhysicalAdapter(const std::string& name) {
    CMyRegKey classKey;
    RegKeyInfo info = {};
    if (classKey.Create(HKEY_LOCAL_MACHINE, kNetClassKey) != ERROR_SUCCESS || classKey.QueryInfo(info) != ERROR_SUCCESS)
        return false;
    for (DWORD index = 0; index < info.subKeys; ++index) {
        RegKeyName subKey = {};
        if (classKey.EnumKey(index, subKey) != ERROR_SUCCESS) continue;
        CMyRegKey entry;
        if (entry.Create(HKEY_LOCAL_MACHINE, std::string(kNetClassKey) + "\\" + subKey.name) != ERROR_SUCCESS) continue;
        char instanceId[260] = {};
        DWORD size = sizeof(instanceId);
        if (entry.QueryStringValueChecked("NetCfgInstanceId", instanceId, size) != ERROR_SUCCESS) continue;
        if (name != instanceId) continue;
        int characteristics = 0;
        if (entry.QueryDWORDValueChecked("Characteristics", characteristics) == ERROR_SUCCESS &&
            (characteristics & 0x4))
            return true;
    }
    return false;
}

bool IsPciAdapter(const std::string& name) {
    const std::string path = std::string(kNetworkKey) + name + "\\Connection";
    if (path.size() >= 260) return false;
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, path) != ERROR_SUCCESS) return false;
    char instanceId[260] = {};
    DWORD size = sizeof(instanceId);
    if (key.QueryStringValueChecked("PnpInstanceID", instanceId, size) != ERROR_SUCCESS) return false;
    // Real PnpInstanceID values begin "PCI\", so this test rarely holds. It is
    // kept as it is: the statistics service keys machines on this identity,
    // and matching "PCI" would change the identity of every machine (VMs
    // included, whose emulated adapters sit on PCI).
    return std::strncmp(instanceId, ";PCI", 4) == 0;
}

void SortMacList(std::string& text) {
    std::vector<std::string> pieces;
    SplitString(pieces, text, ":");
    if (pieces.size() > 1) std::sort(pieces.begin(), pieces.end());
    text = Join(pieces);
}
