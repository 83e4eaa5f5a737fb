// The package header: layout, reading through the offset at 32, header files
// and the uninstaller digest check, on crafted files.
#include <gtest/gtest.h>

#include <cstring>

#include "Digest.h"
#include "PackageHeader.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string U64(uint64_t value) { return std::string(reinterpret_cast<const char*>(&value), 8); }

// A file of length bytes of filler with H at 32 and, where it fits, a header
// whose productName is "P" at H.
std::string CraftedFile(size_t length, uint64_t headerOffset) {
    std::string file(length, '\x11');
    if (length >= 40) file.replace(32, 8, U64(headerOffset));
    if (headerOffset <= length && 4096 <= length - headerOffset) {
        PackageHeader h;
        PackageHeader::SetFieldText(h.productName, "P");
        file.replace(static_cast<size_t>(headerOffset), 4096, reinterpret_cast<const char*>(&h), 4096);
    }
    return file;
}

}  // namespace

TEST(PackageHeaderTest, FreshRecordIsZeroedWithTheTagAndFieldsSitAtTheirOffsets) {
    PackageHeader h;
    EXPECT_EQ(std::string(h.tag, 8), "Krevanto");
    EXPECT_EQ(h.archiveSize, 0u);
    EXPECT_EQ(h.isX64, 0);
    EXPECT_EQ(PackageHeader::FieldText(h.productName), "");
    h.archiveOffset = 0x0102030405060708ull;
    h.uninstallerDigest[0] = 0xAB;
    h.isX64 = 1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&h);
    EXPECT_EQ(bytes[24], 0x08);
    EXPECT_EQ(bytes[31], 0x01);
    EXPECT_EQ(bytes[57], 0xAB);
    EXPECT_EQ(bytes[508], 1);
}

TEST(PackageHeaderTest, TextFieldsAreReadWithinTheirWidthWithoutTheirNul) {
    PackageHeader h;
    memset(h.displayName, 'D', sizeof(h.displayName));  // no NUL inside the field
    memset(h.releaseDate, 'R', sizeof(h.releaseDate));
    EXPECT_EQ(PackageHeader::FieldText(h.displayName), std::string(16, 'D'));
    PackageHeader::SetFieldText(h.version, std::string(40, 'v'));
    EXPECT_EQ(PackageHeader::FieldText(h.version), std::string(31, 'v'));
}

