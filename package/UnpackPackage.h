// The unpack step: installs the product's files from a downloaded package
// into a folder and writes the uninstaller and its header file beside them.
#pragma once

#include <windows.h>

#include "ProgressCallback.h"

// Events sent through the ProgressCallback (event, value, extra = 0).
enum UnpackEvent {
    E_Unpack_Start = 0,          // once, when a package path is given
    E_Unpack_Succeed = 1,        // once, after the uninstaller files
    E_Unpack_Fail = 2,           // once, value SetupFileError or DirWriteError
    E_Unpack_Progress = 100,     // archiver progress: percent, or MiB without a total
    E_Unpack_ArchiveEvent = 101, // an ArchiveEventCode
};

// The failure codes kept by GetPackageError. A failed open of the package or
// of the temporary archive keeps the open's error number instead.
enum PackageError {
    NoError = 0,
    PointNull = 10000,         // no package path
    SetupFileError = 10001,    // only the value of E_Unpack_Fail
    DirWriteError = 10002,     // the installation folder is missing or does not fit
    MallocBrror = 10003,       // a buffer could not be allocated
    InstallFileError = 10004,  // a file could not be written in full
    OpenFileError = 10005,     // no folder of its own for the temporary archive
    OffsetError = 10006,       // the header does not lie inside the package
    ReadFileError = 10007,     // a region runs past the end, or a read is short
    UnzipFileError = 10008,    // the extraction failed
};

// Payloads above this many bytes go through a temporary archive file, the
// rest through memory when a buffer of their size can be had, else through
// the file as well. The file is "Zov7ZFile.7z" in a folder of the run's own
// below "<temp>\tarvex_7z" (two installers at once never share it), removed
// on every road.
constexpr unsigned long long kUnpackMemoryLimit = 524288000ull;
constexpr size_t kUnpackCopyChunk = 10485760;

// S_OK, E_POINTER (no package path) or E_FAIL. installFolder null: the
// header's folder below Program Files (native for a 64-bit product).
// removeTemp: the in-memory extraction removes its temporary folder;
// writeUninstaller: "uninstall.exe" and "uninstall.exe.bin" are written.
// Runs on the caller's thread; one unpack at a time. Every folder works,
// whatever the system's code page can spell. The callback is called on the
// caller's thread, except E_Unpack_Progress, which the archiver's decoder
// threads may send too (one at a time, never beside another progress event).
HRESULT UnpackPackage(const wchar_t* packagePath, ProgressCallback callback, const wchar_t* installFolder,
                      bool removeTemp, bool writeUninstaller);
int GetPackageError();
// The name of the last code ("NoError", "PointNull" ... "UnzipFileError"),
// or its decimal text.
const char* GetPackageErrorName();
// The same for any code.
const char* GetPackageErrorName(int code);
// The folder the last call chose, also when it then failed, as the caller
// gave it (wide: any folder, whatever the code page). Safe from any thread;
// the text stays valid until the calling thread's next call.
const wchar_t* GetInstallPath();
