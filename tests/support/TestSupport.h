// Helpers shared by the tests: paths of the tree, scratch folders inside the
// harness's private prefix, whole-file reads and bounded child processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace testing_support {

// Polls condition every 50 ms for at most timeoutMs; whether it came true.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The kernel handles this process holds. Wine answers GetProcessHandleCount
// with 0: there the handle table is probed instead, every value a handle
// can take up to 64 Ki.
DWORD ProcessHandleCount();

// Now, in seconds since 1970: the clock the loopback services stamp their
// logs with.
double UnixNow();

// The machine's RunOnce value of that name, or empty; and its removal.
std::wstring RunOnceValue(const wchar_t* name);
void RemoveRunOnceValue(const wchar_t* name);

// A Unix path as Wine shows it (drive Z: is the Unix root).
std::wstring FromUnixPath(const std::string& unixPath);
// A file of the source tree or of the build tree (compiled in), by its path relative to it.
std::wstring SourcePath(const std::wstring& relative);
std::wstring BuildPath(const std::wstring& relative);

// The user's Documents and Downloads folders and the temporary folder.
std::wstring DocumentsFolder();
std::wstring DownloadsFolder();
std::wstring TempFolder();

// A fresh, empty folder under the temporary folder, deleted by the destructor.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name = L"scratch");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }
    // path() + "\" + name
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// A drive letter of its own over a folder (DefineDosDeviceW, as "subst"
// makes one; under Wine a link in the prefix's "dosdevices" folder) for the
// life of the object, so that a path walking out of its folder reaches that
// drive's root and never the real drive's. drive() is "P:" or another free
// letter, or empty when none could be defined. Test executables that make
// one share the lock group "scratch-drive".
class ScratchDrive {
public:
    explicit ScratchDrive(const std::wstring& folder);
    ~ScratchDrive();
    ScratchDrive(const ScratchDrive&) = delete;
    ScratchDrive& operator=(const ScratchDrive&) = delete;
    const std::wstring& drive() const { return drive_; }

private:
    std::wstring drive_;
    std::wstring unixLink_;  // under Wine: the prefix's link that makes the drive
};

bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Removes a folder tree with the shell, for test clean-up only.
void RemoveTree(const std::wstring& path);

// The Unix path of a Windows path (Wine's own export); empty elsewhere.
std::string ToUnixPath(const std::wstring& windowsPath);
// How a folder link could be made.
enum class FolderLink {
    None,
    Windows,  // a junction (FSCTL_SET_REPARSE_POINT), else CreateSymbolicLinkW
    // Wine 8's CreateSymbolicLinkW reports success but makes nothing; a Unix
    // symbolic link is listed as a reparse point instead, but Wine can remove
    // it neither with RemoveDirectoryW nor with DeleteFileW.
    UnixThroughWine,
};
FolderLink MakeFolderLink(const std::wstring& link, const std::wstring& target);

struct ProcessResult {
    bool finished = false;  // false: it was still running at the deadline and was ended
    DWORD exitCode = 0;
    DWORD startError = 0;   // GetLastError when the process could not be started
};
// Runs commandLine (current folder: folder, when given) and waits at most
// timeoutMs; a process still running then is terminated.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& folder = L"");

}  // namespace testing_support
