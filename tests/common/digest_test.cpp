#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Digest.h"
#include "Handles.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string Md5Hex(const std::string& bytes) {
    Md5Hasher hasher;
    unsigned char digest[16];
    hasher.HashBuffer(bytes.data(), bytes.size(), digest);
    return hasher.ToHexString();
}

// Lines of a digest file written by the host's md5sum.
std::vector<std::string> ReadDigestLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(path), line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::wstring DigestFile(const wchar_t* name) { return BuildPath(std::wstring(L"tests/common/digest_files/") + name); }

}  // namespace

TEST(Md5Test, Rfc1321TestSuite) {
    const struct {
        const char* input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.input), c.digest) << '"' << c.input << '"';
}

TEST(Md5Test, PaddingBoundariesAndSplitUpdatesAgree) {
    // 55 bytes leave room for the length in the last block, 56 to 63 need a
    // second padding block, 64 and 65 cross a whole block.
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"}, {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (const auto& c : cases) {
        const std::string input(c.length, 'a');
        EXPECT_EQ(Md5Hex(input), c.digest) << c.length;

        // The same bytes fed in uneven pieces through one context.
        for (size_t piece : {1u, 7u, 63u, 64u, 65u}) {
            Md5Context context;
            Md5Hasher::Init(context);
            for (size_t at = 0; at < input.size(); at += piece)
                Md5Hasher::Update(context, input.data() + at, std::min(piece, input.size() - at));
            unsigned char digest[16];
            Md5Hasher::Final(context, digest);
            Md5Hasher hasher;
            unsigned char check[16];
            hasher.HashBuffer(input.data(), input.size(), check);
            EXPECT_EQ(0, std::memcmp(digest, check, 16)) << c.length << " in pieces of " << piece;
        }
    }
}