struct HeaderCase {
    const char* name;
    size_t length;
    uint64_t headerOffset;
    HRESULT result;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class ReadPackageHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ReadPackageHeaderTest, AcceptsOnlyHeadersInsideTheFile) {
    ScratchFolder folder(L"header");
    const HeaderCase& c = GetParam();
    ASSERT_TRUE(WriteFileBytes(folder / L"p.bin", CraftedFile(c.length, c.headerOffset)));
    PackageHeader h;
    EXPECT_EQ(ReadPackageHeader((folder / L"p.bin").c_str(), h), c.result);
    if (c.result == S_OK) {
        EXPECT_EQ(PackageHeader::FieldText(h.productName), "P");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadPackageHeaderTest,
    ::testing::Values(HeaderCase{"HeaderInTheMiddle", 20000, 5000, S_OK},
                      HeaderCase{"HeaderEndsAtTheEnd", 20000, 20000 - 4096, S_OK},
                      HeaderCase{"HeaderOneBytePastTheEnd", 20000, 20000 - 4095, E_FAIL},
                      HeaderCase{"HeaderOffsetPastTheEnd", 20000, 30000, E_FAIL},
                      HeaderCase{"OffsetNearTwoToThe64", 20000, ~0ull - 100, E_FAIL},
                      HeaderCase{"OffsetTwoToThe63", 20000, 1ull << 63, E_FAIL},
                      HeaderCase{"FileShorterThanAHeader", 4095, 0, E_FAIL},
                      HeaderCase{"FileShorterThan40Bytes", 30, 0, E_FAIL},
                      HeaderCase{"HeaderAtZeroInAFileOfExactlyOneHeader", 4096, 0, S_OK}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

TEST(PackageHeaderTest, MissingPathOrFile) {
    PackageHeader h;
    EXPECT_EQ(ReadPackageHeader(nullptr, h), E_POINTER);
    EXPECT_EQ(ReadPackageHeader(L"C:\\no\\such\\package.exe", h), E_FAIL);
    EXPECT_EQ(WriteHeaderFile(nullptr, h), E_POINTER);
    EXPECT_EQ(ReadHeaderFile(nullptr, h), E_POINTER);
}

TEST(PackageHeaderTest, HeaderFileRoundTripsIntoANewFolderAndShortFilesAreRefused) {
    ScratchFolder folder(L"header");
    PackageHeader h;
    PackageHeader::SetFieldText(h.productName, "Orvane");
    h.archiveSize = 123456789012ull;
    const std::wstring path = folder / L"new\\sub\\uninstall.exe.bin";
    ASSERT_EQ(WriteHeaderFile(path.c_str(), h), S_OK);
    EXPECT_EQ(ReadFileBytes(path), std::string(reinterpret_cast<const char*>(&h), 4096));

    PackageHeader back;
    ASSERT_EQ(ReadHeaderFile(path.c_str(), back), S_OK);
    EXPECT_EQ(back.archiveSize, 123456789012ull);

    const std::string bytes = ReadFileBytes(path);
    WriteFileBytes(folder / L"short.bin", bytes.substr(0, 4095));
    EXPECT_EQ(ReadHeaderFile((folder / L"short.bin").c_str(), back), E_FAIL);
    WriteFileBytes(folder / L"long.bin", bytes + std::string(904, 'x'));
    PackageHeader fromLong;
    ASSERT_EQ(ReadHeaderFile((folder / L"long.bin").c_str(), fromLong), S_OK);
    EXPECT_EQ(PackageHeader::FieldText(fromLong.productName), "Orvane");
}

TEST(PackageHeaderTest, WriteHeaderFileFailsWhenThePathIsAFolder) {
    ScratchFolder folder(L"header");
    CreateDirectoryW((folder / L"taken.bin").c_str(), nullptr);
    PackageHeader h;
    EXPECT_EQ(WriteHeaderFile((folder / L"taken.bin").c_str(), h), E_FAIL);
}

namespace {

// A package whose uninstaller region is at offset 100 and whose header
// (with the image's digest) is at 8192.
std::string PackageWithImage(const std::string& image, uint32_t declaredSize, const std::string& digestOf) {
    PackageHeader h;
    h.uninstallerOffset = 100;
    h.uninstallerSize = declaredSize;
    Md5Hasher md5;
    md5.HashBuffer(digestOf.data(), digestOf.size(), h.uninstallerDigest);
    std::string file(8192, '\0');
    file.replace(32, 8, U64(8192));
    file.replace(100, image.size(), image);
    file += std::string(reinterpret_cast<const char*>(&h), 4096);
    return file;
}

}  // namespace

TEST(VerifyPackageTest, ComparesTheImageWithItsDigest) {
    ScratchFolder folder(L"verify");
    const std::string image = "MZ uninstaller image bytes";
    const std::wstring path = folder / L"p.exe";

    WriteFileBytes(path, PackageWithImage(image, static_cast<uint32_t>(image.size()), image));
    EXPECT_TRUE(VerifyPackage(path.c_str()));

    std::string changed = image;
    changed[5] ^= 1;
    WriteFileBytes(path, PackageWithImage(changed, static_cast<uint32_t>(image.size()), image));
    EXPECT_FALSE(VerifyPackage(path.c_str()));

    WriteFileBytes(path, PackageWithImage("", 0, ""));
    EXPECT_TRUE(VerifyPackage(path.c_str()));  // the MD5 of no data

    // An image that runs past the end of the file (up to 4 GiB declared).
    WriteFileBytes(path, PackageWithImage(image, 0xFFFFFFF0u, image));
    EXPECT_FALSE(VerifyPackage(path.c_str()));
    EXPECT_FALSE(VerifyPackage(nullptr));
}
