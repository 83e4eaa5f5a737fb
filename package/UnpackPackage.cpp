#include "UnpackPackage.h"

#include <shlwapi.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "C7ZOperator.h"
#include "JFile.h"
#include "Log.h"
#include "PackageHeader.h"
#include "Paths.h"
#include "Text.h"

namespace {

std::atomic<int> g_nPackageError(NoError);
// Written by the unpack step on the install worker, read by the registration
// and the product start on other threads.
std::mutex g_installPathLock;
std::wstring g_strInstallPath;  // guarded by g_installPathLock

void SetInstallPath(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(g_installPathLock);
    g_strInstallPath = folder;
}

const wchar_t kTempFolderName[] = L"tarvex_7z";
const wchar_t kTempArchiveName[] = L"Zov7ZFile.7z";
const wchar_t kUninstallerName[] = L"uninstall.exe";

// The log's "%d" texts show offsets and sizes as 32-bit decimals.
int AsLogInt(uint64_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }
int AsLogInt(int64_t value) { return AsLogInt(static_cast<uint64_t>(value)); }

// How many folders below "tarvex_7z" are tried before the temporary archive
// is given up; each running installer claims one of its own.
constexpr int kTempFolderTries = 64;

// A buffer of size bytes, or null when it cannot be had. Not zero-filled:
// every byte used is read from the package, and a short read fails the step.
std::unique_ptr<char[]> AllocateBuffer(uint64_t size) {
    if (size >= SIZE_MAX) return nullptr;
    return std::unique_ptr<char[]>(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
}

class UnpackJob {
public:
    UnpackJob(ProgressCallback callback, bool removeTemp, bool writeUninstaller)
        : callback_(std::move(callback)), removeTemp_(removeTemp), writeUninstaller_(writeUninstaller) {}

    HRESULT Run(const wchar_t* packagePath, const wchar_t* installFolder);

private:
    void Send(int event, unsigned value) {
        if (callback_) callback_(event, value, 0);
    }
    HRESULT Fail(int code, unsigned eventValue = SetupFileError) {
        package_.Close();
        Send(E_Unpack_Fail, eventValue);
        g_nPackageError = code;
        return E_FAIL;
    }
    bool ChooseFolder(const wchar_t* installFolder);
    HRESULT ExtractThroughFile();
    HRESULT ExtractFromMemory();
    bool ClaimTempFolder(std::wstring& folder);
    HRESULT LogExtractFailure(const std::string& errorText);
    HRESULT WriteUninstaller();

    ProgressCallback callback_;
    bool removeTemp_;
    bool writeUninstaller_;
    JFile package_;
    uint64_t length_ = 0;
    PackageHeader header_;
    std::wstring folder_;
    std::string utf8Folder_;  // the folder as the archiver gets it
    std::string logFolder_;   // the folder as the log (ANSI) shows it
};

HRESULT UnpackJob::Run(const wchar_t* packagePath, const wchar_t* installFolder) {
    Send(E_Unpack_Start, 0);
    if (!package_.Open(packagePath, E_File_Read | E_File_Binary)) {
        Send(E_Unpack_Fail, SetupFileError);
        g_nPackageError = package_.GetError();
        WriteLog("Open file error %d.\n", package_.GetError());
        return E_FAIL;
    }

    uint64_t headerOffset = 0;
    int64_t length = 0;
    if (!LocatePackageHeader(package_, headerOffset, length)) {
        Fail(OffsetError);
        WriteLog("Offset error %d  Offset - %d  file length- %d.\n", static_cast<int>(OffsetError),
                 AsLogInt(headerOffset), AsLogInt(length));
        return E_FAIL;
    }
    length_ = static_cast<uint64_t>(length);
    if (!ReadAt(package_, headerOffset, &header_, sizeof(header_))) {
        WriteLog("Read package header error.\n");
        return Fail(ReadFileError);
    }

    if (!ChooseFolder(installFolder)) {
        WriteLog("Install path too long.\n");
        return Fail(DirWriteError, DirWriteError);
    }
    WideToNarrow(folder_, logFolder_);
    WriteLog("lpszProgram path :%s \n", logFolder_.c_str());
    if (!PathFileExistsW(folder_.c_str())) return Fail(DirWriteError, DirWriteError);
    utf8Folder_ = WideToUtf8(folder_);

    // Both regions are checked before anything is extracted, so a truncated
    // package leaves no half-installed product behind.
    if (!RegionFitsInFile(header_.archiveOffset, header_.archiveSize, length_)) {
        WriteLog("Archive region error: start %lld, size %lld, file length %lld.\n",
                 static_cast<long long>(header_.archiveOffset), static_cast<long long>(header_.archiveSize),
                 static_cast<long long>(length_));
        return Fail(ReadFileError);
    }
    if (writeUninstaller_ && !RegionFitsInFile(header_.uninstallerOffset, header_.uninstallerSize, length_)) {
        WriteLog("Uninstaller region error: start %lld, size %u, file length %lld.\n",
                 static_cast<long long>(header_.uninstallerOffset), static_cast<unsigned>(header_.uninstallerSize),
                 static_cast<long long>(length_));
        return Fail(ReadFileError);
    }

    const HRESULT extracted = header_.archiveSize > kUnpackMemoryLimit ? ExtractThroughFile() : ExtractFromMemory();
    if (FAILED(extracted)) return extracted;
    return WriteUninstaller();
}

bool UnpackJob::ChooseFolder(const wchar_t* installFolder) {
    if (installFolder) {
        SetInstallPath(installFolder);
        folder_ = installFolder;
        if (folder_.size() >= MAX_PATH) return false;
        CreateDirectories(folder_);
        WriteLog("StrCpyW lpszProgram. \n");
        return true;
    }
    wchar_t buffer[MAX_PATH] = {};
    const std::wstring name = NarrowToWide(PackageHeader::FieldText(header_.installFolderName));
    const int fits = GetProgramPath(buffer, name.c_str(), 1, header_.isX64);
    SetInstallPath(buffer);
    folder_ = buffer;
    WriteLog("GetProgramPath lpszProgram. \n");
    return fits != 0;
}

HRESULT UnpackJob::LogExtractFailure(const std::string& errorText) {
    WriteLog("Failed unpack file.\n");
    WriteLog("Install path %s.\n", logFolder_.c_str());
    WriteLog("UnZip error :%s.\n", errorText.c_str());
    return Fail(UnzipFileError);
}

// Claims a folder of this run's own below "<temp>\tarvex_7z": two installers
// at once must never write the same temporary archive.
bool UnpackJob::ClaimTempFolder(std::wstring& folder) {
    wchar_t tempBuffer[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, tempBuffer);
    if (n == 0 || n > MAX_PATH) return false;
    const std::wstring shared = PathJoin(tempBuffer, kTempFolderName);
    if (shared.empty()) return false;
    CreateDirectories(shared);
    for (int i = 0; i < kTempFolderTries; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"%lx-%x", static_cast<unsigned long>(GetCurrentProcessId()), i);
        const std::wstring candidate = PathJoin(shared, name);
        if (candidate.empty()) return false;
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            folder = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

HRESULT UnpackJob::ExtractThroughFile() {
    WriteLog("Unpack file use File.\n");
    std::unique_ptr<char[]> chunk = AllocateBuffer(kUnpackCopyChunk);
    if (!chunk) return Fail(MallocBrror);

    std::wstring temp;
    if (!ClaimTempFolder(temp)) {
        WriteLog("Temp path error.\n");
        return Fail(OpenFileError);
    }
    // Whatever happens below, the run's folder goes again, and the shared
    // folder above it too once no other installer uses it.
    struct TempFolderRemover {
        const std::wstring& folder;
        ~TempFolderRemover() {
            DeleteDirectory(folder);
            RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
        }
    } remover{temp};
    const std::wstring archive = PathJoin(temp, kTempArchiveName);
    if (archive.empty()) {
        WriteLog("Temp path error.\n");
        return Fail(OpenFileError);
    }

    JFile out;
    if (!out.Open(archive, E_File_Write | E_File_Binary)) {
        const int error = out.GetError();
        Fail(error);
        WriteLog("Open file 7z error %d.\n", error);
        return E_FAIL;
    }
    const uint64_t size = header_.archiveSize;
    bool copied = package_.Seek(static_cast<int64_t>(header_.archiveOffset), SEEK_SET) == 0;
    bool readFailed = !copied;
    for (uint64_t done = 0; copied && done < size;) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(kUnpackCopyChunk, size - done));
        if (package_.Read(chunk.get(), count) != static_cast<int64_t>(count)) {
            copied = false;
            readFailed = true;
        } else if (out.Write(chunk.get(), count) != static_cast<int64_t>(count)) {
            copied = false;
        }
        done += count;
    }
    out.Close();
    chunk.reset();
    if (copied && FileSizeOnDisk(archive) != static_cast<int64_t>(size)) copied = false;
    if (!copied) {
        WriteLog(readFailed ? "Read package error.\n" : "Write 7z file error.\n");
        return Fail(readFailed ? ReadFileError : InstallFileError);
    }

    C7ZOperator extractor;
    extractor.SetCallback(callback_);
    WriteLog("Begin unpack file.\n");
    std::string errorText;
    if (!extractor.ExtractFile(WideToUtf8(archive).c_str(), utf8Folder_.c_str(), nullptr, errorText))
        return LogExtractFailure(errorText);
    return S_OK;
}

HRESULT UnpackJob::ExtractFromMemory() {
    WriteLog("Unpack file use buffer.\n");
    std::unique_ptr<char[]> buffer = AllocateBuffer(header_.archiveSize);
    if (!buffer) {
        // A 32-bit process seldom has hundreds of MiB in one piece; the file
        // road needs one chunk.
        WriteLog("No buffer of %llu bytes, unpack through a file.\n",
                 static_cast<unsigned long long>(header_.archiveSize));
        return ExtractThroughFile();
    }
    const size_t size = static_cast<size_t>(header_.archiveSize);
    if (!ReadAt(package_, header_.archiveOffset, buffer.get(), size)) {
        WriteLog("Read package error.\n");
        return Fail(ReadFileError);
    }
    WriteLog("Buffer Info: Start(%d), size(%d), pBuffer(%08X).\n", AsLogInt(header_.archiveOffset),
             AsLogInt(header_.archiveSize), static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer.get())));

    C7ZOperator extractor;
    extractor.SetCallback(callback_);
    WriteLog("Begin unpack file.\n");
    std::string errorText;
    if (!extractor.ExtractFromMemory(buffer.get(), size, utf8Folder_.c_str(), nullptr, errorText, removeTemp_))
        return LogExtractFailure(errorText);
    WriteLog("Finish unpack file.\n");
    return S_OK;
}

