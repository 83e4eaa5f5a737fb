#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LangStrings.h"
#include "Log.h"
#include "TestSupport.h"
#include "lang/LangTables.h"

using namespace testing_support;

namespace {

// The order every table keeps its rows in.
const int kRowOrder[] = {0,  1,  4,  5,  6,  9,  10, 11, 12, 13, 14, 15, 16, 2,  3,  7,  8,  28,
                         29, 30, 18, 19, 20, 32, 31, 22, 23, 24, 25, 26, 27, 17, 33, 34, 35, 36,
                         37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 21, 49, 50, 51, 52};

std::vector<std::string> g_logLines;
int CaptureLogLine(const char* message) {
    g_logLines.push_back(message);
    return 0;
}

std::wstring ReplacePlaceholder(std::wstring text, const std::wstring& name) {
    const std::wstring placeholder = L"__PRODUCT_NAME__";
    for (size_t pos = text.find(placeholder); pos != std::wstring::npos; pos = text.find(placeholder, pos)) {
        text.replace(pos, placeholder.size(), name);
        pos += name.size();
    }
    return text;
}

// What a table shows for id after English was laid under it: its last row
// of that id, else English's.
std::wstring ShownText(const LangTable& table, int id) {
    const wchar_t* text = nullptr;
    for (const LangTable* t : {&kLangTableEnglish, &table}) {
        for (size_t i = 0; t->rows != nullptr && i < t->count; ++i) {
            if (t->rows[i].id == id) text = t->rows[i].text;
        }
    }
    return text != nullptr ? text : L"UnKnow";
}

size_t CountOf(const std::wstring& text, const std::wstring& part) {
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::wstring::npos; pos = text.find(part, pos + part.size())) ++n;
    return n;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char buffer[12];
            snprintf(buffer, sizeof(buffer), "\\u%04X", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

class DebugConfigFile {
public:
    explicit DebugConfigFile(const std::string& body) {
        WriteFileBytes(path_, "[root]\r\n" + body + "\r\n");
    }
    ~DebugConfigFile() { DeleteFileW(path_.c_str()); }

private:
    const std::wstring path_ = DocumentsFolder() + L"\\ZovDebugConfig.ini";
};

class LangStringsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileW((DocumentsFolder() + L"\\ZovDebugConfig.ini").c_str());
        g_logLines.clear();
        GetLog()->SetCallback(CaptureLogLine);
    }
    void TearDown() override { GetLog()->SetCallback(nullptr); }
};

}  // namespace

// Runs first in its own process: nothing is chosen yet.
TEST_F(LangStringsTest, BeforeSelectionEveryLookupIsUnknown) {
    EXPECT_STREQ(GetLangString(0), L"UnKnow");
    EXPECT_EQ(GetLangCode(), "");
    EXPECT_EQ(GetLangName(), "");
    EXPECT_EQ(GetLangLayoutWidth(4), 0);
}

TEST_F(LangStringsTest, EveryTableKeepsTheSharedRowOrder) {
    for (const LangInfo& lang : kLangInfos) {
        SCOPED_TRACE(lang.name);
        std::vector<int> expected(std::begin(kRowOrder), std::end(kRowOrder));
        if (std::string(lang.code) == "NOR") {
            expected.resize(expected.size() - 2);  // no 51 and 52
        } else if (std::string(lang.code) == "BRA") {
            // 40 and 41 come twice in a row, the English texts first.
            const auto at = std::find(expected.begin(), expected.end(), 42);
            expected.insert(at, {40, 41});
        }
        std::vector<int> ids;
        for (size_t i = 0; i < lang.table->count; ++i) ids.push_back(lang.table->rows[i].id);
        EXPECT_EQ(ids, expected);
    }
}

