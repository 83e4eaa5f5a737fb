// The built-in string tables, one per language, and the table of languages
// that the language choice walks.
#pragma once

#include "LangStrings.h"

extern const LangTable kLangTableEnglish;
extern const LangTable kLangTableChineseTraditional;
extern const LangTable kLangTableChineseSimplified;
extern const LangTable kLangTableJapanese;
extern const LangTable kLangTableFrench;
extern const LangTable kLangTableGerman;
extern const LangTable kLangTableRussian;
extern const LangTable kLangTableCzech;
extern const LangTable kLangTableSpanish;
extern const LangTable kLangTableHungarian;
extern const LangTable kLangTableItalian;
extern const LangTable kLangTableDutch;
extern const LangTable kLangTableNorwegian;
extern const LangTable kLangTablePolish;
extern const LangTable kLangTablePortuguese;
extern const LangTable kLangTableSwedish;

// Widths of the language-dependent controls, see GetLangLayoutWidth.
inline constexpr int kLangLayoutWidthCount = 5;
typedef int LangLayoutRow[kLangLayoutWidthCount];

// One language of the choice.
struct LangInfo {
    const char* name;        // "English", ...
    const char* code;        // "ENU", ...; reported by the statistics
    const char* logFormat;   // the choice's log line, argument: the LANGID
    const LangTable* table;
    const int* widths;       // kLangLayoutWidthCount widths
};

inline constexpr size_t kLangCount = 16;
// In the order English, Chinese (traditional), Chinese (simplified), Japanese,
// French, German, Russian, Czech, Spanish, Hungarian, Italian, Dutch,
// Norwegian, Polish, Portuguese, Swedish.
extern const LangInfo kLangInfos[kLangCount];

// The language a LANGID selects (English for every unknown one) and the log
// line format of that choice (Catalan has its own line).
const LangInfo& ChooseLanguage(uint16_t langId, const char** logFormat);