HRESULT UnpackJob::WriteUninstaller() {
    if (!writeUninstaller_) {
        package_.Close();
        Send(E_Unpack_Succeed, 0);
        return S_OK;
    }
    const size_t imageSize = header_.uninstallerSize;
    std::unique_ptr<char[]> image = AllocateBuffer(imageSize);
    if (!image) return Fail(MallocBrror);
    if (!ReadAt(package_, header_.uninstallerOffset, image.get(), imageSize)) {
        WriteLog("Read uninstall file error.\n");
        return Fail(ReadFileError);
    }
    package_.Close();

    const std::wstring uninstaller = folder_ + (folder_.back() == L'\\' ? L"" : L"\\") + kUninstallerName;
    WriteLog("Write uninstall file.\n");
    if (!WriteWholeFile(uninstaller, image.get(), imageSize)) {
        WriteLog("Write uninstall file error.\n");
        return Fail(InstallFileError);
    }
    WriteLog("Write uninstall bin.\n");
    if (FAILED(WriteHeaderFile((uninstaller + L".bin").c_str(), header_))) {
        WriteLog("Write uninstall bin error.\n");
        return Fail(InstallFileError);
    }
    Send(E_Unpack_Succeed, 0);
    return S_OK;
}

}  // namespace

HRESULT UnpackPackage(const wchar_t* packagePath, ProgressCallback callback, const wchar_t* installFolder,
                      bool removeTemp, bool writeUninstaller) {
    if (!packagePath) {
        g_nPackageError = PointNull;
        return E_POINTER;
    }
    UnpackJob job(std::move(callback), removeTemp, writeUninstaller);
    return job.Run(packagePath, installFolder);
}

int GetPackageError() { return g_nPackageError; }

const char* GetPackageErrorName(int code) {
    switch (code) {
        case NoError: return "NoError";
        case PointNull: return "PointNull";
        case SetupFileError: return "SetupFileError";
        case DirWriteError: return "DirWriteError";
        case MallocBrror: return "MallocBrror";
        case InstallFileError: return "InstallFileError";
        case OpenFileError: return "OpenFileError";
        case OffsetError: return "OffsetError";
        case ReadFileError: return "ReadFileError";
        case UnzipFileError: return "UnzipFileError";
    }
    static thread_local std::string text;
    text = std::to_string(code);
    return text.c_str();
}

const char* GetPackageErrorName() { return GetPackageErrorName(g_nPackageError); }

const wchar_t* GetInstallPath() {
    static thread_local std::wstring copy;
    std::lock_guard<std::mutex> guard(g_installPathLock);
    copy = g_strInstallPath;
    return copy.c_str();
}
