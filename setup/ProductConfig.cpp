#include "ProductConfig.h"

#include "Text.h"

namespace {

constexpr char kProductName[] = "Orvane";
constexpr char kProductKey[] = "orvane";
constexpr char kMakerName[] = "Tarvex";
constexpr char kMainExeName[] = "orvane.exe";
constexpr char kMainExeNameX64[] = "orvane.exe";

constexpr wchar_t kMakerHost[] = L"www.tarvex.com";
constexpr char kMakerDomain[] = "tarvex.com";
constexpr char kStatsHost[] = "stats.tarvex.com";
// The product's short key on the maker's web site ("s" and "ad" query values).
constexpr char kWebKey[] = "orvane";

constexpr wchar_t kProductProcessNames[] = L"orvane.exe";
constexpr wchar_t kHelperFileNames[] = L"orvane_update.exe,orvane_core.dll,orvane_net.dll,orvane_ui.dll";

std::string WebHost() { return WideToNarrow(std::wstring(kMakerHost)); }

std::string ThankYouUrl(const char* scheme, const char* platformQuery, const char* adSuffix, bool downloadMode) {
    std::string url = std::string(scheme) + "://" + WebHost() + "/thankyou.htm?s=" + kWebKey;
    url += platformQuery;
    url += std::string("&ad=") + kWebKey + adSuffix;
    if (downloadMode) url += "&downloadmode=1";
    return url + "&v=";
}

}  // namespace

namespace ProductConfig {

std::string GetProductName() { return kProductName; }
std::wstring GetProductNameW() { return NarrowToWide(kProductName); }
std::string GetProductKey() { return kProductKey; }
std::string GetMakerName() { return kMakerName; }
std::wstring GetMakerNameW() { return NarrowToWide(kMakerName); }
std::string GetMakerRegistryName() { return kMakerName; }

std::string GetProductFolder() {
    std::string folder;
    const std::string maker = GetMakerName();
    if (!maker.empty()) folder = maker + "\\";
    return folder + GetProductName();
}

std::wstring GetProductFolderW() { return NarrowToWide(GetProductFolder()); }

std::wstring GetMainExeNameW() { return NarrowToWide(kMainExeName); }
std::string GetMainExeName() { return kMainExeName; }
std::wstring GetMainExeNameX64W() { return NarrowToWide(kMainExeNameX64); }
std::string GetMainExeNameX64() { return kMainExeNameX64; }

int GetMainExeWaitCount() { return 1800; }
int GetX64NamingMode() { return 2; }
int GetSupportedOsMask() { return 0xFF; }
std::string GetPlatformId(bool x64) { return x64 ? "204" : "203"; }

std::string GetStatsPostUrl() {
#ifdef ORVANE_LOCAL_STATS_URL
    // A build for the local mirrors reports to the loopback statistics service.
    return ORVANE_LOCAL_STATS_URL;
#else
    return std::string("https://") + kStatsHost + "/api/common_json_post/";
#endif
}
std::string GetWebStatsUrl() {
#ifdef ORVANE_LOCAL_WEBSTATS_URL
    // ... and asks the loopback analytics service for its client data.
    return ORVANE_LOCAL_WEBSTATS_URL;
#else
    return std::string("https://") + kMakerDomain;
#endif
}
std::wstring GetMakerHostW() { return kMakerHost; }
std::string GetMakerDomain() { return kMakerDomain; }

std::string GetThankYouUrlX86(bool downloadMode) {
    return ThankYouUrl("http", "", "_client_x86_thankyou", downloadMode);
}

std::string GetThankYouUrlX64(bool downloadMode) {
    return ThankYouUrl("https", "&platform=x64", "_client_x64_thankyou", downloadMode);
}

std::string GetHomeUrl() { return "http://" + WebHost() + "/?s=" + kWebKey + "&v="; }

std::string GetLicenseUrl() {
    return "http://" + WebHost() + "/tarvex-user-license-agreement.htm?s=" + kWebKey + "&ad=" + kWebKey +
           "_client&v=";
}

std::string GetUxProgramUrl() {
    return "http://" + WebHost() + "/u-experience.htm?s=" + kWebKey + "&ad=" + kWebKey + "_client&v=";
}

std::string GetRelatedUninstallKey() { return ""; }
std::string GetRelatedThankYouUrl(bool) { return ""; }
std::string GetRelatedThankYouUrlX64(bool) { return ""; }
std::string GetRelatedSilentThankYouUrl() { return ""; }
std::string GetRelatedSilentThankYouUrlX64() { return ""; }

std::vector<std::wstring> GetProductProcessNames() { return SplitList(kProductProcessNames, L","); }
std::vector<std::wstring> GetHelperFileNames() { return SplitList(kHelperFileNames, L","); }

InstallButtonColors GetInstallButtonColors() {
    return InstallButtonColors{
        {0xA74747, 0xFFFFFF, 0xFFFFFF, 0xD7D7D7},
        {0xA74747, 0xA74747, 0xA74747, 0xD77DD7},
        {0xFFE9E9, 0xA74747, 0xA74747, 0xD700D7},
    };
}

bool ShowNameInVersionLabel() { return false; }

std::vector<std::wstring> SplitList(const std::wstring& text, const std::wstring& delimiter) {
    std::vector<std::wstring> pieces;
    if (delimiter.empty()) return pieces;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t match = text.find(delimiter, pos);
        if (match == std::wstring::npos) {
            pieces.push_back(text.substr(pos));
            break;
        }
        pieces.push_back(text.substr(pos, match - pos));
        pos = match + delimiter.size();
    }
    return pieces;
}

}  // namespace ProductConfig