// A translation keeps every placeholder, adds no line break, no surrounding
// blanks (36 to 39 may start with one: they follow the product name), and
// gives the shortcut names 47 and 48 no character a file name cannot hold.
TEST_F(LangStringsTest, TranslationsKeepPlaceholdersAndShape) {
    for (const LangInfo& lang : kLangInfos) {
        for (int id = 0; id < kLangStringCount; ++id) {
            const std::wstring english = ShownText(kLangTableEnglish, id);
            const std::wstring text = ShownText(*lang.table, id);
            SCOPED_TRACE(std::string(lang.code) + " id " + std::to_string(id) + ": " + Narrow(text));
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(CountOf(text, L"__PRODUCT_NAME__"), CountOf(english, L"__PRODUCT_NAME__"));
            EXPECT_EQ(CountOf(text, L"XXX"), CountOf(english, L"XXX"));
            EXPECT_EQ(text.find_first_of(L"\r\n\t"), std::wstring::npos);
            EXPECT_NE(text.back(), L' ');
            const bool mayLeadWithBlank = id >= 36 && id <= 39;
            if (text[0] == L' ') {
                EXPECT_TRUE(mayLeadWithBlank);
                EXPECT_NE(text[1], L' ');
            }
            if (id == 42 || id == 43) {
                EXPECT_NE(text.find(kLangTextWebHost), std::wstring::npos);
            }
            if (id == 47 || id == 48) {
                EXPECT_EQ(text.find_first_of(L"\\/:*?\"<>|"), std::wstring::npos);
            }
        }
    }
}

// Every table but English's own says every text in its language; only
// words that read the same stay as they are.
TEST_F(LangStringsTest, TranslationsCoverEveryText) {
    const std::set<std::wstring> sameInTranslation = {L"OK", L"No", L"Start __PRODUCT_NAME__",
                                                      L"__PRODUCT_NAME__ Online"};
    for (const LangInfo& lang : kLangInfos) {
        if (lang.table == &kLangTableEnglish) continue;
        for (int id = 0; id < kLangStringCount; ++id) {
            if (lang.table == &kLangTableNorwegian && (id == 51 || id == 52)) continue;
            const std::wstring text = ShownText(*lang.table, id);
            if (text != ShownText(kLangTableEnglish, id)) continue;
            EXPECT_EQ(sameInTranslation.count(text), 1u) << lang.code << " id " << id << " is English";
        }
    }
}

// The two tables that deviate from the shared shape, as the user sees them.
TEST_F(LangStringsTest, NorwegianAndPortugueseDeviations) {
    SelectLanguage(L"Orvane", 0x0414);
    EXPECT_STREQ(GetLangString(51), L"Downloading setup file...");
    EXPECT_STREQ(GetLangString(52), L"official");
    EXPECT_STREQ(GetLangString(50), L"Installasjonen starter automatisk om XXX sekunder.");
    EXPECT_STREQ(GetLangString(48), L"Avinstaller Orvane");

    SelectLanguage(L"Orvane", 0x0816);
    EXPECT_EQ(kLangTablePortuguese.count, 55u);
    EXPECT_STREQ(GetLangString(40),
                 L"Você precisa reiniciar o computador para instalar a nova versão. Deseja continuar?");
    EXPECT_STREQ(GetLangString(41), L"Reiniciar agora");
    EXPECT_STREQ(GetLangString(52), L"oficial");

    SelectLanguage(L"Orvane", 0x0403);  // Catalan reads the Spanish table
    EXPECT_STREQ(GetLangString(0), L"Instalar");
    EXPECT_STREQ(GetLangString(9), L"Iniciar Orvane");
}

