#include "InstallFolder.h"

#include <windows.h>

#include <vector>

#include "Handles.h"
#include "JFile.h"
#include "Paths.h"
#include "ProductConfig.h"
#include "Text.h"

const wchar_t kUninstallerHeaderName[] = L"uninstall.exe.bin";

namespace {

// The names directly inside a folder, without "." and "..".
std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileW(PathJoin(folder, L"*").c_str(), &found));
    if (find.get() == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &found));
    return names;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// True when the uninstaller's header file in folder was written by an install
// of this product: its product name is the package's or this product's.
bool HoldsOurUninstallerHeader(const std::wstring& folder, const PackageHeader& header) {
    PackageHeader written;
    if (FAILED(ReadHeaderFile(PathJoin(folder, kUninstallerHeaderName).c_str(), written))) return false;
    const std::string name = PackageHeader::FieldText(written.productName);
    return !name.empty() && (name == PackageHeader::FieldText(header.productName) ||
                             name == ProductConfig::GetProductName());
}

}  // namespace

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SamePath(std::wstring a, std::wstring b) {
    while (!a.empty() && (a.back() == L'\\' || a.back() == L'/')) a.pop_back();
    while (!b.empty() && (b.back() == L'\\' || b.back() == L'/')) b.pop_back();
    return !a.empty() && SameName(a, b);
}

std::wstring DefaultInstallFolder(const PackageHeader& header) {
    wchar_t buffer[MAX_PATH] = {};
    const std::wstring sub = NarrowToWide(PackageHeader::FieldText(header.installFolderName));
    if (sub.empty() || !GetProgramPath(buffer, sub, 0, header.isX64)) return {};
    return buffer;
}

bool IsProductsOwnFolder(const std::wstring& folder, const PackageHeader& header) {
    if (!IsFolder(folder)) return !PathExists(folder);
    const std::wstring defaultFolder = DefaultInstallFolder(header);
    if (!defaultFolder.empty() && SamePath(folder, defaultFolder)) return true;
    const std::vector<std::wstring> names = ListFolder(folder);
    if (names.empty()) return true;
    const std::wstring exeNames[] = {ProductConfig::GetMainExeNameW(), ProductConfig::GetMainExeNameX64W()};
    for (const auto& name : names) {
        for (const auto& exe : exeNames)
            if (!exe.empty() && SameName(name, exe)) return true;
        if (SameName(name, kUninstallerHeaderName)) return HoldsOurUninstallerHeader(folder, header);
    }
    return false;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool IsFullFolderPath(const std::wstring& path) {
    if (path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
        path[1] == L':' && IsSeparator(path[2]))
        return true;
    if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
    // "\\server\share": both names present, neither a device prefix.
    const size_t serverEnd = path.find_first_of(L"\\/", 2);
    if (serverEnd == std::wstring::npos || serverEnd == 2) return false;
    const std::wstring server = path.substr(2, serverEnd - 2);
    if (server == L"?" || server == L".") return false;
    const size_t shareEnd = path.find_first_of(L"\\/", serverEnd + 1);
    return (shareEnd == std::wstring::npos ? path.size() : shareEnd) > serverEnd + 1;
}

bool ProductCanUseFolder(const std::wstring& folder, const PackageHeader& header) {
    if (IsProductsOwnFolder(folder, header)) return true;
    const std::wstring sub = PathJoin(folder, NarrowToWide(PackageHeader::FieldText(header.installFolderName)));
    return !sub.empty() && !SamePath(sub, folder) && IsProductsOwnFolder(sub, header);
}