TEST(Md5Test, FreshHasherHoldsZeroDigestAndIsReusable) {
    Md5Hasher hasher;
    EXPECT_EQ(hasher.ToHexString(), std::string(32, '0'));
    unsigned char digest[16];
    hasher.HashBuffer("abc", 3, digest);
    hasher.HashBuffer("a", 1, digest);
    EXPECT_EQ(hasher.ToHexString(), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5Test, HashStreamFromMiddleHashesOnlyTheRestAndNullFails) {
    ScratchFolder folder(L"md5");
    WriteFileBytes(folder / L"data", "0123456789abc");
    FILE* stream = _wfopen((folder / L"data").c_str(), L"rb");
    ASSERT_NE(stream, nullptr);
    fseek(stream, 10, SEEK_SET);
    Md5Hasher hasher;
    unsigned char digest[16];
    EXPECT_EQ(hasher.HashStream(stream, digest), 1);
    EXPECT_EQ(hasher.ToHexString(), "900150983cd24fb0d6963f7d28e17f72");  // "abc"
    EXPECT_EQ(ftell(stream), 13);
    fclose(stream);
    EXPECT_EQ(hasher.HashStream(nullptr, digest), 0);
}

TEST(Md5Test, HashFileByWideAndNarrowPathAndItsFailures) {
    ScratchFolder folder(L"md5 \u00e9t\u00e9");
    const std::wstring path = folder / L"caf\u00e9.bin";
    WriteFileBytes(path, "message digest");
    Md5Hasher hasher;
    unsigned char digest[16];
    EXPECT_EQ(hasher.HashFile(path.c_str(), digest), 1);
    EXPECT_EQ(hasher.ToHexString(), "f96b697d7cb7938d525a2f31aaf161d0");

    // The narrow form is in the ANSI code page.
    char narrow[MAX_PATH * 2] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr), 0);
    Md5Hasher other;
    EXPECT_EQ(other.HashFile(narrow, digest), 1);
    EXPECT_EQ(other.ToHexString(), "f96b697d7cb7938d525a2f31aaf161d0");

    EXPECT_EQ(hasher.HashFile((folder / L"missing").c_str(), digest), 0);
    EXPECT_EQ(hasher.HashFile(folder.path().c_str(), digest), 0);  // exists, but a folder

    // Held open by another without sharing: it exists but cannot be opened.
    UniqueHandle locked(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(locked.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(hasher.HashFile(path.c_str(), digest), 0);
}

TEST(FileDigestTest, WholeAndBlockDigestsMatchMd5sumAndKeepThePosition) {
    const std::vector<std::string> expected = ReadDigestLines(DigestFile(L"blocks.md5"));
    ASSERT_EQ(expected.size(), 4u);
    FILE* stream = _wfopen(DigestFile(L"blocks.bin").c_str(), L"rb");
    ASSERT_NE(stream, nullptr);
    fseek(stream, 12345, SEEK_SET);

    char buffer[40];
    memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(GetFileHash(stream, buffer, sizeof(buffer)), 1);
    EXPECT_STREQ(buffer, Upper(expected[0]).c_str());
    EXPECT_EQ(ftell(stream), 12345);

    std::vector<std::string> blocks{"kept"};
    ASSERT_EQ(GetFileBlockHashes(stream, 1048576, blocks), 1);
    ASSERT_EQ(blocks.size(), 4u);  // appended after what was there
    EXPECT_EQ(blocks[0], "kept");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(blocks[i + 1], Upper(expected[i + 1])) << "block " << i;
    EXPECT_EQ(ftell(stream), 12345);
    fclose(stream);
}

TEST(FileDigestTest, EmptyFileAndRefusedArguments) {
    ScratchFolder folder(L"digest");
    WriteFileBytes(folder / L"empty", "");
    FILE* stream = _wfopen((folder / L"empty").c_str(), L"rb");
    ASSERT_NE(stream, nullptr);
    char buffer[33];
    ASSERT_EQ(GetFileHash(stream, buffer, sizeof(buffer)), 1);  // 33 is just enough
    EXPECT_STREQ(buffer, "D41D8CD98F00B204E9800998ECF8427E");
    std::vector<std::string> blocks;
    EXPECT_EQ(GetFileBlockHashes(stream, 1048576, blocks), 1);
    EXPECT_TRUE(blocks.empty());

    char small[32];
    EXPECT_EQ(GetFileHash(stream, small, sizeof(small)), 0);
    EXPECT_EQ(GetFileHash(nullptr, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(GetFileBlockHashes(nullptr, 1048576, blocks), 0);
    EXPECT_EQ(GetFileBlockHashes(stream, 0, blocks), 0);
    fclose(stream);
}

// The bit count passes 2^32 at 512 MiB; the file carries marks on both sides.
TEST(FileDigestTest, FileOver512MiBMatchesMd5sum) {
    const std::vector<std::string> expected = ReadDigestLines(DigestFile(L"sparse.md5"));
    ASSERT_EQ(expected.size(), 1u);
    Md5Hasher hasher;
    unsigned char digest[16];
    ASSERT_EQ(hasher.HashFile(DigestFile(L"sparse.bin").c_str(), digest), 1);
    EXPECT_EQ(hasher.ToHexString(), expected[0]);
}

TEST(Base64Test, Rfc4648VectorsAndTheFullAlphabet) {
    const struct {
        const char* input;
        const char* encoded;
    } cases[] = {
        {"", ""},          {"a", "YQ=="},         {"ab", "YWI="},         {"abc", "YWJj"},
        {"f", "Zg=="},     {"fo", "Zm8="},        {"foo", "Zm9v"},        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64Encode(c.input, strlen(c.input)), c.encoded) << c.input;

    const unsigned char high[] = {0xfb, 0xff, 0xbf, 0x00};
    EXPECT_EQ(Base64Encode(high, sizeof(high)), "+/+/AA==");
    EXPECT_EQ(Base64Alphabet.size(), 64u);
}
