#include "JFile.h"

#include <dbghelp.h>
#include <shlwapi.h>

#include "Handles.h"

JFile::~JFile() { Close(); }

int JFile::Open(const std::wstring& path, unsigned flags) {
    if (!PathFileExistsW(path.c_str())) {
        if (!(flags & E_File_Write)) {
            Close();
            error_ = -1;
            return 0;
        }
        CreateParentDirectories(path);
    }
    Close();

    std::wstring mode;
    if (flags & E_File_Write) mode += L'w';
    if (flags & E_File_Read) mode += L'r';
    if (flags & E_File_Text)
        mode += L't';
    else if (flags & E_File_Binary)
        mode += L'b';
    if (mode == L"wrt") mode = L"at";

    FILE* opened = nullptr;
    error_ = _wfopen_s(&opened, path.c_str(), mode.c_str());
    stream_.reset(error_ == 0 ? opened : nullptr);
    return stream_ ? 1 : 0;
}

void JFile::Close() {
    stream_.reset();
}

int64_t JFile::Read(void* buffer, size_t count) {
    if (!stream_ || !buffer) return -1;
    return static_cast<int64_t>(fread(buffer, 1, count, stream_.get()));
}

int64_t JFile::Write(const void* buffer, size_t count) {
    if (!stream_ || !buffer) return -1;
    return static_cast<int64_t>(fwrite(buffer, 1, count, stream_.get()));
}

int JFile::Seek(int64_t offset, int origin) {
    if (!stream_) return -1;
    return _fseeki64(stream_.get(), offset, origin) == 0 ? 0 : -1;
}

int64_t JFile::Tell() {
    if (!stream_) return -1;
    return _ftelli64(stream_.get());
}

int64_t JFile::GetSize() {
    if (!stream_) return -1;
    const int64_t pos = _ftelli64(stream_.get());
    if (pos < 0 || _fseeki64(stream_.get(), 0, SEEK_END) != 0) return -1;
    const int64_t size = _ftelli64(stream_.get());
    _fseeki64(stream_.get(), pos, SEEK_SET);
    return size;
}

int CreateDirectories(const std::wstring& path) {
    if (path.size() > MAX_PATH) return 0;
    for (size_t i = path.find(L'\\'); i != std::wstring::npos; i = path.find(L'\\', i + 1)) {
        if (i > 0) _wmkdir(path.substr(0, i).c_str());
    }
    if (!path.empty() && path.back() != L'\\') _wmkdir(path.c_str());
    return 1;
}

int CreateParentDirectories(const std::wstring& filePath) {
    const size_t slash = filePath.rfind(L'\\');
    if (slash == std::wstring::npos) return 1;
    return CreateDirectories(filePath.substr(0, slash + 1));
}