// The chosen table for a table of LANGIDs, every text of it (with English
// under it), the widths, the code and the log line.
TEST_F(LangStringsTest, LanguageIdsSelectTheirTables) {
    struct Case {
        int langId;
        const char* code;
        const char* log;
    } cases[] = {
        {0x0409, "ENU", "Language is EN, id = 1033"},
        {0x0809, "ENU", "Language is EN, id = 2057"},
        {0x0408, "ENU", "Language is EN, id = 1032"},  // Greek: no table
        {0x041F, "ENU", "Language is EN, id = 1055"},  // Turkish: no table
        {0xFFFF, "ENU", "Language is EN, id = 65535"},
        {0x0404, "CHT", "Language is ZH(FanTi), id = 1028"},
        {0x0C04, "CHT", "Language is ZH(FanTi), id = 3076"},
        {0x1004, "CHT", "Language is ZH(FanTi), id = 4100"},  // Singapore: sub-language 4
        {0x1404, "CHT", "Language is ZH(FanTi), id = 5124"},
        {0x0804, "CHS", "Language is CHS(JianTi), id = 2052"},
        {0x0411, "JPN", "Language is JP(RiBen), id = 1041"},
        {0x040C, "FRA", "Language is FR(FaGuo), id = 1036"},
        {0x0C0C, "FRA", "Language is FR(FaGuo), id = 3084"},
        {0x0407, "GER", "Language is DE(DeGuo), id = 1031"},
        {0x0807, "GER", "Language is DE(DeGuo), id = 2055"},
        {0x0419, "RUS", "Language is RU(ErLuoSi), id = 1049"},
        {0x0405, "CSY", "Language is CZ(JieKe), id = 1029"},
        {0x0C0A, "ESP", "Language is SPANISH(XiBanYa), id = 3082"},
        {0x080A, "ESP", "Language is SPANISH(XiBanYa), id = 2058"},
        {0x0403, "ESP", "Language is CATALA(XiBanYa), id = 1027"},
        {0x040E, "HUN", "Language is HU(XiongYaLi), id = 1038"},
        {0x0410, "ITA", "Language is IT(YiDaLi), id = 1040"},
        {0x0413, "NLD", "Language is NL(HeLan), id = 1043"},
        {0x0813, "NLD", "Language is NL(HeLan), id = 2067"},
        {0x0414, "NOR", "Language is NO(NuoWei), id = 1044"},
        {0x0814, "NOR", "Language is NO(NuoWei), id = 2068"},
        {0x0415, "POL", "Language is PL(BoLan), id = 1045"},
        {0x0416, "BRA", "Language is PT(PuTaoYa), id = 1046"},
        {0x0816, "BRA", "Language is PT(PuTaoYa), id = 2070"},
        {0x041D, "SVE", "Language is SVE(RuiDian), id = 1053"},
    };
    const struct {
        const char* code;
        int widths[5];
    } widthRows[] = {
        {"ENU", {75, 165, 55, 320, 240}},   {"CHT", {52, 95, 52, 170, 180}},
        {"CHS", {52, 95, 52, 170, 180}},    {"JPN", {52, 165, 52, 295, 320}},
        {"FRA", {85, 220, 90, 420, 300}},   {"GER", {105, 190, 105, 450, 180}},
        {"RUS", {88, 360, 143, 400, 180}},  {"CSY", {90, 270, 90, 360, 300}},
        {"ESP", {80, 280, 80, 460, 180}},   {"HUN", {100, 220, 110, 410, 180}},
        {"ITA", {90, 270, 105, 480, 180}},  {"NLD", {103, 260, 103, 360, 180}},
        {"NOR", {65, 130, 75, 360, 200}},   {"POL", {85, 260, 72, 300, 180}},
        {"BRA", {75, 230, 85, 470, 180}},   {"SVE", {93, 160, 70, 320, 180}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        g_logLines.clear();
        EXPECT_EQ(SelectLanguage(L"Orvane", c.langId), 1);
        ASSERT_EQ(g_logLines.size(), 1u);
        EXPECT_EQ(g_logLines[0], c.log);
        EXPECT_EQ(GetLangCode(), c.code);

        const LangInfo* lang = nullptr;
        for (const LangInfo& l : kLangInfos) {
            if (std::string(l.code) == c.code) lang = &l;
        }
        ASSERT_NE(lang, nullptr);
        EXPECT_EQ(GetLangName(), lang->name);
        for (int id = 0; id < kLangStringCount; ++id) {
            EXPECT_EQ(GetLangString(id), ReplacePlaceholder(ShownText(*lang->table, id), L"Orvane")) << "id " << id;
        }
        for (const auto& row : widthRows) {
            if (std::string(row.code) != c.code) continue;
            for (int i = 0; i < 5; ++i) EXPECT_EQ(GetLangLayoutWidth(i), row.widths[i]) << "width " << i;
        }
        EXPECT_EQ(GetLangLayoutWidth(5), 0);
        EXPECT_EQ(GetLangLayoutWidth(-1), 0);
        EXPECT_STREQ(GetLangString(53), L"UnKnow");
        EXPECT_STREQ(GetLangString(-1), L"UnKnow");
    }
}

TEST_F(LangStringsTest, DebugConfigOverridesTheLanguage) {
    struct Case {
        const char* config;
        int langId;
        const char* code;
        const char* log;
    } cases[] = {
        {"setup_test_language=1041", 0, "JPN", "Language is JP(RiBen), id = 1041"},
        {"setup_test_language=1041", 0x0407, "JPN", "Language is JP(RiBen), id = 1041"},
        {"setup_test_language=2052", 0, "CHS", "Language is CHS(JianTi), id = 2052"},
        {"setup_test_language=0", 0x0407, "GER", "Language is DE(DeGuo), id = 1031"},
        {"setup_test_language=abc", 0x0407, "GER", "Language is DE(DeGuo), id = 1031"},
        {"setup_test_mode=1", 0x0415, "POL", "Language is PL(BoLan), id = 1045"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        DebugConfigFile config(c.config);
        g_logLines.clear();
        SelectLanguage(L"Orvane", c.langId);
        EXPECT_EQ(GetLangCode(), c.code);
        ASSERT_EQ(g_logLines.size(), 1u);
        EXPECT_EQ(g_logLines[0], c.log);
    }
    // The override never changes what the system's language is.
    DebugConfigFile japanese("setup_test_language=1041");
    SelectLanguage(L"Orvane", 0);
    EXPECT_EQ(GetLangCode(), "JPN");
    EXPECT_EQ(IsJapaneseSystem(), (GetSystemDefaultLangID() & 0x3FF) == 0x11);
}

TEST_F(LangStringsTest, ProductNameFillsThePlaceholderAndIsKeptFromTheFirstCall) {
    SelectLanguage(nullptr, 0x0409);
    EXPECT_STREQ(GetLangString(9), L"Start Demo");
    SelectLanguage(L"Orvane", 0x0409);
    EXPECT_STREQ(GetLangString(9), L"Start Orvane");
    EXPECT_STREQ(GetLangString(48), L"Uninstall Orvane");
    SelectLanguage(L"Other", 0x0409);
    SelectLanguage(nullptr, 0x0409);
    EXPECT_STREQ(GetLangString(9), L"Start Orvane");
    EXPECT_STREQ(GetLangString(50), L"Installation will start automatically in XXX seconds.");

    const LangEntry twice[] = {{9, L"__PRODUCT_NAME__ and __PRODUCT_NAME__"}, {60, L"x"}};
    const LangTable table = {twice, 2};
    LoadLangTable(&table);
    EXPECT_STREQ(GetLangString(9), L"Orvane and Orvane");
    EXPECT_STREQ(GetLangString(60), L"x");  // any id a loaded table holds
    LoadLangTable(nullptr);
    EXPECT_STREQ(GetLangString(9), L"Orvane and Orvane");
}

// A returned text stays valid and unchanged after the text of its id changed
// and was asked for again, and while other threads ask for texts at once.
TEST_F(LangStringsTest, ReturnedTextsStayValidAcrossChangesAndThreads) {
    SelectLanguage(L"Orvane", 0x0409);
    const wchar_t* first = GetLangString(9);
    const LangEntry changed[] = {{9, L"Run __PRODUCT_NAME__ now"}};
    const LangTable table = {changed, 1};
    LoadLangTable(&table);
    const wchar_t* second = GetLangString(9);
    EXPECT_STREQ(second, L"Run Orvane now");
    EXPECT_STREQ(first, L"Start Orvane");
    EXPECT_EQ(GetLangString(9), second);

    std::vector<std::wstring> expected;
    for (int id = 0; id < kLangStringCount; ++id) expected.push_back(GetLangString(id));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &expected, &wrong] {
            for (int i = 0; i < 20000; ++i) {
                const int id = (i * 7 + t) % kLangStringCount;
                if (expected[id] != GetLangString(id)) ++wrong[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// The real system language of this process, as the locale of the Wine
// process sets it; the locale runs in tests/setup/strings.cmake set the
// expectation, the plain run expects the harness's English.
TEST_F(LangStringsTest, SystemLanguageFollowsTheLocale) {
    const char* langId = std::getenv("ORVANE_EXPECT_LANGID");
    const char* code = std::getenv("ORVANE_EXPECT_LANG_CODE");
    const int expectedId = langId != nullptr ? static_cast<int>(std::strtol(langId, nullptr, 0)) : 0x0409;
    ASSERT_EQ(GetSystemDefaultLangID(), expectedId);
    SelectLanguage(L"Orvane", 0);
    EXPECT_EQ(GetLangCode(), code != nullptr ? code : "ENU");
    ASSERT_EQ(g_logLines.size(), 1u);
    EXPECT_NE(g_logLines[0].find("id = " + std::to_string(expectedId)), std::string::npos) << g_logLines[0];
    EXPECT_EQ(IsJapaneseSystem(), (expectedId & 0x3FF) == 0x11);
}
