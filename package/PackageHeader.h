// The package format: a setup file carrying a 4096-byte header (found through
// the 64-bit offset at file offset 32), a 7z payload and an uninstaller
// image, each located only through the header. Integers are little-endian.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

constexpr uint64_t kPackageHeaderOffsetPosition = 32;
constexpr uint64_t kPackageHeaderSize = 4096;

#pragma pack(push, 1)
// The header byte for byte. Text fields hold narrow text in the ANSI code
// page; a field need not hold its terminating NUL, so read them only through
// FieldText.
struct PackageHeader {
    char tag[8];                       //   0: "Krevanto"; nobody checks it
    uint64_t uninstallerOffset;        //   8
    uint32_t uninstallerSize;          //  16
    uint8_t spare20[4];                //  20
    uint64_t archiveOffset;            //  24
    uint64_t archiveSize;              //  32
    uint8_t spare40[17];               //  40
    uint8_t uninstallerDigest[16];     //  57: MD5 of the uninstaller image
    uint8_t spare73[48];               //  73
    char installFolderName[64];        // 121: default folder below Program Files
    char productName[64];              // 185
    char version[32];                  // 249
    char displayName[16];              // 281
    char releaseDate[16];              // 297: year in 0-3, month in 5-6, day in 8-9
    char infoUrl[128];                 // 313
    char publisherText[64];            // 441
    uint8_t spare505[3];               // 505
    int32_t isX64;                     // 508: non-zero for a 64-bit product
    uint8_t spare512[3584];            // 512

    // Zero-fills the record, then writes the tag.
    PackageHeader();

    // The text of a field up to its first NUL, never beyond its width.
    template <size_t N>
    static std::string FieldText(const char (&field)[N]) {
        return std::string(field, strnlen(field, N));
    }
    // Stores text in a field, cut to leave room for the NUL, zero-filled.
    template <size_t N>
    static void SetFieldText(char (&field)[N], const std::string& text) {
        memset(field, 0, N);
        memcpy(field, text.data(), text.size() < N ? text.size() : N - 1);
    }
};
#pragma pack(pop)

static_assert(sizeof(PackageHeader) == 4096, "the header is 4096 bytes");
static_assert(offsetof(PackageHeader, archiveSize) == 32, "header layout");
static_assert(offsetof(PackageHeader, uninstallerDigest) == 57, "header layout");
static_assert(offsetof(PackageHeader, installFolderName) == 121, "header layout");
static_assert(offsetof(PackageHeader, publisherText) == 441, "header layout");
static_assert(offsetof(PackageHeader, isX64) == 508, "header layout");

// True when [offset, offset + size) lies inside a file of fileLength bytes,
// computed without overflow.
inline bool RegionFitsInFile(uint64_t offset, uint64_t size, uint64_t fileLength) {
    return offset <= fileLength && size <= fileLength - offset;
}

class JFile;

// Seeks an open file to offset and reads exactly size bytes (none for 0).
bool ReadAt(JFile& file, uint64_t offset, void* buffer, size_t size);
// Reads where an open package keeps its header (0 when that offset cannot be
// read) and the file's length. False when the header would not lie wholly
// inside the file; offset and length are set either way, for the log.
bool LocatePackageHeader(JFile& file, uint64_t& offset, int64_t& length);

// Reads the header of a package into header (which is not cleared first).
// E_POINTER without a path; E_FAIL when the file cannot be opened or read or
// the header does not lie wholly inside it.
HRESULT ReadPackageHeader(const wchar_t* packagePath, PackageHeader& header);
// Reads the header of a package and checks what the unpack step will rely
// on, before anything is installed: the payload and the uninstaller image lie
// inside the file, and the payload opens as a 7z archive whose start header
// is intact and whose end header lies inside the payload. S_OK with the
// header read; E_FAIL with a short reason in why otherwise.
HRESULT CheckPackage(const wchar_t* packagePath, PackageHeader& header, std::string& why);
// Writes a header file: exactly the 4096 bytes, missing folders created, an
// existing file truncated. E_FAIL when it cannot be opened or fully written.
HRESULT WriteHeaderFile(const wchar_t* path, const PackageHeader& header);
// The first 4096 bytes of a header file; E_FAIL when it is shorter.
HRESULT ReadHeaderFile(const wchar_t* path, PackageHeader& header);
// True when the uninstaller image lies inside the package and its MD5 equals
// uninstallerDigest.
bool VerifyPackage(const wchar_t* packagePath);
// VerifyPackage, with a message box to the user on a mismatch.
bool CheckSetupIntegrity(const wchar_t* packagePath);

// The length of the file at path as the file system reports it; -1 when its
// attributes cannot be read.
int64_t FileSizeOnDisk(const std::wstring& path);

// Writes all bytes to path (missing folders created, an existing file
// truncated) and checks that they reached the disk: false when the file
// cannot be opened, a write is short or the file ends up with another size.
bool WriteWholeFile(const std::wstring& path, const void* bytes, size_t size);
