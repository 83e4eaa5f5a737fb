#include "ArchiveTestSupport.h"

#include <shlwapi.h>

#include "Handles.h"
#include "JFile.h"
#include "TestSupport.h"
#include "Text.h"

namespace package_testing {

std::string NoiseBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<char>(state >> 24);
    }
    return bytes;
}

FileTree SampleTree() {
    FileTree tree;
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of the readme\r\n";
    tree[L"readme.txt"] = text;
    tree[L"bin\\tool.dll"] = NoiseBytes(150000, 7);
    tree[L"bin\\data\\empty.dat"] = "";
    tree[L"bin\\data\\small.bin"] = std::string("\x00\x01\x02\xff\r\n\x1a", 7);
    tree[L"res\\strings.ini"] = "[root]\r\nkey=value\r\n";
    return tree;
}

void WriteTree(const std::wstring& root, const FileTree& tree) {
    for (const auto& entry : tree) {
        const std::wstring path = root + L"\\" + entry.first;
        CreateParentDirectories(path);
        testing_support::WriteFileBytes(path, entry.second);
    }
}

FileTree ReadTree(const std::wstring& root) {
    std::vector<std::wstring> files;
    ListFilesRecursive(root + L"\\", files);
    FileTree tree;
    for (const auto& file : files) tree[file.substr(root.size() + 1)] = testing_support::ReadFileBytes(file);
    return tree;
}

void __stdcall ArchiveEvents::OnError(void* user, int code) {
    if (!user) return;
    auto* events = static_cast<ArchiveEvents*>(user);
    std::lock_guard<std::mutex> guard(events->lock);
    events->errors.push_back(code);
}

void __stdcall ArchiveEvents::OnProgress(void* user, uint32_t low, uint32_t high) {
    if (!user) return;
    auto* events = static_cast<ArchiveEvents*>(user);
    std::lock_guard<std::mutex> guard(events->lock);
    events->progress.push_back((static_cast<unsigned long long>(high) << 32) | low);
    events->progressThreads.push_back(GetCurrentThreadId());
}

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

std::set<std::wstring> RunnerTempEntries() {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW fd;
    UniqueFindHandle find(FindFirstFileW((testing_support::TempFolder() + L"\\*").c_str(), &fd));
    if (find.get() == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"tarvex_7z" || name.find_first_not_of(L"0123456789abcdef") == std::wstring::npos)
            names.insert(name);
    } while (FindNextFileW(find.get(), &fd));
    return names;
}

int RunArchiver(const std::vector<std::wstring>& arguments, ArchiveEvents* events) {
    std::vector<std::string> narrow{"orvane_tests.exe"};
    for (const auto& a : arguments) narrow.push_back(Narrow(a));
    std::vector<const char*> argv;
    for (const auto& a : narrow) argv.push_back(a.c_str());
    return alonemain(static_cast<int>(argv.size()), argv.data(), events, &ArchiveEvents::OnError,
                     &ArchiveEvents::OnProgress);
}

bool MakeArchive(const std::wstring& archive, const std::wstring& folder, const std::wstring& password) {
    std::vector<std::wstring> args{L"a", archive, folder + L"\\*"};
    if (!password.empty()) args.push_back(L"-p" + password);
    return RunArchiver(args) == 0;
}

std::string CorruptArchive(const std::wstring& workFolder) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "row " + std::to_string(i * 7919 % 10007) + "\n";
    WriteTree(workFolder + L"\\corrupt-src", {{L"table.txt", text}});
    const std::wstring archive = workFolder + L"\\corrupt.7z";
    if (!MakeArchive(archive, workFolder + L"\\corrupt-src")) return {};
    std::string bytes = testing_support::ReadFileBytes(archive);
    // The packed stream starts right after the 32-byte signature header.
    for (size_t i = 0; i < 16; ++i) bytes[32 + (bytes.size() - 32) / 4 + i] ^= 0x5a;
    return bytes;
}

}  // namespace package_testing

#include "PackageBuilder.h"

namespace package_testing {

bool BuildTestPackage(const std::wstring& path, const std::wstring& workFolder, const FileTree& tree,
                      const std::string& uninstaller, const std::string& level) {
    const std::wstring source = workFolder + L"\\package-src";
    testing_support::RemoveTree(source);
    CreateDirectoryW(source.c_str(), nullptr);
    WriteTree(source, tree);
    PackageBuildOptions options;
    options.sourceFolder = source;
    options.output = path;
    options.level = level;
    {
        options.uninstaller = workFolder + L"\\uninstaller-image.exe";
        testing_support::WriteFileBytes(options.uninstaller, uninstaller);
    }
    PackageHeader::SetFieldText(options.header.productName, "Orvane");
    PackageHeader::SetFieldText(options.header.installFolderName, "Orvane");
    std::string error;
    const bool ok = BuildPackage(options, error);
    testing_support::RemoveTree(source);
    DeleteFileW(options.uninstaller.c_str());
    return ok;
}

PackageHeader HeaderOf(const std::string& package) {
    PackageHeader h;
    uint64_t offset = 0;
    memcpy(&offset, package.data() + 32, 8);
    memcpy(static_cast<void*>(&h), package.data() + offset, sizeof(h));
    return h;
}

std::string WithHeader(std::string package, const PackageHeader& header) {
    uint64_t offset = 0;
    memcpy(&offset, package.data() + 32, 8);
    package.replace(static_cast<size_t>(offset), sizeof(header), reinterpret_cast<const char*>(&header),
                    sizeof(header));
    return package;
}

}  // namespace package_testing
