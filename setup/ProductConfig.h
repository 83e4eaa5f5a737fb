// The compiled-in definition of the one product this installer installs:
// names, folders, executables, web addresses, statistics endpoint, lists and
// the Install button's colours. Nothing here reads a file, the registry or the
// command line; every function returns a new value on each call.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Colours (0x00BBGGRR) of the Install button, each group in control-state
// order: normal, hover, pressed, disabled.
struct InstallButtonColors {
    COLORREF text[4];
    COLORREF border[4];
    COLORREF fill[4];
};

namespace ProductConfig {

std::string GetProductName();    // "Orvane"
std::wstring GetProductNameW();
std::string GetProductKey();     // "orvane", the product key of the statistics
std::string GetMakerName();      // "Tarvex"
std::wstring GetMakerNameW();
std::string GetMakerRegistryName();  // the maker's key below "Software\"

// The maker's folder and the product's folder: "Tarvex\Orvane" (the product
// name alone when the maker name is empty).
std::string GetProductFolder();
std::wstring GetProductFolderW();

// The product's executable of the 32-bit and of the 64-bit build.
std::wstring GetMainExeNameW();
std::string GetMainExeName();
std::wstring GetMainExeNameX64W();
std::string GetMainExeNameX64();

// How many 100 ms polls the base install step waits for the executable.
int GetMainExeWaitCount();
// 2: a 64-bit product's uninstall key and display name get " (x64)".
int GetX64NamingMode();
// Bits of the Windows versions the product supports.
int GetSupportedOsMask();
// The statistics' client id: "204" for the 64-bit product, else "203".
std::string GetPlatformId(bool x64);

std::string GetStatsPostUrl();
// The analytics service the statistics reporter fetches its client data from.
std::string GetWebStatsUrl();
std::wstring GetMakerHostW();    // host of the maker's web site
std::string GetMakerDomain();

// Web pages. Each ends with the query key "v" and an empty value: the caller
// appends the product version (and further client parameters).
std::string GetThankYouUrlX86(bool downloadMode);
std::string GetThankYouUrlX64(bool downloadMode);
std::string GetHomeUrl();
std::string GetLicenseUrl();
std::string GetUxProgramUrl();

// Another product whose uninstall key selects the related thank-you pages;
// this product has none, so all of these are empty.
std::string GetRelatedUninstallKey();
std::string GetRelatedThankYouUrl(bool downloadMode);
std::string GetRelatedThankYouUrlX64(bool downloadMode);
std::string GetRelatedSilentThankYouUrl();
std::string GetRelatedSilentThankYouUrlX64();

// Names of the product's processes, ended before an install.
std::vector<std::wstring> GetProductProcessNames();
// The product's sibling files that an install moves aside and an uninstall
// deletes: an updater and three libraries.
std::vector<std::wstring> GetHelperFileNames();

InstallButtonColors GetInstallButtonColors();
// Whether the version label puts the product name before the version.
bool ShowNameInVersionLabel();

// Cuts text at every occurrence of the delimiter. Two delimiters in a row give
// an empty piece, a trailing delimiter gives no empty last piece; an empty
// text or an empty delimiter gives an empty list.
std::vector<std::wstring> SplitList(const std::wstring& text, const std::wstring& delimiter);

}  // namespace ProductConfig
