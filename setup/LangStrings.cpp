#include "LangStrings.h"

#include <windows.h>

#include <list>
#include <map>
#include <mutex>

#include "DebugConfig.h"
#include "lang/LangTables.h"
#include "Log.h"
#include "Text.h"

namespace {

// Widths of the Accept box, the licence link, the Join box, the programme
// link and the Install button, in the order of kLangInfos.
const int kLangLayoutWidths[kLangCount][kLangLayoutWidthCount] = {
    {75, 165, 55, 320, 240},   // ENU
    {52, 95, 52, 170, 180},    // CHT
    {52, 95, 52, 170, 180},    // CHS
    {52, 165, 52, 295, 320},   // JPN
    {85, 220, 90, 420, 300},   // FRA
    {105, 190, 105, 450, 180}, // GER
    {88, 360, 143, 400, 180},  // RUS
    {90, 270, 90, 360, 300},   // CSY
    {80, 280, 80, 460, 180},   // ESP
    {100, 220, 110, 410, 180}, // HUN
    {90, 270, 105, 480, 180},  // ITA
    {103, 260, 103, 360, 180}, // NLD
    {65, 130, 75, 360, 200},   // NOR
    {85, 260, 72, 300, 180},   // POL
    {75, 230, 85, 470, 180},   // BRA
    {93, 160, 70, 320, 180},   // SVE
};

enum LangIndex {
    kEnglish, kChineseTraditional, kChineseSimplified, kJapanese, kFrench, kGerman, kRussian, kCzech,
    kSpanish, kHungarian, kItalian, kDutch, kNorwegian, kPolish, kPortuguese, kSwedish,
};

constexpr wchar_t kProductNamePlaceholder[] = L"__PRODUCT_NAME__";
constexpr wchar_t kUnknownText[] = L"UnKnow";

// Everything the language choice keeps. The texts are read from the user
// interface, paint and worker threads, so one lock guards it all. Every text
// handed out is kept for the life of the process: a caller may hold the
// pointer while another thread asks for the same id.
struct LangState {
    std::mutex lock;
    std::map<int32_t, const wchar_t*> g_mapActiveLang;
    // Every distinct result given out per id; entries are only ever added,
    // and list nodes never move.
    std::map<int32_t, std::list<std::wstring>> g_mapLangCache;
    std::wstring g_strLangProductName = L"Demo";
    bool productNameStored = false;
    std::string g_strLangName;
    std::string g_strLangCode;
    const int* g_pLangLayoutRow = nullptr;
};

LangState& State() {
    static LangState state;
    return state;
}

// Caller holds the lock.
void LoadLangTableLocked(LangState& state, const LangTable* table) {
    if (table == nullptr || table->rows == nullptr) return;
    for (size_t i = 0; i < table->count; ++i) {
        state.g_mapActiveLang[table->rows[i].id] = table->rows[i].text;
    }
}

}  // namespace

const LangInfo kLangInfos[kLangCount] = {
    {"English", "ENU", "Language is EN, id = %d", &kLangTableEnglish, kLangLayoutWidths[kEnglish]},
    {"Chinese(Traditional)", "CHT", "Language is ZH(FanTi), id = %d", &kLangTableChineseTraditional,
     kLangLayoutWidths[kChineseTraditional]},
    {"Chinese(Simplified)", "CHS", "Language is CHS(JianTi), id = %d", &kLangTableChineseSimplified,
     kLangLayoutWidths[kChineseSimplified]},
    {"Japanese", "JPN", "Language is JP(RiBen), id = %d", &kLangTableJapanese, kLangLayoutWidths[kJapanese]},
    {"French", "FRA", "Language is FR(FaGuo), id = %d", &kLangTableFrench, kLangLayoutWidths[kFrench]},
    {"German", "GER", "Language is DE(DeGuo), id = %d", &kLangTableGerman, kLangLayoutWidths[kGerman]},
    {"Russian", "RUS", "Language is RU(ErLuoSi), id = %d", &kLangTableRussian, kLangLayoutWidths[kRussian]},
    {"Czech", "CSY", "Language is CZ(JieKe), id = %d", &kLangTableCzech, kLangLayoutWidths[kCzech]},
    {"Spanish", "ESP", "Language is SPANISH(XiBanYa), id = %d", &kLangTableSpanish, kLangLayoutWidths[kSpanish]},
    {"Hungarian", "HUN", "Language is HU(XiongYaLi), id = %d", &kLangTableHungarian,
     kLangLayoutWidths[kHungarian]},
    {"Italian", "ITA", "Language is IT(YiDaLi), id = %d", &kLangTableItalian, kLangLayoutWidths[kItalian]},
    {"Dutch", "NLD", "Language is NL(HeLan), id = %d", &kLangTableDutch, kLangLayoutWidths[kDutch]},
    {"Norwegian", "NOR", "Language is NO(NuoWei), id = %d", &kLangTableNorwegian, kLangLayoutWidths[kNorwegian]},
    {"Polish", "POL", "Language is PL(BoLan), id = %d", &kLangTablePolish, kLangLayoutWidths[kPolish]},
    {"Portuguese", "BRA", "Language is PT(PuTaoYa), id = %d", &kLangTablePortuguese,
     kLangLayoutWidths[kPortuguese]},
    {"Swedish", "SVE", "Language is SVE(RuiDian), id = %d", &kLangTableSwedish, kLangLayoutWidths[kSwedish]},
};

