#include "Registry.h"

#include <cstring>
#include <vector>

#include "Text.h"

const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

namespace {

constexpr DWORD kStringValueBytes = 200;
constexpr DWORD kWideStringValueBytes = 400;

// The text of string data of a known length: up to its first NUL, and never
// past the bytes the registry returned (stored data need not end in a NUL).
template <typename Char>
std::basic_string<Char> TextOf(const Char* data, DWORD bytes) {
    const size_t count = bytes / sizeof(Char);
    size_t length = 0;
    while (length < count && data[length]) ++length;
    return std::basic_string<Char>(data, length);
}

}  // namespace

CMyRegKey::~CMyRegKey() { Close(); }

LONG CMyRegKey::Create(HKEY root, const std::string& subKey) {
    Close();
    path_ = subKey;
    DWORD disposition = 0;
    return RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                           &disposition);
}

LONG CMyRegKey::Open(HKEY root, const std::string& subKey, REGSAM access) {
    Close();
    path_ = subKey;
    return RegOpenKeyExA(root, subKey.c_str(), 0, access, &key_);
}

LONG CMyRegKey::Open64(HKEY root, const std::string& subKey) {
    return Open(root, subKey, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
}

void CMyRegKey::Close() {
    if (key_) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

LONG CMyRegKey::QueryDWORDValue(const char* name, int& out) {
    DWORD value = 0, size = sizeof(value), type = 0;
    const LONG result = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (result == ERROR_SUCCESS) out = static_cast<int>(value);
    return result;
}

LONG CMyRegKey::QueryDWORDValueChecked(const char* name, int& out) {
    DWORD value = 0, size = sizeof(value), type = 0;
    const LONG result = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_DWORD || size != sizeof(value)) return -1;
    out = static_cast<int>(value);
    return ERROR_SUCCESS;
}

LONG CMyRegKey::QueryStringValue(const char* name, std::string& out) {
    char buffer[kStringValueBytes + 1] = {};
    DWORD size = kStringValueBytes, type = 0;
    const LONG result = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (result == ERROR_SUCCESS) out = TextOf(buffer, size);
    return result;
}

LONG CMyRegKey::QueryStringValueChecked(const char* name, char* buffer, DWORD& size) {
    if (!buffer || size == 0) return ERROR_INVALID_PARAMETER;
    // One byte is kept back for the NUL the stored data may lack.
    std::vector<char> data(size, '\0');
    DWORD got = size - 1, type = 0;
    const LONG result = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return -1;
    std::memcpy(buffer, data.data(), size);
    size = got;
    return ERROR_SUCCESS;
}

LONG CMyRegKey::QueryWideStringValue(const char* name, std::wstring& out) {
    wchar_t buffer[kWideStringValueBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kWideStringValueBytes, type = 0;
    const std::wstring wideName = name ? NarrowToWide(name) : std::wstring();
    const LONG result = RegQueryValueExW(key_, name ? wideName.c_str() : nullptr, nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer), &size);
    if (result == ERROR_SUCCESS) out = TextOf(buffer, size);
    return result;
}

LONG CMyRegKey::QueryValue(const char* name, void* buffer, DWORD& size) {
    return RegQueryValueExA(key_, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &size);
}

LONG CMyRegKey::SetDWORDValue(const char* name, int value) {
    const DWORD data = static_cast<DWORD>(value);
    return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

LONG CMyRegKey::SetStringValue(const char* name, const std::string& text) {
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG CMyRegKey::SetWideStringValue(const char* name, const std::wstring& text) {
    const std::wstring wideName = name ? NarrowToWide(name) : std::wstring();
    return RegSetValueExW(key_, name ? wideName.c_str() : nullptr, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG CMyRegKey::SetBinaryValue(const char* name, const void* data, DWORD size) {
    return RegSetValueExA(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size);
}

LONG CMyRegKey::EnumKey(DWORD index, RegKeyName& out) {
    std::memset(out.name, 0, sizeof(out.name));
    out.size = sizeof(out.name);
    return RegEnumKeyA(key_, index, out.name, out.size);
}

LONG CMyRegKey::EnumValue(DWORD index, RegValueEntry& out) {
    // The name buffer holds 1024 characters, of which 256 are offered (the
    // longest value name the registry allows is 16,383, far beyond this).
    std::memset(&out, 0, sizeof(out));
    out.nameLength = 256;
    out.dataLength = sizeof(out.data);
    return RegEnumValueA(key_, index, out.name, &out.nameLength, nullptr, &out.type, out.data, &out.dataLength);
}

LONG CMyRegKey::QueryInfo(RegKeyInfo& out) {
    std::memset(out.className, 0, sizeof(out.className));
    out.classNameLength = sizeof(out.className) - 1;
    return RegQueryInfoKeyA(key_, out.className, &out.classNameLength, nullptr, &out.subKeys, &out.maxSubKeyLength,
                            &out.maxClassLength, &out.values, &out.maxValueNameLength, &out.maxValueLength, nullptr,
                            nullptr);
}

LONG CMyRegKey::DeleteSubKey(const std::string& subKey) { return RegDeleteKeyA(key_, subKey.c_str()); }

namespace {

std::string UninstallPath(const std::string& item) { return std::string(kUninstallKey) + item; }

}  // namespace

int SetRunOnceValue(const std::string& name, const std::string& command) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, kRunOnceKey) != ERROR_SUCCESS) return 0;
    key.SetStringValue(name.c_str(), command);
    return 1;
}

int SetUninstallItemString(const std::string& item, const std::string& name, const std::string& text) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, UninstallPath(item)) != ERROR_SUCCESS) return 0;
    key.SetStringValue(name.c_str(), text);
    return 1;
}

