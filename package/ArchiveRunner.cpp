#include "ArchiveRunner.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "ArchiveEntry.h"
#include "Handles.h"
#include "JFile.h"
#include "Log.h"
#include "Text.h"

namespace {

const char kTempFolderName[] = "tarvex_7z/";
const char kTempArchiveName[] = "Zov7ZFile.7z";
// How long MakeTempFolder keeps trying new tick values before it gives up.
constexpr DWORD kTempFolderClaimMs = 5000;

// Narrow paths inside the runner are UTF-8, widened at every file call.
std::wstring Wide(const std::string& path) { return Utf8ToWide(path); }
// Lengths count characters as the system does (UTF-16 units), not bytes.
size_t PathLength(const std::string& path) { return Wide(path).size(); }

bool FileExists(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Removes a link itself, by the kind it is listed as; mode 1 keeps folder
// links and mode 2 file links, as for the entries they stand for.
int RemoveLink(const std::wstring& path, DWORD attributes, int mode) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return mode == 1 ? 1 : (RemoveDirectoryW(path.c_str()) ? 1 : 0);
    return mode == 2 ? 1 : (DeleteFileW(path.c_str()) ? 1 : 0);
}

int DeleteTreeWide(const std::wstring& folder, int mode) {
    WIN32_FIND_DATAW fd;
    UniqueFindHandle find(FindFirstFileW((folder + L"*.*").c_str(), &fd));
    if (find.get() == INVALID_HANDLE_VALUE) return 0;
    int result = 1;
    do {
        if (IsDotEntry(fd.cFileName)) continue;
        const std::wstring entry = folder + fd.cFileName;
        const bool isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (IsLink(fd.dwFileAttributes)) {
            // A link goes as a link; what it points at stays.
            result = RemoveLink(entry, fd.dwFileAttributes, mode);
        } else if (isFolder) {
            result = DeleteTreeWide(entry + L"/", mode);
        } else if (mode != 2) {
            SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
            result = DeleteFileW(entry.c_str()) ? 1 : 0;
        }
    } while (FindNextFileW(find.get(), &fd));
    find.reset();
    if (mode != 1) result = RemoveDirectoryW(folder.c_str()) ? 1 : 0;
    return result;
}

}  // namespace

void __stdcall OnArchiveError(void* user, int code) {
    if (user) static_cast<ArchiveRunner*>(user)->NotifyError(code);
}

void __stdcall OnArchiveProgress(void* user, uint32_t low, uint32_t high) {
    if (user) static_cast<ArchiveRunner*>(user)->NotifyProgress(low, high);
}

void ArchiveRunner::NotifyError(int code) {
    if (callback_) callback_->OnError(code);
}

int ArchiveRunner::NotifyProgress(uint32_t low, uint32_t high) {
    return callback_ ? callback_->OnProgress(low, high) : 0;
}

bool ArchiveRunner::RunArchiver(const char* command, const char* archive, const std::string& third,
                                const char* password) {
    wchar_t self[520] = {};
    GetModuleFileNameW(nullptr, self, 520);
    std::vector<std::string> arguments{WideToUtf8(self), command, archive, third};
    if (password && *password) arguments.push_back(std::string("-p") + password);
    // Progress is printed, and so reported, only when asked for: the
    // process's standard output is no console.
    arguments.push_back("-bsp1");
    std::vector<const char*> argv;
    for (const auto& argument : arguments) {
        if (argument.size() > kMaxArgument) {
            WriteLog("Archiver argument too long (%u bytes).", static_cast<unsigned>(argument.size()));
            return false;
        }
        argv.push_back(argument.c_str());
    }
    return alonemain(static_cast<int>(argv.size()), argv.data(), this, &OnArchiveError, &OnArchiveProgress) == 0;
}

bool ArchiveRunner::Unzip(const char* folder, const char* archive, const char* password) {
    if (!folder || !archive) return false;
    return RunArchiver("x", archive, std::string("-o") + folder, password);
}

bool ArchiveRunner::Compress(const char* folder, const char* archive, const char* password) {
    if (!folder || !archive) return false;
    WriteLog("begin run alonemain!");
    const bool ok = RunArchiver("a", archive, std::string(folder) + "/*", password);
    WriteLog("end run alonemain!");
    return ok;
}

bool ArchiveRunner::ExtractFile(const char* archive, const char* folder, const char* password,
                                std::string& errorText) {
    if (!folder || !archive) return false;
    if (FileExists(archive)) {
        if (Unzip(folder, archive, password)) return true;
        NotifyError(E_Arc_RunnerFailed);
        errorText = "Read 7z file error";
        return false;
    }
    NotifyError(E_Arc_RunnerFailed);
    errorText = std::string("File path not exists : ") + archive;
    return false;
}

