// The user-interface texts in 16 languages and the choice of the language.
//
// English is always loaded first and the chosen language is laid over it, so
// a text a translation lacks stays English. Texts are asked for by number;
// "__PRODUCT_NAME__" in a text becomes the product name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Number of a user-interface text, 0 to 52.
typedef int32_t LangStringId;
inline constexpr LangStringId kLangStringCount = 53;

// One row of a string table.
struct LangEntry {
    int32_t id;
    const wchar_t* text;
};

// A built-in string table: its first row and its row count.
struct LangTable {
    const LangEntry* rows;
    size_t count;
};

// The host of the maker's web site as the texts 42 and 43 write it.
inline constexpr wchar_t kLangTextWebHost[] = L"www.tarvex.com";

// Chooses the language of langId (0: the system's default language; a
// non-zero "setup_test_language" of the debug configuration overrides both),
// logs the choice and loads its texts over the English ones. The first
// non-null productName is kept for the rest of the process. Returns 1.
int SelectLanguage(const wchar_t* productName, int langId);

// The text of id in the active language with the product name put in;
// "UnKnow" for an id no loaded table holds. The pointer stays valid for the
// life of the process, on any thread.
const wchar_t* GetLangString(LangStringId id);

// Copies the table's rows, in row order, over the active texts; a later row
// replaces an earlier one of the same id. A null table does nothing.
void LoadLangTable(const LangTable* table);

// Width in design pixels of the active language for index 0 (the Accept box),
// 1 (the licence link), 2 (the Join box), 3 (the programme link) or 4 (the
// Install button); 0 for any other index and before SelectLanguage.
int GetLangLayoutWidth(int index);

// "ENU", "CHT", ...; empty before SelectLanguage.
std::string GetLangCode();
// "English", ...; empty before SelectLanguage.
std::string GetLangName();

// The system's default language is Japanese (never the debug override).
bool IsJapaneseSystem();
