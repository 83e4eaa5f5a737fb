#include "PackageBuilder.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "ArchiveEntry.h"
#include "Digest.h"
#include "JFile.h"
#include "Text.h"

namespace {

constexpr uint64_t kPreambleSize = 4096;
constexpr size_t kCopyChunk = 1 << 20;

// Appends the whole file at path to out, hashing it into context when given.
bool AppendFile(JFile& out, const std::wstring& path, Md5Context* context) {
    JFile in;
    if (!in.Open(path, E_File_Read | E_File_Binary)) return false;
    std::vector<char> chunk(kCopyChunk);
    for (;;) {
        const int64_t n = in.Read(chunk.data(), chunk.size());
        if (n < 0) return false;
        if (n == 0) break;
        if (context) Md5Hasher::Update(*context, chunk.data(), static_cast<size_t>(n));
        if (out.Write(chunk.data(), static_cast<size_t>(n)) != n) return false;
    }
    in.Close();
    return true;
}

bool MakeArchive(const std::wstring& folder, const std::wstring& archive, const std::string& level) {
    DeleteFileW(archive.c_str());  // "a" would add to an archive that is already there
    const std::string self = "mkpackage";
    const std::string archiveArg = WideToUtf8(archive);
    const std::string source = WideToUtf8(folder) + "\\*";
    const std::string levelArg = "-mx=" + level;
    const char* argv[] = {self.c_str(), "a", archiveArg.c_str(), source.c_str(), levelArg.c_str(), "-bso0"};
    return alonemain(6, argv, nullptr, nullptr, nullptr) == 0;
}

}  // namespace

bool BuildPackage(const PackageBuildOptions& options, std::string& error) {
    const std::wstring archive = options.output + L".payload.7z";
    auto fail = [&](const std::string& why) {
        DeleteFileW(archive.c_str());
        DeleteFileW(options.output.c_str());
        error = why;
        return false;
    };
    if (GetFileAttributesW(options.sourceFolder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return fail("source folder not found");
    if (!MakeArchive(options.sourceFolder, archive, options.level)) return fail("the archiver could not make the payload");
    const int64_t archiveSize = FileSizeOnDisk(archive);
    const int64_t uninstallerSize = options.uninstaller.empty() ? 0 : FileSizeOnDisk(options.uninstaller);
    if (archiveSize < 0) return fail("payload missing");
    if (uninstallerSize < 0 || uninstallerSize > 0xffffffffll) return fail("uninstaller image missing or too large");

    PackageHeader header = options.header;
    memcpy(header.tag, "Krevanto", sizeof(header.tag));
    header.archiveOffset = 2 * kPreambleSize;
    header.archiveSize = static_cast<uint64_t>(archiveSize);
    header.uninstallerOffset = header.archiveOffset + header.archiveSize;
    header.uninstallerSize = static_cast<uint32_t>(uninstallerSize);

    JFile out;
    if (!out.Open(options.output, E_File_Write | E_File_Binary)) return fail("cannot create the package file");
    std::vector<char> preamble(kPreambleSize, '\0');
    const char banner[] = "Orvane setup package\r\n\x1a";
    memcpy(preamble.data(), banner, sizeof(banner) - 1);
    const uint64_t headerOffset = kPreambleSize;
    memcpy(preamble.data() + kPackageHeaderOffsetPosition, &headerOffset, sizeof(headerOffset));
    bool ok = out.Write(preamble.data(), preamble.size()) == static_cast<int64_t>(preamble.size());
    // The header goes in with its digest once the image has been hashed.
    ok = ok && out.Write(&header, sizeof(header)) == static_cast<int64_t>(sizeof(header));
    ok = ok && AppendFile(out, archive, nullptr);
    Md5Context context;
    Md5Hasher::Init(context);
    if (ok && !options.uninstaller.empty()) ok = AppendFile(out, options.uninstaller, &context);
    Md5Hasher::Final(context, header.uninstallerDigest);
    ok = ok && out.Seek(static_cast<int64_t>(headerOffset), SEEK_SET) == 0 &&
         out.Write(&header, sizeof(header)) == static_cast<int64_t>(sizeof(header));
    out.Close();
    const uint64_t expected = header.uninstallerOffset + header.uninstallerSize;
    if (!ok || FileSizeOnDisk(options.output) != static_cast<int64_t>(expected)) return fail("writing the package failed");
    DeleteFileW(archive.c_str());
    return true;
}
