#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "Text.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

const wchar_t kAccented[] = L"Caf\u00e9 \u00c5ngstr\u00f6m";
const wchar_t kCyrillic[] = L"\u041f\u0440\u0438\u0432\u0435\u0442";
const wchar_t kCjk[] = L"\u65e5\u672c\u8a9e\u30d5\u30a9\u30eb\u30c0";

std::wstring HelperPath() { return BuildPath(L"tests/common/common_test_helper.exe"); }

// Runs the helper in one mode and returns what it wrote.
std::string RunHelper(const std::wstring& exe, const std::wstring& mode, const std::wstring& out) {
    DeleteFileW(out.c_str());
    const ProcessResult result = RunProcess(L"\"" + exe + L"\" " + mode + L" \"" + out + L"\"", 30000);
    if (!result.finished) return "did not finish";
    return ReadFileBytes(out);
}

bool IsHex(const std::string& text, bool upper) {
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) && !(upper ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

}  // namespace

TEST(TextConversionTest, NarrowFormIsAnsiBothWays) {
    // In the harness's Western locale "é" narrows to its ANSI byte, not the
    // OEM one (0x82), and widens back to itself.
    ASSERT_EQ(GetACP(), 1252u);
    EXPECT_EQ(WideToNarrow(L"\u00e9"), "\xe9");
    EXPECT_EQ(NarrowToWide(WideToNarrow(kAccented)), kAccented);
    std::string narrow = "stale";
    EXPECT_EQ(WideToNarrow(static_cast<const wchar_t*>(kAccented), narrow), WideToNarrow(kAccented));
    std::wstring wide = L"stale";
    EXPECT_EQ(NarrowToWide("", wide), L"");
    EXPECT_EQ(WideToNarrow(static_cast<const wchar_t*>(nullptr), narrow), "");
    // What the code page cannot hold becomes its replacement character.
    EXPECT_EQ(WideToNarrow(kCyrillic), std::string(6, '?'));
    EXPECT_EQ(WideToNarrow(kCjk), std::string(7, '?'));
}

// Run once in the harness's Western locale and, by extra CTest entries, under
// Cyrillic and Japanese Unix locales, which set the process's ANSI code page
// (ORVANE_EXPECT_ACP says which, so a missing locale cannot pass unnoticed).
// A code page holds only its own scripts, which is why paths stay wide; the
// narrow form must still give back everything its code page holds, and a
// file created by the round-tripped name is the file of the original name.
TEST(TextLocaleTest, RoundTripKeepsWhatTheAnsiCodePageHolds) {
    const char* expectAcp = getenv("ORVANE_EXPECT_ACP");
    const UINT acp = GetACP();
    EXPECT_EQ(acp, expectAcp ? static_cast<UINT>(atoi(expectAcp)) : 1252u);
    const struct {
        UINT codePage;
        std::vector<const wchar_t*> held;
    } pages[] = {
        {1252, {kAccented}},
        {1251, {kCyrillic}},
        {932, {kCyrillic, kCjk}},
    };
    ScratchFolder folder(L"roundtrip");
    bool known = false;
    for (const auto& page : pages) {
        if (page.codePage != acp) continue;
        known = true;
        for (const wchar_t* sample : page.held) {
            const std::string narrow = WideToNarrow(sample);
            EXPECT_EQ(narrow.find('?'), std::string::npos);
            const std::wstring back = NarrowToWide(narrow);
            EXPECT_EQ(back, sample) << narrow;
            ASSERT_TRUE(WriteFileBytes(folder / back, "x"));
            EXPECT_TRUE(FileExists(folder / sample));
        }
    }
    EXPECT_TRUE(known) << "code page " << acp;
}

