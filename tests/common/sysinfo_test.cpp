#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Log.h"
#include "Registry.h"
#include "SystemInfo.h"

namespace {

std::mutex g_linesLock;
std::vector<std::string> g_lines;

int CaptureLine(const char* message) {
    std::lock_guard<std::mutex> guard(g_linesLock);
    g_lines.push_back(message);
    return 0;
}

// Log lines written while an object of this class lives.
class LogCapture {
public:
    LogCapture() {
        g_lines.clear();
        GetLog()->SetCallback(CaptureLine);
    }
    ~LogCapture() { GetLog()->SetCallback(nullptr); }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> guard(g_linesLock);
        return g_lines;
    }
};

// Set by the CTest entries that run these cases again in a 32-bit prefix.
bool In32BitPrefix() {
    const char* arch = getenv("ORVANE_PREFIX_ARCH");
    return arch && strcmp(arch, "win32") == 0;
}

// The harness's prefix reports Windows 10.
const DWORD kPrefixMajor = 10, kPrefixMinor = 0;

}  // namespace

TEST(WindowsVersionTest, ProbesReportThePrefixVersion) {
    LogCapture capture;
    DWORD major = 0, minor = 0;
    GetWindowsVersion(major, minor);
    EXPECT_EQ(major, kPrefixMajor);
    EXPECT_EQ(minor, kPrefixMinor);
    // The workstation service answers, so the first probe is the only one.
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"Window Version : 10,0"});
    EXPECT_EQ(GetWindowsVersionName(), "win10");
    EXPECT_TRUE(IsWin7OrLater());

    // This program's manifest declares Windows 10, as the installer's does;
    // without it GetVersionExW (and Wine's workstation service, which asks
    // it) would report 6.2.
    OSVERSIONINFOW version = {sizeof(version)};
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwMajorVersion, kPrefixMajor);
    EXPECT_TRUE(IsVistaOrLater());
}

TEST(WindowsVersionTest, NameTable) {
    const struct {
        DWORD major, minor;
        const char* name;
    } cases[] = {
        {10, 0, "win10"}, {11, 2, "win10"}, {6, 3, "win8.1"}, {6, 2, "win8"},  {6, 1, "win7"},
        {6, 0, "vista"},  {6, 4, "unknown"}, {5, 1, "xp"},    {7, 0, "xp"},    {9, 9, "xp"},
        {0, 0, "xp"},
    };
    for (const auto& c : cases) EXPECT_EQ(WindowsVersionName(c.major, c.minor), c.name) << c.major << "." << c.minor;
}

TEST(SystemInfoTest, BitnessOfThePrefix) {
    const bool windows32 = In32BitPrefix();
    SYSTEM_INFO native = {}, emulated = {};
    GetNativeSystemInfoSafe(&native);
    GetSystemInfo(&emulated);
    EXPECT_EQ(native.wProcessorArchitecture, windows32 ? PROCESSOR_ARCHITECTURE_INTEL : PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(emulated.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);  // what this 32-bit process sees
    GetNativeSystemInfoSafe(nullptr);  // ignored
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64 != FALSE, !windows32);
    EXPECT_EQ(Is64BitWindows(), !windows32);
}

TEST(SystemInfoTest, FreeSpaceOfAVolumeAndOfAMissingLetter) {
    ULARGE_INTEGER available = {}, total = {}, free = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, &total, &free));
    const int64_t expected = static_cast<int64_t>(free.QuadPart / (1024 * 1024));
    const int64_t measured = GetDiskFreeSpaceMB('C');
    EXPECT_GT(measured, 0);
    EXPECT_NEAR(static_cast<double>(measured), static_cast<double>(expected), 64.0);  // others write meanwhile

    const DWORD drives = GetLogicalDrives();
    char missing = 0;
    for (char letter = 'Y'; letter > 'D'; --letter)
        if (!(drives & (1u << (letter - 'A')))) {
            missing = letter;
            break;
        }
    ASSERT_NE(missing, 0);
    EXPECT_EQ(GetDiskFreeSpaceMB(missing), 0);
}

TEST(SystemInfoTest, WineUserIsAnAdministrator) {
    // Wine runs every program with an administrator's token.
    EXPECT_TRUE(IsUserAdmin());
}

