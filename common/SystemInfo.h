// Windows version, bitness, free space, administrator rights and the
// machine identity made of network-adapter addresses.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Major and minor version (the caller zeroes both first): NetWkstaGetInfo,
// then RtlGetNtVersionNumbers, then GetVersionExW. Logged.
void GetWindowsVersion(DWORD& major, DWORD& minor);
bool IsWin7OrLater();
// "win10", "win8.1", "win8", "win7", "vista", "unknown" or "xp".
std::string GetWindowsVersionName();
// The short name for a version, as GetWindowsVersionName maps it.
std::string WindowsVersionName(DWORD major, DWORD minor);
// By GetVersionExW alone; decides how programs are started.
bool IsVistaOrLater();

// GetNativeSystemInfo where the system has it, else GetSystemInfo.
void GetNativeSystemInfoSafe(SYSTEM_INFO* info);
// True on 64-bit Windows: this 32-bit process runs under WOW64, or the native
// processor is x64 or Itanium.
bool Is64BitWindows();

// Free MiB of the volume (all of it, not the caller's quota); 0 on failure.
int64_t GetDiskFreeSpaceMB(char letter);
// Member of the built-in Administrators group.
bool IsUserAdmin();

// The machine identity: "%02x-%02x-%02x-%02x-%02x-%02x" addresses of the
// physical adapters joined by ":" in ascending order; built once per process
// (an empty result is built again on the next call), safe from any thread.
std::string GetMachineId();
// The first three adapters' addresses without VM adapters, sorted.
std::vector<std::string> GetMacAddressList();
// The first three adapters' addresses, unfiltered, joined by ":".
std::string GetFirstMacAddresses();
// The adapter's network class entry marks it as a physical one.
bool IsPhysicalAdapter(const std::string& name);
// The adapter's connection entry names a PCI device.
bool IsPciAdapter(const std::string& name);
// Splits at ":", sorts the pieces by bytes, joins them again.
void SortMacList(std::string& text);

// The address prefixes of the adapters that VM software emulates.
const std::vector<std::string>& VmMacPrefixes();
bool IsVmAddress(const std::string& address);

// One adapter as the identity sees it: its name and its address text.
struct AdapterAddress {
    std::string name;
    std::string address;
};
// The adapters of GetAdaptersInfo in list order; false when there are none.
bool ReadAdapterList(std::vector<AdapterAddress>& adapters);
// The identity of an adapter list: the hardware adapters' addresses, else
// the non-VM ones of the first three, else the first three.
std::string BuildMachineId(const std::vector<AdapterAddress>& adapters,
                           const std::function<bool(const std::string& name)>& isHardware);