// The narrow hops of a path inside the process carry UTF-8, which spells
// every script whatever the locale; malformed input gives nothing rather
// than a wrong path.
TEST(TextConversionTest, Utf8SpellsEveryScriptAndRefusesMalformedInput) {
    for (const wchar_t* sample : {kAccented, kCyrillic, kCjk}) {
        const std::string utf8 = WideToUtf8(sample);
        EXPECT_FALSE(utf8.empty());
        EXPECT_EQ(Utf8ToWide(utf8), sample);
    }
    EXPECT_EQ(WideToUtf8(L"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(Utf8ToWide("C:\\\xd0\xa3"), L"C:\\\u0423");
    EXPECT_TRUE(Utf8ToWide("\xc3").empty());
    EXPECT_TRUE(Utf8ToWide("").empty());
    EXPECT_TRUE(WideToUtf8(L"").empty());
}

TEST(StringFunctionTest, ReplaceAllResumesAfterTheInsertedText) {
    const struct {
        const char* text;
        const char* from;
        const char* to;
        const char* result;
    } cases[] = {
        {"banana", "a", "aa", "baanaanaa"}, {"aaa", "a", "", ""},      {"abcabc", "bc", "X", "aXaX"},
        {"text", "", "x", "text"},          {"", "a", "b", ""},        {"%s\\%s", "\\", "/", "%s/%s"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(ReplaceAll(text, c.from, c.to), c.result) << c.text;
        EXPECT_EQ(text, c.result);  // changed in place as well
    }
    const char input[] = "a-b-c";
    EXPECT_EQ(ReplaceAll(input, "-", "--"), "a--b--c");
    EXPECT_STREQ(input, "a-b-c");
    std::wstring wide = L"x\u00e9x";
    EXPECT_EQ(ReplaceAll(wide, std::wstring(L"\u00e9"), std::wstring(L"\u00e9\u00e9")), L"x\u00e9\u00e9x");
}

TEST(StringFunctionTest, SplitStringCutsAtAnyDelimiterAndDropsEmptyPieces) {
    const struct {
        const char* text;
        const char* delimiters;
        std::vector<std::string> pieces;
    } cases[] = {
        {"setup__a_7", "_", {"setup", "a", "7"}},
        {"a,b;c", ",;", {"a", "b", "c"}},
        {"__", "_", {}},
        {"", "_", {}},
        {"abc", "", {}},
        {"abc", "_", {"abc"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out{"before"};
        EXPECT_EQ(SplitString(out, c.text, c.delimiters), static_cast<int>(c.pieces.size())) << c.text;
        std::vector<std::string> expected{"before"};
        expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        EXPECT_EQ(out, expected) << c.text;
    }
    std::vector<std::wstring> wide;
    EXPECT_EQ(SplitString(wide, std::wstring(L"\u00e9;;x"), std::wstring(L";")), 2);
    EXPECT_EQ(wide, (std::vector<std::wstring>{L"\u00e9", L"x"}));
}

TEST(StringFunctionTest, IsNumber) {
    for (const char* yes : {"12", "3.5", "-4", "1e3", " 7 ", "2021", "0"}) EXPECT_TRUE(IsNumber(yes)) << yes;
    for (const char* no : {"12a", "a12", "", " ", "summer", "1 2", "0x1A"}) EXPECT_FALSE(IsNumber(no)) << no;
}

TEST(StringFunctionTest, FormatByteSizeBoundaries) {
    const struct {
        uint32_t bytes;
        const char* text;
    } cases[] = {
        {0, "0Byte"},          {1023, "1023Byte"},       {1024, "1024Byte"},         {1025, "1.00KB"},
        {1536, "1.50KB"},      {1048576, "1024.00KB"},   {1048577, "1.00MB"},        {0xffffffffu, "4096.00MB"},
    };
    for (const auto& c : cases) {
        char buffer[32];
        EXPECT_STREQ(FormatByteSize(c.bytes, buffer, sizeof(buffer)), c.text) << c.bytes;
        wchar_t wide[32];
        EXPECT_EQ(std::wstring(FormatByteSize(c.bytes, wide, 32)), NarrowToWide(c.text)) << c.bytes;
    }
    char small[5];
    EXPECT_STREQ(FormatByteSize(1048577, small, sizeof(small)), "1.00");  // bounded by the buffer
    wchar_t smallWide[3];
    EXPECT_EQ(std::wstring(FormatByteSize(1024, smallWide, 3)), L"10");
}

TEST(StringFunctionTest, GuidAndRandomIdFormats) {
    const std::string guid = MakeGuidString(), other = MakeGuidString();
    EXPECT_EQ(guid.size(), 32u);
    EXPECT_TRUE(IsHex(guid, true)) << guid;
    EXPECT_NE(guid, other);

    const std::string id = MakeRandomId();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_TRUE(IsHex(id, false)) << id;
    // Seeded from the tick count: ids a few ticks apart differ.
    Sleep(50);
    EXPECT_NE(MakeRandomId(), id);
}

TEST(StringFunctionTest, RandomChanceAtItsLimits) {
    EXPECT_FALSE(RandomChance(0));
    EXPECT_TRUE(RandomChance(100));
}

TEST(SetupFileNameTest, TagTable) {
    const struct {
        const wchar_t* path;
        const char* option;
        const char* source;
    } cases[] = {
        {L"C:\\dl\\setup_summer_sale_2021_mail_news.exe", "summer_sale", "mail_news"},
        {L"C:\\dl\\setup_2021_mail.exe", "", "mail"},
        {L"C:\\dl\\setup_summer.exe", "untouched", "untouched"},
        {L"C:\\dl\\Setup_A_7.exe", "a", ""},
        {L"C:\\dl\\setup_a_7_b_8_c.exe", "a", "b_c"},
        {L"C:\\dl\\setup.exe", "untouched", "untouched"},
        {L"C:\\dl\\setup__x__3__y.exe", "x", "y"},
        {L"C:\\my_folder_7\\setup.exe", "untouched", "untouched"},  // only the file name counts
        {L"C:\\dl\\setup_\u00c9t\u00c9_1_s.exe", "\xe9t\xe9", "s"},
    };
    for (const auto& c : cases) {
        std::string option = "untouched", source = "untouched";
        ParseSetupFileName(c.path, option, source);
        EXPECT_EQ(option, c.option) << WideToNarrow(c.path);
        EXPECT_EQ(source, c.source) << WideToNarrow(c.path);
    }
}

TEST(SetupFileNameTest, ReadsTheRunningProgramsOwnName) {
    ScratchFolder folder(L"setupname");
    const struct {
        const wchar_t* name;
        const char* result;
    } cases[] = {
        {L"setup_summer_sale_2021_mail_news.exe", "summer_sale\nmail_news"},
        {L"Setup_A_7.exe", "a\n"},
        {L"setup_summer.exe", "untouched\nuntouched"},
    };
    for (const auto& c : cases) {
        const std::wstring copy = folder / c.name;
        ASSERT_TRUE(CopyFileW(HelperPath().c_str(), copy.c_str(), FALSE));
        EXPECT_EQ(RunHelper(copy, L"parse-name", folder / L"out.txt"), c.result) << WideToNarrow(c.name);
    }
}
