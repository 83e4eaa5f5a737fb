#include "Text.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>

#include "Digest.h"
#include "Log.h"

namespace {

// One code page both ways: narrowing with OEM and widening with ANSI would
// turn "é" into "‚" after one round trip and break every non-ASCII path.
constexpr UINT kNarrowCodePage = CP_ACP;

template <typename String>
String ReplaceAllIn(String& text, const String& from, const String& to) {
    if (from.empty()) return text;
    for (size_t pos = text.find(from); pos != String::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

template <typename String>
int SplitInto(std::vector<String>& out, const String& text, const String& delimiters) {
    if (text.empty() || delimiters.empty()) return 0;
    int added = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of(delimiters, start);
        const size_t stop = end == String::npos ? text.size() : end;
        if (stop > start) {
            out.push_back(text.substr(start, stop - start));
            ++added;
        }
        if (end == String::npos) break;
        start = end + 1;
    }
    return added;
}

}  // namespace

std::wstring& NarrowToWide(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) return out;
    const int length = MultiByteToWideChar(kNarrowCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return out;
    std::vector<wchar_t> buffer(length + 1, L'\0');
    MultiByteToWideChar(kNarrowCodePage, 0, text.data(), static_cast<int>(text.size()), buffer.data(), length);
    out.assign(buffer.data());
    return out;
}

std::string& WideToNarrow(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty()) return out;
    const int length = WideCharToMultiByte(kNarrowCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) return out;
    std::vector<char> buffer(length + 1, '\0');
    WideCharToMultiByte(kNarrowCodePage, 0, text.data(), static_cast<int>(text.size()), buffer.data(), length, nullptr,
                        nullptr);
    out.assign(buffer.data());
    return out;
}

std::string& WideToNarrow(const wchar_t* text, std::string& out) {
    if (!text) {
        out.clear();
        return out;
    }
    return WideToNarrow(std::wstring(text), out);
}

std::wstring NarrowToWide(const std::string& text) {
    std::wstring out;
    return NarrowToWide(text, out);
}

std::string WideToNarrow(const std::wstring& text) {
    std::string out;
    return WideToNarrow(text, out);
}

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring out(length, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), length);
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string out(length, '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

std::string ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    return ReplaceAllIn(text, from, to);
}

std::wstring ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    return ReplaceAllIn(text, from, to);
}

std::string ReplaceAll(const char* text, const char* from, const char* to) {
    std::string copy = text ? text : "";
    return ReplaceAllIn(copy, std::string(from ? from : ""), std::string(to ? to : ""));
}

int SplitString(std::vector<std::string>& out, const std::string& text, const std::string& delimiters) {
    return SplitInto(out, text, delimiters);
}

int SplitString(std::vector<std::wstring>& out, const std::wstring& text, const std::wstring& delimiters) {
    return SplitInto(out, text, delimiters);
}

bool IsNumber(const std::string& text) {
    std::istringstream stream(text);
    double value;
    if (!(stream >> value)) return false;
    char extra;
    return !(stream >> extra);
}

char* FormatByteSize(uint32_t bytes, char* buffer, size_t size) {
    if (!buffer || size == 0) return buffer;
    std::memset(buffer, 0, size);
    if (bytes > 1048576)
        snprintf(buffer, size, "%.2fMB", bytes / 1048576.0);
    else if (bytes > 1024)
        snprintf(buffer, size, "%.2fKB", bytes / 1024.0);
    else
        snprintf(buffer, size, "%uByte", bytes);
    return buffer;
}

wchar_t* FormatByteSize(uint32_t bytes, wchar_t* buffer, size_t size) {
    if (!buffer || size == 0) return buffer;
    char narrow[64];
    FormatByteSize(bytes, narrow, sizeof(narrow));
    std::memset(buffer, 0, size * sizeof(wchar_t));
    for (size_t i = 0; i + 1 < size && narrow[i]; ++i) buffer[i] = static_cast<unsigned char>(narrow[i]);
    return buffer;
}

std::string MakeGuidString() {
    GUID guid = {};
    CoCreateGuid(&guid);
    char text[33] = {};
    snprintf(text, sizeof(text), "%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2, guid.Data3,
             guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
             guid.Data4[7]);
    return text;
}

std::string MakeRandomId() {
    srand(GetTickCount());
    int values[256];
    for (int& value : values) value = rand();
    Md5Hasher hasher;
    unsigned char digest[16];
    hasher.HashBuffer(values, sizeof(values), digest);
    return hasher.ToHexString();
}

bool RandomChance(int max) {
    srand(GetTickCount());
    const int index = rand() % 100;
    WriteLog("Random : max(%d), index(%d).\n", max, index);
    return index < max;
}

void ParseSetupFileName(const std::wstring& modulePath, std::string& option, std::string& source) {
    std::wstring name = modulePath;
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    if (!name.empty()) CharLowerW(&name[0]);

    std::vector<std::string> pieces;
    if (SplitString(pieces, WideToNarrow(name), "_") < 2) return;

    std::string newOption, newSource;
    bool seenNumber = false;
    for (size_t i = 1; i < pieces.size(); ++i) {
        if (IsNumber(pieces[i])) {
            seenNumber = true;
            continue;
        }
        std::string& target = seenNumber ? newSource : newOption;
        if (!target.empty()) target += "_";
        target += pieces[i];
    }
    if (!seenNumber) return;
    option = newOption;
    source = newSource;
}

void ParseSetupFileName(std::string& option, std::string& source) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    ParseSetupFileName(std::wstring(path, length), option, source);
}
