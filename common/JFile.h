// File access by wide path, and the folder functions the whole system uses.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Handles.h"

enum JFileFlags : unsigned {
    E_File_Read = 0x1,
    E_File_Write = 0x2,   // a missing file also gets its parent folders created
    E_File_Text = 0x100,
    E_File_Binary = 0x200,  // only when E_File_Text is not set
};

// Owner of one C runtime stream opened by a wide path. Every user closes it
// explicitly; the destructor also closes a stream that was left open.
class JFile {
public:
    JFile() = default;
    virtual ~JFile();
    JFile(const JFile&) = delete;
    JFile& operator=(const JFile&) = delete;

    // 1 when the stream is open, else 0 with the reason in GetError():
    // -1 for a missing file opened without E_File_Write, else the CRT errno.
    int Open(const std::wstring& path, unsigned flags);
    void Close();
    // Bytes read or written; -1 when not open or the buffer is null.
    int64_t Read(void* buffer, size_t count);
    int64_t Write(const void* buffer, size_t count);
    // 0 on success, -1 on failure or when not open.
    int Seek(int64_t offset, int origin);
    int SeekToBegin() { return Seek(0, SEEK_SET); }
    int SeekToEnd() { return Seek(0, SEEK_END); }
    // Current position or file length; -1 when not open. GetSize keeps the position.
    int64_t Tell();
    int64_t GetSize();
    int GetError() const { return error_; }

private:
    UniqueFile stream_;
    int error_ = 0;
};

// Creates every folder of the path. 0 when the path is longer than 260
// characters, else 1 (single failures, such as existing folders, are ignored).
int CreateDirectories(const std::wstring& path);
// CreateDirectories for the part of a file path up to its last '\'.
int CreateParentDirectories(const std::wstring& filePath);

// The full path of a folder that the system may delete, or the empty text
// when it must not. The path is resolved first (GetFullPathNameW: "." and
// "..", forward slashes, trailing separators), so every refusal applies to
// the folder the path really names: an empty, relative or drive-relative
// path ("C:x", "\x"), a device or verbatim path ("\\.\", "\\?\"), a path
// holding a wildcard, and anything that resolves to a volume or share root.
std::wstring ResolveDeletableFolder(const std::wstring& folder);

// Deletes a folder tree. Refuses (0) what ResolveDeletableFolder refuses;
// 0 when the folder cannot be listed, else 1 even when single entries (a
// read-only file) stay. Links (junctions, symbolic links) are removed as
// links, the folder asked for included: their targets are never entered.
int DeleteDirectory(const std::wstring& folder);

// Appends the full path of every file below folder (which ends with a
// separator), descending into sub-folders whose names do not begin with '.'
// and never through links. 0, or -1 when the folder cannot be listed.
int ListFilesRecursive(const std::wstring& folder, std::vector<std::wstring>& files);

// In base + subPath, deletes every file and folder tree whose name contains
// pattern, then tries to remove that folder itself. Refuses the paths that
// DeleteDirectory refuses, and a folder that is itself a link.
void DeleteMatchingEntries(const std::wstring& base, const std::wstring& subPath, const std::wstring& pattern);

// Writes a minidump of this process (data segments, the current thread and
// the given exception) to filePath, always overwriting; false when the file
// cannot be created or the dump fails.
bool WriteMiniDump(EXCEPTION_POINTERS* exception, const std::wstring& filePath);
