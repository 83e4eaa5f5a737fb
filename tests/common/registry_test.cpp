#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Handles.h"
#include "Registry.h"
#include "SystemInfo.h"
#include "Text.h"

namespace {

// Set by the CTest entries that run these cases again in a 32-bit prefix.
bool In32BitPrefix() {
    const char* arch = getenv("ORVANE_PREFIX_ARCH");
    return arch && strcmp(arch, "win32") == 0;
}

const char kTestKey[] = "SOFTWARE\\OrvaneRegistryTest";
const char kTestItem[] = "OrvaneRegistryTestItem";

// Removes a key tree in one view, for clean-up.
void DeleteTree(REGSAM view, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view, 0);
}

bool KeyExists(REGSAM view, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Stores exactly these bytes as a value of a given type, bypassing CMyRegKey.
// The byte after them is not a NUL: the registry would store a NUL that
// follows text data right after it as part of the value.
void SetRaw(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    const std::string padded = bytes + '#';
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(padded.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        DeleteTree(KEY_WOW64_32KEY, kTestKey);
        DeleteTree(KEY_WOW64_64KEY, kTestKey);
        DeleteTree(KEY_WOW64_32KEY, (std::string(kUninstallKey) + kTestItem).c_str());
    }
};

}  // namespace

TEST_F(RegistryTest, CreateWritesThe32BitViewAndOpen64ReachesThe64BitOne) {
    {
        CMyRegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
        EXPECT_EQ(key.Path(), kTestKey);
        EXPECT_EQ(key.SetStringValue("Text", "32-bit"), ERROR_SUCCESS);
    }
    EXPECT_TRUE(KeyExists(KEY_WOW64_32KEY, kTestKey));
    // On 64-bit Windows the 32-bit view lies below WOW6432Node; 32-bit
    // Windows has one view, and the view flags change nothing.
    const bool windows32 = In32BitPrefix();
    ASSERT_EQ(Is64BitWindows(), !windows32);
    EXPECT_EQ(KeyExists(KEY_WOW64_64KEY, kTestKey), windows32);
    EXPECT_EQ(KeyExists(KEY_WOW64_64KEY, "SOFTWARE\\WOW6432Node\\OrvaneRegistryTest"), !windows32);

    HKEY native = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                              &native, nullptr),
              ERROR_SUCCESS);
    UniqueHKey owner(native);
    SetRaw(native, "Text", REG_SZ, std::string("64-bit", 7));

    CMyRegKey key64, key32;
    ASSERT_EQ(key64.Open64(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
    ASSERT_EQ(key32.Open(HKEY_LOCAL_MACHINE, kTestKey, KEY_READ), ERROR_SUCCESS);
    std::string text64, text32;
    EXPECT_EQ(key64.QueryStringValue("Text", text64), ERROR_SUCCESS);
    EXPECT_EQ(key32.QueryStringValue("Text", text32), ERROR_SUCCESS);
    EXPECT_EQ(text64, "64-bit");
    EXPECT_EQ(text32, windows32 ? "64-bit" : "32-bit");

    CMyRegKey missing;
    EXPECT_EQ(missing.Open(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\none"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.Handle(), nullptr);
}

TEST_F(RegistryTest, StringReadsNeverPassTheirBuffer) {
    CMyRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
    // Other programs may store text without its NUL, filling the buffer.
    SetRaw(key.Handle(), "Full", REG_SZ, std::string(200, 'x'));
    SetRaw(key.Handle(), "Fits", REG_SZ, std::string(199, 'y') + '\0');
    SetRaw(key.Handle(), "TooLong", REG_SZ, std::string(200, 'z') + '\0');
    SetRaw(key.Handle(), "Trailing", REG_SZ, std::string("ab\0\0\0", 5));

    const struct {
        const char* name;
        LONG result;
        std::string text;
    } cases[] = {
        {"Full", ERROR_SUCCESS, std::string(200, 'x')},
        {"Fits", ERROR_SUCCESS, std::string(199, 'y')},
        {"TooLong", ERROR_MORE_DATA, "untouched"},
        {"Trailing", ERROR_SUCCESS, "ab"},
        {"Missing", ERROR_FILE_NOT_FOUND, "untouched"},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(key.QueryStringValue(c.name, out), c.result) << c.name;
        EXPECT_EQ(out, c.text) << c.name;
    }

    // The checked form keeps one byte of the buffer for the NUL.
    SetRaw(key.Handle(), "Nine", REG_SZ, "123456789");
    SetRaw(key.Handle(), "Ten", REG_SZ, "1234567890");
    SetRaw(key.Handle(), "Number", REG_DWORD, std::string("\x01\0\0\0", 4));
    SetRaw(key.Handle(), "Expand", REG_EXPAND_SZ, std::string("%TEMP%", 7));
    char buffer[10];
    DWORD size = sizeof(buffer);
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(key.QueryStringValueChecked("Nine", buffer, size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "123456789");
    EXPECT_EQ(size, 9u);

    memset(buffer, '#', sizeof(buffer));
    size = sizeof(buffer);
    EXPECT_EQ(key.QueryStringValueChecked("Ten", buffer, size), ERROR_MORE_DATA);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(10, '#'));
    EXPECT_EQ(key.QueryStringValueChecked("Number", buffer, size), -1);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(10, '#'));
    size = sizeof(buffer);
    EXPECT_EQ(key.QueryStringValueChecked("Expand", buffer, size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "%TEMP%");
}

TEST_F(RegistryTest, DwordReadsWithAndWithoutTypeCheck) {
    CMyRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
    EXPECT_EQ(key.SetDWORDValue("Flag", -2), ERROR_SUCCESS);
    SetRaw(key.Handle(), "Text", REG_SZ, std::string("abc", 4));

    int value = 7;
    EXPECT_EQ(key.QueryDWORDValue("Flag", value), ERROR_SUCCESS);
    EXPECT_EQ(value, -2);
    value = 7;
    EXPECT_EQ(key.QueryDWORDValueChecked("Flag", value), ERROR_SUCCESS);
    EXPECT_EQ(value, -2);

    // Four bytes of text read as a number, unless the type is checked.
    value = 7;
    EXPECT_EQ(key.QueryDWORDValue("Text", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0x00636261);
    value = 7;
    EXPECT_EQ(key.QueryDWORDValueChecked("Text", value), -1);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(key.QueryDWORDValue("Missing", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(value, 7);
}

TEST_F(RegistryTest, EnumerationInfoBinaryWideAndSubKeyDeletion) {
    CMyRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
    {
        CMyRegKey child;
        ASSERT_EQ(child.Create(HKEY_LOCAL_MACHINE, std::string(kTestKey) + "\\Child"), ERROR_SUCCESS);
    }
    const unsigned char blob[] = {0, 1, 2, 0xff};
    EXPECT_EQ(key.SetBinaryValue("Blob", blob, sizeof(blob)), ERROR_SUCCESS);

    RegKeyInfo info;
    info.reserved = 0xabcdef;
    ASSERT_EQ(key.QueryInfo(info), ERROR_SUCCESS);
    EXPECT_EQ(info.reserved, 0xabcdefu);
    EXPECT_EQ(info.subKeys, 1u);
    EXPECT_EQ(info.values, 1u);
    EXPECT_EQ(info.maxSubKeyLength, 5u);

    RegKeyName name;
    ASSERT_EQ(key.EnumKey(0, name), ERROR_SUCCESS);
    EXPECT_STREQ(name.name, "Child");
    EXPECT_EQ(name.size, 256u);
    EXPECT_EQ(key.EnumKey(1, name), ERROR_NO_MORE_ITEMS);

    RegValueEntry entry;
    ASSERT_EQ(key.EnumValue(0, entry), ERROR_SUCCESS);
    EXPECT_STREQ(entry.name, "Blob");
    EXPECT_EQ(entry.nameLength, 4u);
    EXPECT_EQ(entry.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(entry.dataLength, 4u);
    EXPECT_EQ(0, memcmp(entry.data, blob, sizeof(blob)));

    unsigned char raw[8] = {};
    DWORD size = sizeof(raw);
    EXPECT_EQ(key.QueryValue("Blob", raw, size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(raw[3], 0xff);

    const std::wstring wide = L"Orvane \u00e9\u041f\u65e5";
    ASSERT_EQ(RegSetValueExW(key.Handle(), L"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                             static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    std::wstring readBack;
    EXPECT_EQ(key.QueryWideStringValue("Wide", readBack), ERROR_SUCCESS);
    EXPECT_EQ(readBack, wide);

    EXPECT_EQ(key.DeleteSubKey("Child"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(KEY_WOW64_32KEY, std::string(kTestKey) + "\\Child"));
}

TEST_F(RegistryTest, UninstallEntryValuesAndTheirReaders) {
    EXPECT_EQ(SetUninstallItemString(kTestItem, "DisplayName", "Orvane"), 1);
    EXPECT_EQ(SetUninstallItemDword(kTestItem, "NoModify", 1), 1);
    // A non-ASCII folder goes in and comes out the same, and the wide view
    // of the value is the folder itself.
    const std::wstring folder = L"C:\\Program Files\\Orvane \u00e9t\u00e9";
    ASSERT_EQ(SetUninstallItemString(kTestItem, "InstallLocation", WideToNarrow(folder)), 1);

    int flag = 0;
    EXPECT_EQ(GetUninstallItemDword(kTestItem, "NoModify", flag), 1);
    EXPECT_EQ(flag, 1);
    flag = 42;
    EXPECT_EQ(GetUninstallItemDword(kTestItem, "Missing", flag), 1);
    EXPECT_EQ(flag, 42);

    std::string location;
    EXPECT_EQ(GetUninstallItemLocation(kTestItem, location), 1);
    EXPECT_EQ(NarrowToWide(location), folder);
    CMyRegKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + kTestItem, KEY_READ), ERROR_SUCCESS);
    std::wstring wide;
    EXPECT_EQ(key.QueryWideStringValue("InstallLocation", wide), ERROR_SUCCESS);
    EXPECT_EQ(wide, folder);
    key.Close();

    EXPECT_EQ(SetUninstallItemString(kTestItem, "InstallLocation", ""), 1);
    location = "kept";
    EXPECT_EQ(GetUninstallItemLocation(kTestItem, location), 0);
}

// Folders the ANSI code page cannot spell (Cyrillic, CJK on a Western
// system) keep their real names in the values that hold paths.
TEST_F(RegistryTest, PathValuesOutsideTheAnsiCodePageAreStoredWide) {
    const std::wstring folder = L"C:\\\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430\\\u5b89\u88c5 Orvane";
    const std::wstring uninstaller = L"\"" + folder + L"\\uninstall.exe\"";
    ASSERT_EQ(SetUninstallItemStringW(kTestItem, "InstallLocation", folder), 1);
    ASSERT_EQ(SetUninstallItemStringW(kTestItem, "UninstallString", uninstaller), 1);
    ASSERT_EQ(SetUninstallItemStringW(kTestItem, "DisplayIcon", folder + L"\\orvane.exe"), 1);

    std::wstring location;
    EXPECT_EQ(GetUninstallItemLocationW(kTestItem, location), 1);
    EXPECT_EQ(location, folder);
    CMyRegKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + kTestItem, KEY_READ), ERROR_SUCCESS);
    std::wstring value;
    EXPECT_EQ(key.QueryWideStringValue("UninstallString", value), ERROR_SUCCESS);
    EXPECT_EQ(value, uninstaller);
    EXPECT_EQ(key.QueryWideStringValue("DisplayIcon", value), ERROR_SUCCESS);
    EXPECT_EQ(value, folder + L"\\orvane.exe");
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(key.Handle(), L"InstallLocation", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    key.Close();
    // An empty location reads as none, as with the ANSI reader.
    ASSERT_EQ(SetUninstallItemStringW(kTestItem, "InstallLocation", L""), 1);
    EXPECT_EQ(GetUninstallItemLocationW(kTestItem, location), 0);

    const char kValue[] = "OrvaneRegistryTestW";
    const std::wstring command = L"\"" + folder + L"\\setup.exe\" /restart";
    ASSERT_EQ(SetRunOnceValueW(kValue, command), 1);
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey), ERROR_SUCCESS);
    EXPECT_EQ(key.QueryWideStringValue(kValue, value), ERROR_SUCCESS);
    EXPECT_EQ(value, command);
    // Nothing may run at the prefix's next start.
    EXPECT_EQ(RegDeleteValueA(key.Handle(), kValue), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ReadingAMissingEntryLeavesAnEmptyKeyAndDeletionReportsItsResult) {
    const std::string path = std::string(kUninstallKey) + kTestItem;
    int flag = 42;
    EXPECT_EQ(GetUninstallItemDword(kTestItem, "NoModify", flag), 1);
    EXPECT_EQ(flag, 42);
    EXPECT_TRUE(KeyExists(KEY_WOW64_32KEY, path));
    std::string location = "kept";
    EXPECT_EQ(GetUninstallItemLocation(kTestItem, location), 0);
    EXPECT_EQ(location, "kept");

    // An entry with a sub-key is not deleted, and that is reported.
    {
        CMyRegKey child;
        ASSERT_EQ(child.Create(HKEY_LOCAL_MACHINE, path + "\\Sub"), ERROR_SUCCESS);
    }
    EXPECT_EQ(DeleteUninstallItem(kTestItem), 0);
    EXPECT_TRUE(KeyExists(KEY_WOW64_32KEY, path));

    DeleteTree(KEY_WOW64_32KEY, (path + "\\Sub").c_str());
    EXPECT_EQ(DeleteUninstallItem(kTestItem), 1);
    EXPECT_FALSE(KeyExists(KEY_WOW64_32KEY, path));
    EXPECT_EQ(DeleteUninstallItem(kTestItem), 0);  // already gone
    EXPECT_EQ(DeleteUninstallItem(""), 0);          // never the Uninstall key itself
    EXPECT_TRUE(KeyExists(KEY_WOW64_32KEY, kUninstallKey));
}

TEST_F(RegistryTest, RunOnceCommandAndFileAssociation) {
    const char kValue[] = "OrvaneRegistryTest";
    const std::string command = "\"C:\\Users\\John Smith\\Downloads\\setup.exe\" /restart";
    ASSERT_EQ(SetRunOnceValue(kValue, command), 1);
    {
        CMyRegKey key;
        ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kRunOnceKey), ERROR_SUCCESS);
        std::string stored;
        EXPECT_EQ(key.QueryStringValue(kValue, stored), ERROR_SUCCESS);
        EXPECT_EQ(stored, command);
        // Nothing may run at the prefix's next start.
        EXPECT_EQ(RegDeleteValueA(key.Handle(), kValue), ERROR_SUCCESS);
    }

    ASSERT_EQ(RegisterFileAssociation("orvtest", "C:\\app\\icon.ico", "\"C:\\app\\app.exe\""), 1);
    const std::string classes = "SOFTWARE\\Classes\\";
    const struct {
        std::string key;
        const char* value;
    } cases[] = {
        {classes + ".orvtest", "orvtestfile"},
        {classes + "orvtestfile\\DefaultIcon", "C:\\app\\icon.ico"},
        {classes + "orvtestfile\\shell\\open\\command", "\"C:\\app\\app.exe\" %1"},
    };
    for (const auto& c : cases) {
        CMyRegKey key;
        ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, c.key, KEY_READ), ERROR_SUCCESS) << c.key;
        std::string value;
        EXPECT_EQ(key.QueryStringValue(nullptr, value), ERROR_SUCCESS) << c.key;
        EXPECT_EQ(value, c.value);
    }
    DeleteTree(KEY_WOW64_32KEY, (classes + ".orvtest").c_str());
    DeleteTree(KEY_WOW64_32KEY, (classes + "orvtestfile").c_str());
}
