// Turns an extraction or compression job into an archiver command, runs it
// in the process through alonemain, manages the temporary files a job needs
// and passes the archiver's progress and events on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Progress and error notifications of one archiver run.
class I7zFileInfoCallback {
public:
    virtual ~I7zFileInfoCallback() = default;
    // Percent of the job, or MiB done when the total is unknown.
    virtual int OnProgress(uint32_t low, uint32_t high) = 0;
    // An ArchiveEventCode.
    virtual void OnError(int code) = 0;
};

// One job; built on the stack. Paths are narrow UTF-8 strings, so they spell
// every folder whatever the system's code page, of at most kMaxPath
// characters (UTF-16 units, as the system counts them); every
// file is opened by its wide form. Temporary names: folder "tarvex_7z",
// archive "Zov7ZFile.7z".
class ArchiveRunner {
public:
    static constexpr size_t kMaxPath = 259;       // characters of a path
    static constexpr size_t kMaxArgument = 1023;  // bytes of one command argument

    void SetCallback(I7zFileInfoCallback* callback) { callback_ = callback; }

    // Writes the archive bytes to a temporary archive in a fresh folder below
    // the user's temporary folder and extracts it into folder. The temporary
    // folder is removed after a failure, and after success when removeTemp.
    bool ExtractFromMemory(const void* bytes, size_t length, const char* folder, const char* password,
                           std::string& errorText, bool removeTemp);
    bool ExtractFile(const char* archive, const char* folder, const char* password, std::string& errorText);
    // Adds the files below folder ("folder/*") to archive.
    bool Compress(const char* folder, const char* archive, const char* password);

    // The archiver's "x" command; true when it ended with exit code 0.
    bool Unzip(const char* folder, const char* archive, const char* password);

    // True when all length bytes reached the file and it was closed cleanly.
    static bool WriteFile(const char* path, const void* bytes, size_t length);
    // Claims a new folder "<temp>/<tick in hex>/" (forward slashes, ending in
    // "/") and returns 1, or 0 when none could be made or it would not fit.
    static int MakeTempFolder(std::string& out);
    // Creates every folder of path up to its last separator; 0 when the path
    // is too long, else the result of the last creation (1 when none).
    static int CreateFolders(const std::string& path);
    // True when the folder exists afterwards (an existing one counts).
    static bool CreateFolder(const std::string& path);
    static bool IsDirectory(const char* path);
    static void ToForwardSlashes(std::string& path);
    // Removes below folder (which ends in "/"): mode 0 files and folders,
    // 1 files only, 2 folders only; modes 0 and 2 also remove folder itself.
    // Read-only files go too; links are removed as links, never entered, the
    // folder itself included. Refuses what ResolveDeletableFolder refuses
    // (relative, root, "\\?\" paths, "C:/x/.." and the like). 0 when the
    // folder cannot be listed, else the result of the last deletion (1 when
    // there was none).
    static int DeleteTree(const std::string& folder, int mode);

    void NotifyError(int code);
    int NotifyProgress(uint32_t low, uint32_t high);

private:
    bool RunArchiver(const char* command, const char* archive, const std::string& third, const char* password);

    I7zFileInfoCallback* callback_ = nullptr;
};

// The callbacks handed to alonemain; user is the runner.
void __stdcall OnArchiveError(void* user, int code);
void __stdcall OnArchiveProgress(void* user, uint32_t low, uint32_t high);
