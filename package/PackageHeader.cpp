#include "PackageHeader.h"

#include <vector>

#include "Digest.h"
#include "JFile.h"

namespace {

constexpr size_t kHashChunk = 1 << 20;

}  // namespace

bool ReadAt(JFile& file, uint64_t offset, void* buffer, size_t size) {
    if (file.Seek(static_cast<int64_t>(offset), SEEK_SET) != 0) return false;
    return size == 0 || file.Read(buffer, size) == static_cast<int64_t>(size);
}

bool LocatePackageHeader(JFile& file, uint64_t& offset, int64_t& length) {
    offset = 0;
    if (!ReadAt(file, kPackageHeaderOffsetPosition, &offset, sizeof(offset))) offset = 0;
    length = file.GetSize();
    return length >= 0 && RegionFitsInFile(offset, kPackageHeaderSize, static_cast<uint64_t>(length));
}

PackageHeader::PackageHeader() {
    memset(static_cast<void*>(this), 0, sizeof(*this));
    memcpy(tag, "Krevanto", sizeof(tag));
}

HRESULT ReadPackageHeader(const wchar_t* packagePath, PackageHeader& header) {
    if (!packagePath) return E_POINTER;
    JFile file;
    if (!file.Open(packagePath, E_File_Read | E_File_Binary)) return E_FAIL;
    uint64_t offset = 0;
    int64_t length = 0;
    if (!LocatePackageHeader(file, offset, length)) {
        file.Close();
        return E_FAIL;
    }
    const bool read = ReadAt(file, offset, &header, sizeof(header));
    file.Close();
    return read ? S_OK : E_FAIL;
}

namespace {

constexpr unsigned char k7zSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t k7zStartHeaderSize = 32;

uint32_t Crc32(const unsigned char* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint64_t Le64(const unsigned char* bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

HRESULT CheckPackage(const wchar_t* packagePath, PackageHeader& header, std::string& why) {
    why.clear();
    if (!packagePath) {
        why = "no package path";
        return E_POINTER;
    }
    JFile file;
    if (!file.Open(packagePath, E_File_Read | E_File_Binary)) {
        why = "cannot open the package";
        return E_FAIL;
    }
    uint64_t offset = 0;
    int64_t length = 0;
    PackageHeader read;
    unsigned char start[k7zStartHeaderSize] = {};
    if (!LocatePackageHeader(file, offset, length) || !ReadAt(file, offset, &read, sizeof(read))) {
        why = "the header does not lie inside the package";
    } else if (!RegionFitsInFile(read.archiveOffset, read.archiveSize, static_cast<uint64_t>(length)) ||
               read.archiveSize < k7zStartHeaderSize) {
        why = "the payload does not lie inside the package";
    } else if (!RegionFitsInFile(read.uninstallerOffset, read.uninstallerSize, static_cast<uint64_t>(length))) {
        why = "the uninstaller does not lie inside the package";
    } else if (!ReadAt(file, read.archiveOffset, start, sizeof(start)) ||
               memcmp(start, k7zSignature, sizeof(k7zSignature)) != 0) {
        why = "the payload is not a 7z archive";
    } else if (Crc32(start + 12, 20) != (static_cast<uint32_t>(start[8]) | static_cast<uint32_t>(start[9]) << 8 |
                                         static_cast<uint32_t>(start[10]) << 16 |
                                         static_cast<uint32_t>(start[11]) << 24)) {
        why = "the payload's start header is damaged";
    } else {
        const uint64_t endOffset = Le64(start + 12), endSize = Le64(start + 20);
        if (!RegionFitsInFile(endOffset, endSize, read.archiveSize - k7zStartHeaderSize))
            why = "the payload's end header lies outside it";
    }
    file.Close();
    if (!why.empty()) return E_FAIL;
    header = read;
    return S_OK;
}

int64_t FileSizeOnDisk(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WriteWholeFile(const std::wstring& path, const void* bytes, size_t size) {
    JFile file;
    if (!file.Open(path, E_File_Write | E_File_Binary)) return false;
    const bool written = size == 0 || file.Write(bytes, size) == static_cast<int64_t>(size);
    file.Close();
    // The stream buffers: a full disk may only show when it is closed, and
    // then only as a shorter file.
    return written && FileSizeOnDisk(path) == static_cast<int64_t>(size);
}

HRESULT WriteHeaderFile(const wchar_t* path, const PackageHeader& header) {
    if (!path) return E_POINTER;
    return WriteWholeFile(path, &header, sizeof(header)) ? S_OK : E_FAIL;
}

HRESULT ReadHeaderFile(const wchar_t* path, PackageHeader& header) {
    if (!path) return E_POINTER;
    JFile file;
    if (!file.Open(path, E_File_Read | E_File_Binary)) return E_FAIL;
    PackageHeader read;
    const bool ok = file.Read(&read, sizeof(read)) == static_cast<int64_t>(sizeof(read));
    file.Close();
    if (!ok) return E_FAIL;
    header = read;
    return S_OK;
}

bool VerifyPackage(const wchar_t* packagePath) {
    PackageHeader header;
    if (!packagePath || FAILED(ReadPackageHeader(packagePath, header))) return false;
    JFile file;
    if (!file.Open(packagePath, E_File_Read | E_File_Binary)) return false;
    const int64_t length = file.GetSize();
    const uint64_t offset = header.uninstallerOffset;
    const uint64_t size = header.uninstallerSize;
    if (length < 0 || !RegionFitsInFile(offset, size, static_cast<uint64_t>(length)) ||
        file.Seek(static_cast<int64_t>(offset), SEEK_SET) != 0) {
        file.Close();
        return false;
    }
    // Hashed in chunks: the image may be large, and its size comes from the file.
    std::vector<unsigned char> chunk(kHashChunk);
    Md5Context context;
    Md5Hasher::Init(context);
    for (uint64_t done = 0; done < size;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kHashChunk, size - done));
        if (file.Read(chunk.data(), n) != static_cast<int64_t>(n)) {
            file.Close();
            return false;
        }
        Md5Hasher::Update(context, chunk.data(), n);
        done += n;
    }
    file.Close();
    unsigned char digest[16];
    Md5Hasher::Final(context, digest);
    return memcmp(digest, header.uninstallerDigest, sizeof(digest)) == 0;
}

bool CheckSetupIntegrity(const wchar_t* packagePath) {
    if (VerifyPackage(packagePath)) return true;
    MessageBoxW(nullptr, L"It looks like the setup file has been corrupted, please download again.", L"Error:",
                MB_OK);
    return false;
}