TEST(MachineIdTest, IdentityFromAdapterLists) {
    const auto hardware = [](const std::vector<std::string>& names) {
        return [names](const std::string& name) {
            for (const auto& n : names)
                if (n == name) return true;
            return false;
        };
    };
    const struct {
        const char* what;
        std::vector<AdapterAddress> adapters;
        std::vector<std::string> physical;
        const char* identity;
    } cases[] = {
        {"physical and VM adapter",
         {{"vm", "00-0c-29-11-22-33"}, {"eth", "a4-bb-6d-01-02-03"}},
         {"eth"},
         "a4-bb-6d-01-02-03"},
        {"two physical adapters sorted",
         {{"one", "1c-00-00-00-00-01"}, {"two", "00-aa-00-00-00-02"}},
         {"one", "two"},
         "00-aa-00-00-00-02:1c-00-00-00-00-01"},
        {"none physical: non-VM of the first three",
         {{"a", "08-00-27-00-00-01"}, {"b", "5c-00-00-00-00-02"}, {"c", "00-50-56-00-00-03"}, {"d", "02-00-00-00-00-04"}},
         {},
         "5c-00-00-00-00-02"},
        {"first three all VM: first three unfiltered",
         {{"a", "08-00-27-00-00-01"},
          {"b", "00-1c-14-00-00-02"},
          {"c", "00-16-3e-00-00-03"},
          {"d", "02-00-00-00-00-04"}},
         {},
         "00-16-3e-00-00-03:00-1c-14-00-00-02:08-00-27-00-00-01"},
        {"physical beyond the third adapter counts", {{"a", "08-00-27-00-00-01"}, {"b", "00-1c-42-00-00-02"},
          {"c", "00-05-69-00-00-03"}, {"d", "02-00-00-00-00-04"}}, {"d"}, "02-00-00-00-00-04"},
        {"no adapters", {}, {}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildMachineId(c.adapters, hardware(c.physical)), c.identity) << c.what;
}

TEST(MachineIdTest, VmPrefixesMatchWithoutRegardToCase) {
    EXPECT_EQ(VmMacPrefixes().size(), 9u);
    for (const char* vm : {"00-1c-14-aa-bb-cc", "00-1C-14-AA-BB-CC", "00-0c-29-00-00-01", "08-00-27-12-34-56",
                           "00-16-3e-00-00-00", "00-03-ff-00-00-00"})
        EXPECT_TRUE(IsVmAddress(vm)) << vm;
    for (const char* real : {"00-1c-15-aa-bb-cc", "a4-bb-6d-01-02-03", "", "00-0c"}) EXPECT_FALSE(IsVmAddress(real)) << real;

    std::string list = "1c-00:00-ff:0a-00";
    SortMacList(list);
    EXPECT_EQ(list, "00-ff:0a-00:1c-00");
    std::string one = "1c-00";
    SortMacList(one);
    EXPECT_EQ(one, "1c-00");
}

namespace {

const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002bE10318}";
const char kNetworkKey[] = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char kAdapterId[] = "{0E5A0E5A-0000-4000-8000-0000000A11CE}";

class AdapterRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        for (const std::string& key : {std::string(kClassKey) + "\\9990", std::string(kClassKey) + "\\9991",
                                       std::string(kNetworkKey) + "\\" + kAdapterId}) {
            HKEY handle = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) {
                RegDeleteTreeA(handle, nullptr);
                RegCloseKey(handle);
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
            }
        }
    }
    static void WriteClassEntry(const char* index, const char* instanceId, DWORD type, DWORD characteristics) {
        CMyRegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, std::string(kClassKey) + "\\" + index), ERROR_SUCCESS);
        key.SetStringValue("NetCfgInstanceId", instanceId);
        RegSetValueExA(key.Handle(), "Characteristics", 0, type, reinterpret_cast<const BYTE*>(&characteristics), 4);
    }
    static void WritePnpId(const char* pnpId) {
        CMyRegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, std::string(kNetworkKey) + "\\" + kAdapterId + "\\Connection"),
                  ERROR_SUCCESS);
        key.SetStringValue("PnpInstanceID", pnpId);
    }
};

}  // namespace

TEST_F(AdapterRegistryTest, PhysicalAdapterNeedsItsClassEntryWithTheHardwareBit) {
    EXPECT_FALSE(IsPhysicalAdapter(kAdapterId));
    WriteClassEntry("9990", kAdapterId, REG_DWORD, 0x1);  // not a hardware adapter
    EXPECT_FALSE(IsPhysicalAdapter(kAdapterId));
    WriteClassEntry("9990", kAdapterId, REG_BINARY, 0x84);  // right bit, wrong type
    EXPECT_FALSE(IsPhysicalAdapter(kAdapterId));
    WriteClassEntry("9991", kAdapterId, REG_DWORD, 0x84);
    EXPECT_TRUE(IsPhysicalAdapter(kAdapterId));
    EXPECT_FALSE(IsPhysicalAdapter("{0E5A0E5A-0000-4000-8000-0000000A11CF}"));
}

TEST_F(AdapterRegistryTest, PciTestKeepsItsLeadingSemicolon) {
    // The identity the statistics key on depends on this exact test.
    WritePnpId("PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&267A616A&0&18");
    EXPECT_FALSE(IsPciAdapter(kAdapterId));
    WritePnpId(";PCI\\VEN_8086");
    EXPECT_TRUE(IsPciAdapter(kAdapterId));
    EXPECT_FALSE(IsPciAdapter(std::string(300, 'x')));  // a key path that does not fit
}

TEST(MachineIdTest, WineAdaptersGiveOneStableWellFormedIdentityAcrossThreads) {
    std::vector<AdapterAddress> adapters;
    const bool listed = ReadAdapterList(adapters);
    const std::regex format("([0-9a-f]{2}-){5}[0-9a-f]{2}(:([0-9a-f]{2}-){5}[0-9a-f]{2})*");

    std::vector<std::string> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = GetMachineId(); });
    for (auto& t : threads) t.join();
    for (const auto& id : seen) EXPECT_EQ(id, seen[0]);
    std::printf("identity of this machine under Wine: \"%s\" from %u adapters\n", seen[0].c_str(),
                static_cast<unsigned>(adapters.size()));
    EXPECT_EQ(GetMachineId(), seen[0]);
    if (listed && !adapters.empty()) {
        EXPECT_TRUE(std::regex_match(seen[0], format)) << seen[0];
        std::string sorted = seen[0];
        SortMacList(sorted);
        EXPECT_EQ(sorted, seen[0]);
    } else {
        EXPECT_EQ(seen[0], "");
    }

    std::string first;
    for (size_t i = 0; i < adapters.size() && i < 3; ++i) first += (i ? ":" : "") + adapters[i].address;
    EXPECT_EQ(GetFirstMacAddresses(), first);
    const std::vector<std::string> list = GetMacAddressList();
    EXPECT_LE(list.size(), 3u);
    for (size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1], list[i]);
    for (const auto& address : list) EXPECT_FALSE(IsVmAddress(address));
}