bool ArchiveRunner::ExtractFromMemory(const void* bytes, size_t length, const char* folder, const char* password,
                                      std::string& errorText, bool removeTemp) {
    if (!bytes || !folder) return false;
    std::string temp;
    if (!MakeTempFolder(temp)) {
        NotifyError(E_Arc_RunnerFailed);
        errorText = "Create temp folder error";
        return false;
    }
    const std::string folder7z = temp + kTempFolderName;
    const std::string archive = folder7z + kTempArchiveName;
    // Whatever fails, the folders made here go again: nothing of a failed
    // job stays in the user's temporary folder.
    auto fail = [&](const std::string& text) {
        DeleteTree(temp, 0);
        NotifyError(E_Arc_RunnerFailed);
        errorText = text;
        return false;
    };
    if (PathLength(archive) > kMaxPath) return fail("Temp path too long : " + archive);
    CreateFolders(folder7z);

    WriteLog("begin run WriteFile!");
    if (!WriteFile(archive.c_str(), bytes, length)) return fail("Write 7z file error");
    WriteLog("end run WriteFile!");
    const bool exists = FileExists(archive);
    printf("Temp File : %s, Flag : %d\n", archive.c_str(), exists ? 1 : 0);
    if (!exists) return fail("File path not exists : " + archive);

    WriteLog("begin run Unzip!");
    if (!Unzip(folder, archive.c_str(), password)) return fail("Read 7z file error");
    WriteLog("end run Unzip!");
    if (removeTemp) DeleteTree(temp, 0);
    WriteLog("end remove temp dir!");
    return true;
}

bool ArchiveRunner::WriteFile(const char* path, const void* bytes, size_t length) {
    if (!path || (!bytes && length != 0)) return false;
    UniqueFile file(_wfopen(Wide(path).c_str(), L"wb"));
    if (!file) return false;
    const bool written = length == 0 || fwrite(bytes, 1, length, file.get()) == length;
    const bool closed = fclose(file.release()) == 0;
    return written && closed;
}

int ArchiveRunner::MakeTempFolder(std::string& out) {
    wchar_t wideTemp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, wideTemp);
    if (n == 0 || n > MAX_PATH) return 0;
    std::string temp = WideToUtf8(wideTemp);
    if (temp.empty()) return 0;
    ToForwardSlashes(temp);
    if (!temp.empty() && temp.back() != '/') temp += '/';
    CreateFolders(temp);

    // CreateDirectory either claims the name or says that it exists, so two
    // runs (in this process or another) never share a folder.
    const DWORD start = GetTickCount();
    for (;;) {
        char name[16];
        snprintf(name, sizeof(name), "%lx/", static_cast<unsigned long>(GetTickCount()));
        const std::string candidate = temp + name;
        if (PathLength(candidate) + sizeof(kTempFolderName) + sizeof(kTempArchiveName) - 2 > kMaxPath) return 0;
        if (CreateDirectoryW(Wide(candidate).c_str(), nullptr)) {
            out = candidate;
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || GetTickCount() - start > kTempFolderClaimMs) return 0;
        Sleep(1);
    }
}

int ArchiveRunner::CreateFolders(const std::string& path) {
    if (PathLength(path) > MAX_PATH) return 0;
    int result = 1;
    for (size_t i = path.find_first_of("/\\"); i != std::string::npos; i = path.find_first_of("/\\", i + 1)) {
        if (i > 0 && path[i - 1] != ':') result = CreateFolder(path.substr(0, i)) ? 1 : 0;
    }
    return result;
}

bool ArchiveRunner::CreateFolder(const std::string& path) {
    return CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool ArchiveRunner::IsDirectory(const char* path) {
    if (!path) return false;
    // A UTF-8 character takes at most 4 bytes; the copy keeps MAX_PATH characters.
    std::wstring copy = Wide(std::string(path, strnlen(path, 4 * MAX_PATH)));
    if (copy.size() > MAX_PATH) copy.resize(MAX_PATH);
    if (copy.size() < 2) return false;
    if (copy.size() == 2) {
        if (copy[1] != L':') return false;
        copy += L'/';
    } else if (copy.back() == L'/') {
        copy.pop_back();
    }
    const DWORD attributes = GetFileAttributesW(copy.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ArchiveRunner::ToForwardSlashes(std::string& path) {
    for (auto& c : path)
        if (c == '\\') c = '/';
}

int ArchiveRunner::DeleteTree(const std::string& folder, int mode) {
    const std::wstring resolved = ResolveDeletableFolder(Wide(folder));
    if (resolved.empty()) return 0;
    WIN32_FIND_DATAW self;
    UniqueFindHandle find(FindFirstFileW(resolved.c_str(), &self));
    if (find.get() == INVALID_HANDLE_VALUE) return 0;
    find.reset();
    // A folder that is itself a link is removed as a link, never entered.
    if (IsLink(self.dwFileAttributes)) return RemoveLink(resolved, self.dwFileAttributes, mode);
    return DeleteTreeWide(resolved + L"\\", mode);
}
