// Trees of test files and archives made with the in-process archiver.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ArchiveEntry.h"

namespace package_testing {

// Relative path (with '\') -> content.
using FileTree = std::map<std::wstring, std::string>;

// A few text and binary files in two levels of folders; about 300 KB.
FileTree SampleTree();
// Bytes that compress poorly, the same for the same seed.
std::string NoiseBytes(size_t size, unsigned seed);

void WriteTree(const std::wstring& root, const FileTree& tree);
// Every file below root, read back; relative paths as in FileTree.
FileTree ReadTree(const std::wstring& root);

// What one archiver run reported. Progress may come from the archiver's
// decoder threads: each report is recorded under the lock, with its thread.
struct ArchiveEvents {
    std::mutex lock;
    std::vector<int> errors;
    std::vector<unsigned long long> progress;
    std::vector<DWORD> progressThreads;
    static void __stdcall OnError(void* user, int code);
    static void __stdcall OnProgress(void* user, uint32_t low, uint32_t high);
};

// alonemain with UTF-8 arguments made from the wide ones; argv[0] is filled in.
int RunArchiver(const std::vector<std::wstring>& arguments, ArchiveEvents* events = nullptr);

// An archive of one well-compressible text file whose packed stream has 16
// bytes flipped a quarter of the way in, so that extracting the item fails
// with a data error.
std::string CorruptArchive(const std::wstring& workFolder);

// Creates archive from the files of folder (the "a" command with folder\*).
bool MakeArchive(const std::wstring& archive, const std::wstring& folder, const std::wstring& password = L"");

// The narrow (UTF-8) form in which paths reach the archiver and the runner.
std::string Narrow(const std::wstring& text);

// The entries of the temporary folder that the archive runner or the unpack
// step could have made: tick folders (hex digits only) and "tarvex_7z".
// Other tests' folders are left out.
std::set<std::wstring> RunnerTempEntries();

}  // namespace package_testing

#include "PackageHeader.h"

namespace package_testing {

// A package made by the package builder from tree, with the given image.
// The header's productName is "Orvane" and its folder name "Orvane".
bool BuildTestPackage(const std::wstring& path, const std::wstring& workFolder, const FileTree& tree,
                      const std::string& uninstaller, const std::string& level = "5");

// The header inside a package file, and the file with a changed header.
PackageHeader HeaderOf(const std::string& package);
std::string WithHeader(std::string package, const PackageHeader& header);

}  // namespace package_testing