const LangInfo& ChooseLanguage(uint16_t langId, const char** logFormat) {
    const int primary = langId & 0x3FF;
    const int sub = langId >> 10;
    int index = kEnglish;
    switch (primary) {
        case 0x04: index = sub == 2 ? kChineseSimplified : kChineseTraditional; break;
        case 0x11: index = kJapanese; break;
        case 0x0C: index = kFrench; break;
        case 0x07: index = kGerman; break;
        case 0x19: index = kRussian; break;
        case 0x05: index = kCzech; break;
        case 0x0A: index = kSpanish; break;
        case 0x03: index = kSpanish; break;  // Catalan
        case 0x0E: index = kHungarian; break;
        case 0x10: index = kItalian; break;
        case 0x13: index = kDutch; break;
        case 0x14: index = kNorwegian; break;
        case 0x15: index = kPolish; break;
        case 0x16: index = kPortuguese; break;
        case 0x1D: index = kSwedish; break;
        default: break;
    }
    const LangInfo& info = kLangInfos[index];
    if (logFormat != nullptr) {
        *logFormat = primary == 0x03 ? "Language is CATALA(XiBanYa), id = %d" : info.logFormat;
    }
    return info;
}

int SelectLanguage(const wchar_t* productName, int langId) {
    if (langId == 0) langId = GetSystemDefaultLangID();
    const int testLanguage = ReadDebugConfigInt(L"setup_test_language");
    if (testLanguage != 0) langId = testLanguage;

    const uint16_t langId16 = static_cast<uint16_t>(langId);
    const char* logFormat = nullptr;
    const LangInfo& info = ChooseLanguage(langId16, &logFormat);
    WriteLog(logFormat, static_cast<int>(langId16));

    LangState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (productName != nullptr && !state.productNameStored) {
        state.g_strLangProductName = productName;
        state.productNameStored = true;
    }
    LoadLangTableLocked(state, &kLangTableEnglish);
    LoadLangTableLocked(state, info.table);
    state.g_pLangLayoutRow = info.widths;
    state.g_strLangName = info.name;
    state.g_strLangCode = info.code;
    return 1;
}

void LoadLangTable(const LangTable* table) {
    LangState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    LoadLangTableLocked(state, table);
}

const wchar_t* GetLangString(LangStringId id) {
    LangState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    const auto entry = state.g_mapActiveLang.find(id);
    if (entry == state.g_mapActiveLang.end() || entry->second == nullptr) return kUnknownText;

    std::wstring text = entry->second;
    ReplaceAll(text, kProductNamePlaceholder, state.g_strLangProductName);
    std::list<std::wstring>& given = state.g_mapLangCache[id];
    for (const std::wstring& kept : given) {
        if (kept == text) return kept.c_str();
    }
    given.push_back(std::move(text));
    return given.back().c_str();
}

int GetLangLayoutWidth(int index) {
    if (index < 0 || index >= kLangLayoutWidthCount) return 0;
    LangState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.g_pLangLayoutRow != nullptr ? state.g_pLangLayoutRow[index] : 0;
}

std::string GetLangCode() {
    LangState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.g_strLangCode;
}

std::string GetLangName() {
    LangState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.g_strLangName;
}

bool IsJapaneseSystem() { return (GetSystemDefaultLangID() & 0x3FF) == 0x11; }
