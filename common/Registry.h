// Registry access over the ANSI registry functions, and the uninstall and
// run-once entries below HKEY_LOCAL_MACHINE. Narrow texts are in the ANSI
// code page.
#pragma once

#include <windows.h>

#include <string>

struct RegKeyName {
    char name[256];
    DWORD size;  // always the buffer size, 256
};

struct RegValueEntry {
    char name[1024];
    DWORD nameLength;
    DWORD type;
    BYTE data[1024];
    DWORD dataLength;
};

struct RegKeyInfo {
    DWORD reserved;  // left untouched
    char className[100];
    DWORD classNameLength;
    DWORD subKeys;
    DWORD maxSubKeyLength;
    DWORD maxClassLength;
    DWORD values;
    DWORD maxValueNameLength;
    DWORD maxValueLength;
};

// Owner of one open key. Results are Win32 error codes (0 for success);
// the checked queries give -1 for a value of the wrong type.
class CMyRegKey {
public:
    CMyRegKey() = default;
    virtual ~CMyRegKey();
    CMyRegKey(const CMyRegKey&) = delete;
    CMyRegKey& operator=(const CMyRegKey&) = delete;

    // Opens the key with KEY_ALL_ACCESS, creating it when missing. No view
    // flag: in this 32-bit process keys below HKLM\SOFTWARE are the 32-bit ones.
    LONG Create(HKEY root, const std::string& subKey);
    LONG Open(HKEY root, const std::string& subKey, REGSAM access = KEY_ALL_ACCESS);
    // Opens an existing key in the 64-bit view.
    LONG Open64(HKEY root, const std::string& subKey);
    void Close();

    HKEY Handle() const { return key_; }
    const std::string& Path() const { return path_; }

    // Four bytes, whatever the type; out is written only on success.
    LONG QueryDWORDValue(const char* name, int& out);
    // As above, then -1 unless the value is a REG_DWORD of four bytes.
    LONG QueryDWORDValueChecked(const char* name, int& out);
    // Up to 200 bytes of data (199 characters and the NUL); longer data gives
    // ERROR_MORE_DATA. Data without a terminating NUL is taken by its length,
    // never read past. out is written only on success.
    LONG QueryStringValue(const char* name, std::string& out);
    // Up to size - 1 bytes, so the text in buffer always ends in a NUL; size
    // becomes the bytes read. The buffer is written only on success. -1 unless
    // REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ.
    LONG QueryStringValueChecked(const char* name, char* buffer, DWORD& size);
    // Up to 199 UTF-16 characters, read through the wide function.
    LONG QueryWideStringValue(const char* name, std::wstring& out);
    // Raw read into the caller's buffer; the type is not returned.
    LONG QueryValue(const char* name, void* buffer, DWORD& size);

    LONG SetDWORDValue(const char* name, int value);
    // A REG_SZ of the text and its NUL.
    LONG SetStringValue(const char* name, const std::string& text);
    // The same through the wide function, for texts the ANSI code page
    // cannot spell (paths of folders with any name).
    LONG SetWideStringValue(const char* name, const std::wstring& text);
    LONG SetBinaryValue(const char* name, const void* data, DWORD size);

    LONG EnumKey(DWORD index, RegKeyName& out);
    LONG EnumValue(DWORD index, RegValueEntry& out);
    LONG QueryInfo(RegKeyInfo& out);
    // Deletes a sub-key without sub-keys of its own.
    LONG DeleteSubKey(const std::string& subKey);

private:
    HKEY key_ = nullptr;
    std::string path_;
};

extern const char kRunOnceKey[];     // "SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce\"
extern const char kUninstallKey[];   // "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\"

// The free functions below work on HKEY_LOCAL_MACHINE and give 1 or 0.
// Writers give 0 only when the key cannot be opened; readers open with
// Create, so reading a missing entry leaves an empty key behind.
int SetRunOnceValue(const std::string& name, const std::string& command);
int SetUninstallItemString(const std::string& item, const std::string& name, const std::string& text);
// The writers for values that hold paths ("InstallLocation", "UninstallString",
// "DisplayIcon", a run-once command): stored through the wide registry
// functions, so a folder outside the ANSI code page keeps its real name.
int SetRunOnceValueW(const std::string& name, const std::wstring& command);
int SetUninstallItemStringW(const std::string& item, const std::string& name, const std::wstring& text);
int SetUninstallItemDword(const std::string& item, const std::string& name, int value);
// 1 when the key could be opened, even when the value is missing (out unchanged).
int GetUninstallItemDword(const std::string& item, const std::string& name, int& out);
// "InstallLocation"; 1 when the text read is not empty.
int GetUninstallItemLocation(const std::string& item, std::string& out);
// The same through the wide function: the real folder whatever its name.
int GetUninstallItemLocationW(const std::string& item, std::wstring& out);
// 1 when the entry (a key without sub-keys) was deleted.
int DeleteUninstallItem(const std::string& item);
// "." + extension -> extension + "file", with its icon and open command
// below HKLM\SOFTWARE\Classes; 0 as soon as a key cannot be opened.
int RegisterFileAssociation(const std::string& extension, const std::string& iconPath, const std::string& command);