int SetRunOnceValueW(const std::string& name, const std::wstring& command) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, kRunOnceKey) != ERROR_SUCCESS) return 0;
    key.SetWideStringValue(name.c_str(), command);
    return 1;
}

int SetUninstallItemStringW(const std::string& item, const std::string& name, const std::wstring& text) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, UninstallPath(item)) != ERROR_SUCCESS) return 0;
    key.SetWideStringValue(name.c_str(), text);
    return 1;
}

int SetUninstallItemDword(const std::string& item, const std::string& name, int value) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, UninstallPath(item)) != ERROR_SUCCESS) return 0;
    key.SetDWORDValue(name.c_str(), value);
    return 1;
}

int GetUninstallItemDword(const std::string& item, const std::string& name, int& out) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, UninstallPath(item)) != ERROR_SUCCESS) return 0;
    key.QueryDWORDValue(name.c_str(), out);
    return 1;
}

int GetUninstallItemLocation(const std::string& item, std::string& out) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, UninstallPath(item)) != ERROR_SUCCESS) return 0;
    std::string location;
    if (key.QueryStringValue("InstallLocation", location) != ERROR_SUCCESS) return 0;
    out = location;
    return location.empty() ? 0 : 1;
}

int GetUninstallItemLocationW(const std::string& item, std::wstring& out) {
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, UninstallPath(item)) != ERROR_SUCCESS) return 0;
    // A path of up to MAX_PATH characters and its NUL, with room to spare.
    wchar_t buffer[2 * MAX_PATH + 1] = {};
    DWORD size = 2 * MAX_PATH * sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key.Handle(), L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return 0;
    out = TextOf(buffer, size);
    return out.empty() ? 0 : 1;
}

int DeleteUninstallItem(const std::string& item) {
    // An empty name would name the Uninstall key itself.
    if (item.empty()) return 0;
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallPath(item).c_str()) == ERROR_SUCCESS ? 1 : 0;
}

int RegisterFileAssociation(const std::string& extension, const std::string& iconPath, const std::string& command) {
    const std::string classes = "SOFTWARE\\Classes\\";
    const std::string typeName = extension + "file";
    CMyRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, classes + "." + extension) != ERROR_SUCCESS) return 0;
    key.SetStringValue(nullptr, typeName);
    if (key.Create(HKEY_LOCAL_MACHINE, classes + typeName) != ERROR_SUCCESS) return 0;
    if (key.Create(HKEY_LOCAL_MACHINE, classes + typeName + "\\DefaultIcon") != ERROR_SUCCESS) return 0;
    key.SetStringValue(nullptr, iconPath);
    if (key.Create(HKEY_LOCAL_MACHINE, classes + typeName + "\\shell\\open\\command") != ERROR_SUCCESS) return 0;
    key.SetStringValue(nullptr, command + " %1");
    return 1;
}