namespace {

bool IsDotEntry(const wchar_t* name) {
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\..." or "\\server\share...": a path that names the same place whatever
// the current folder and drive. Drive-relative ("C:x", "C:"), rooted ("\x")
// and relative paths do not; neither do the device and verbatim forms
// ("\\.\", "\\?\"), which skip the system's own path rules.
bool IsFullyQualified(const std::wstring& path) {
    const wchar_t drive = path.empty() ? L'\0' : static_cast<wchar_t>(path[0] | 0x20);
    if (path.size() >= 3 && drive >= L'a' && drive <= L'z' && path[1] == L':' && IsSeparator(path[2])) return true;
    if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
    return path[2] != L'?' && path[2] != L'.';
}

// Length of the root of a fully qualified path: "X:\" or "\\server\share\".
size_t RootLength(const std::wstring& path) {
    if (path[1] == L':') return 3;
    size_t end = 2;
    for (int part = 0; part < 2 && end < path.size(); ++part) {
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        if (end < path.size()) ++end;
    }
    return end;
}

// Characters that a listing would read as wildcards rather than as a name.
bool HoldsWildcard(const std::wstring& path) { return path.find_first_of(L"*?<>\"|") != std::wstring::npos; }

}  // namespace

std::wstring ResolveDeletableFolder(const std::wstring& folder) {
    if (!IsFullyQualified(folder) || HoldsWildcard(folder)) return std::wstring();
    const DWORD needed = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(folder.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return std::wstring();
    full.resize(length);
    if (!IsFullyQualified(full) || HoldsWildcard(full)) return std::wstring();
    const size_t root = RootLength(full);
    while (full.size() > root && IsSeparator(full.back())) full.pop_back();
    if (full.size() <= root) return std::wstring();
    return full;
}

namespace {

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Removes a link entry itself: a folder link with RemoveDirectoryW, a file
// link with DeleteFileW. Neither touches the target. Some file systems (a
// Unix symbolic link seen through Wine) only take DeleteFileW for either kind.
bool RemoveLink(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && RemoveDirectoryW(path.c_str())) return true;
    return DeleteFileW(path.c_str()) != FALSE;
}

std::wstring WithSeparator(std::wstring path) {
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path;
}

int DeleteTree(const std::wstring& folder);

// Removes one listed entry: a link as a link, a folder with its tree, a file.
void RemoveEntry(const std::wstring& path, DWORD attributes) {
    if (IsLink(attributes))
        RemoveLink(path, attributes);
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(path);
    else
        DeleteFileW(path.c_str());
}

int DeleteTree(const std::wstring& folder) {
    const std::wstring dir = WithSeparator(folder);
    WIN32_FIND_DATAW fd;
    UniqueFindHandle find(FindFirstFileW((dir + L"*.*").c_str(), &fd));
    if (find.get() == INVALID_HANDLE_VALUE) return 0;
    do {
        if (IsDotEntry(fd.cFileName)) continue;
        RemoveEntry(dir + fd.cFileName, fd.dwFileAttributes);
    } while (FindNextFileW(find.get(), &fd));
    find.reset();
    RemoveDirectoryW(dir.c_str());
    return 1;
}

}  // namespace

int DeleteDirectory(const std::wstring& folder) {
    const std::wstring top = ResolveDeletableFolder(folder);
    if (top.empty()) return 0;
    // The folder's own directory entry, not what a link points at.
    WIN32_FIND_DATAW self;
    UniqueFindHandle find(FindFirstFileW(top.c_str(), &self));
    if (find.get() == INVALID_HANDLE_VALUE) return 0;
    find.reset();
    // The folder asked for is itself a link: remove the link, keep its target.
    if (IsLink(self.dwFileAttributes)) return RemoveLink(top, self.dwFileAttributes) ? 1 : 0;
    return DeleteTree(top);
}

int ListFilesRecursive(const std::wstring& folder, std::vector<std::wstring>& files) {
    WIN32_FIND_DATAW fd;
    UniqueFindHandle find(FindFirstFileW((folder + L"*.*").c_str(), &fd));
    if (find.get() == INVALID_HANDLE_VALUE) return -1;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (fd.cFileName[0] != L'.' && !IsLink(fd.dwFileAttributes))
                ListFilesRecursive(folder + fd.cFileName + L"\\", files);
        } else {
            files.push_back(folder + fd.cFileName);
        }
    } while (FindNextFileW(find.get(), &fd));
    return 0;
}

void DeleteMatchingEntries(const std::wstring& base, const std::wstring& subPath, const std::wstring& pattern) {
    const std::wstring resolved = ResolveDeletableFolder(WithSeparator(base) + subPath);
    if (resolved.empty()) return;
    const std::wstring dir = WithSeparator(resolved);
    {
        WIN32_FIND_DATAW self;
        UniqueFindHandle find(FindFirstFileW(resolved.c_str(), &self));
        // A folder that is a link is not entered: its entries are another folder's.
        if (find.get() == INVALID_HANDLE_VALUE || IsLink(self.dwFileAttributes)) return;
    }
    {
        WIN32_FIND_DATAW fd;
        UniqueFindHandle find(FindFirstFileW((dir + L"*.*").c_str(), &fd));
        if (find.get() == INVALID_HANDLE_VALUE) return;
        do {
            if (IsDotEntry(fd.cFileName) || !wcsstr(fd.cFileName, pattern.c_str())) continue;
            RemoveEntry(dir + fd.cFileName, fd.dwFileAttributes);
        } while (FindNextFileW(find.get(), &fd));
    }
    RemoveDirectoryW(dir.c_str());
}

bool WriteMiniDump(EXCEPTION_POINTERS* exception, const std::wstring& filePath) {
    UniqueHandle file(CreateFileW(filePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    MINIDUMP_EXCEPTION_INFORMATION info = {};
    info.ThreadId = GetCurrentThreadId();
    info.ExceptionPointers = exception;
    info.ClientPointers = FALSE;
    return MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpWithDataSegs,
                             exception ? &info : nullptr, nullptr, nullptr) != FALSE;
}
