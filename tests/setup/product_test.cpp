#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "ProductConfig.h"
#include "ProductInfo.h"
#include "SystemInfo.h"

namespace {

void ExpectVariant(const IProductInfo& info, bool x64) {
    EXPECT_EQ(info.IsX64(), x64);
    EXPECT_STREQ(info.GetInternalName(), x64 ? "Orvane_x64" : "Orvane");
    EXPECT_STREQ(info.GetBitnessDisplayName(), x64 ? "Orvane (x64)" : "Orvane");
    EXPECT_EQ(info.GetLogoBitmapId(), x64 ? 187 : 138);
    EXPECT_EQ(info.GetLogoAltBitmapId(), x64 ? 188 : 139);

    EXPECT_TRUE(std::regex_match(std::string(info.GetProductGuid()),
                                 std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})")))
        << info.GetProductGuid();
    EXPECT_STREQ(info.GetDownloadUrl(), "");
    EXPECT_STREQ(info.GetSpareText(), "");
    EXPECT_STREQ(info.GetDisplayName(), "Orvane");
    EXPECT_STREQ(info.GetInstallFolderName(), "Orvane");
    EXPECT_STREQ(info.GetVersion(), "1.0.0.0");
    const std::string publisher = info.GetPublisherText();
    EXPECT_FALSE(publisher.empty());
    EXPECT_EQ(publisher.find_first_of("\r\n"), std::string::npos);
    EXPECT_STREQ(info.GetSpareWideText(), L"");
    EXPECT_STREQ(info.GetProductName(), "Orvane");
}

}  // namespace

// The process-wide description follows the bitness of Windows. The plain run
// is in the harness's 64-bit prefix; tests/setup/product.cmake runs this case
// again in a 32-bit prefix with the expectation set to 32.
TEST(ProductInfoTest, ProcessWideDescriptionFollowsWindowsBitness) {
    const char* bits = std::getenv("ORVANE_EXPECT_WINDOWS_BITS");
    const bool expect64 = bits == nullptr || std::string(bits) == "64";
    ASSERT_EQ(Is64BitWindows(), expect64);
    std::shared_ptr<IProductInfo>& info = GetProductInfo();
    ASSERT_TRUE(info);
    ExpectVariant(*info, expect64);
    EXPECT_EQ(&GetProductInfo(), &info);
    EXPECT_EQ(GetProductInfo().get(), info.get());
}

TEST(ProductInfoTest, CreateProductInfoMakesTheVariantOfItsFlag) {
    const struct {
        int is64;
        bool x64;
    } cases[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
    std::string guid;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.is64);
        std::shared_ptr<IProductInfo> info;
        EXPECT_EQ(CreateProductInfo(info, c.is64), 0);
        ASSERT_TRUE(info);
        ExpectVariant(*info, c.x64);
        if (guid.empty()) guid = info->GetProductGuid();
        EXPECT_EQ(guid, info->GetProductGuid());  // one product, one GUID
    }
}

TEST(ProductConfigTest, NamesFoldersAndSwitches) {
    using namespace ProductConfig;
    EXPECT_EQ(GetProductName(), "Orvane");
    EXPECT_EQ(GetProductNameW(), L"Orvane");
    EXPECT_EQ(GetProductKey(), "orvane");
    EXPECT_EQ(GetMakerName(), "Tarvex");
    EXPECT_EQ(GetMakerNameW(), L"Tarvex");
    EXPECT_EQ(GetMakerRegistryName(), "Tarvex");
    EXPECT_EQ(GetProductFolder(), "Tarvex\\Orvane");
    EXPECT_EQ(GetProductFolderW(), L"Tarvex\\Orvane");
    EXPECT_EQ(GetMainExeNameW(), L"orvane.exe");
    EXPECT_EQ(GetMainExeName(), "orvane.exe");
    EXPECT_EQ(GetMainExeNameX64W(), L"orvane.exe");
    EXPECT_EQ(GetMainExeNameX64(), "orvane.exe");
    EXPECT_EQ(GetMainExeWaitCount(), 1800);
    EXPECT_EQ(GetX64NamingMode(), 2);
    EXPECT_EQ(GetSupportedOsMask(), 0xFF);
    EXPECT_EQ(GetPlatformId(true), "204");
    EXPECT_EQ(GetPlatformId(false), "203");
    EXPECT_FALSE(ShowNameInVersionLabel());
    EXPECT_EQ(GetProductProcessNames(), std::vector<std::wstring>{L"orvane.exe"});
    const std::vector<std::wstring> helpers = GetHelperFileNames();
    ASSERT_EQ(helpers.size(), 4u);
    EXPECT_EQ(helpers[0].substr(helpers[0].size() - 4), L".exe");
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(helpers[i].substr(helpers[i].size() - 4), L".dll");
}

// Every address as the installer opens or posts to it: the caller appends the
// version after the closing "v=".
TEST(ProductConfigTest, WebAddresses) {
    using namespace ProductConfig;
    const std::string host = "www.tarvex.com";
    EXPECT_EQ(GetMakerHostW(), L"www.tarvex.com");
    EXPECT_EQ(GetMakerDomain(), "tarvex.com");
    const struct {
        std::string actual;
        std::string expected;
    } cases[] = {
        {GetThankYouUrlX86(false), "http://" + host + "/thankyou.htm?s=orvane&ad=orvane_client_x86_thankyou&v="},
        {GetThankYouUrlX86(true),
         "http://" + host + "/thankyou.htm?s=orvane&ad=orvane_client_x86_thankyou&downloadmode=1&v="},
        {GetThankYouUrlX64(false),
         "https://" + host + "/thankyou.htm?s=orvane&platform=x64&ad=orvane_client_x64_thankyou&v="},
        {GetThankYouUrlX64(true),
         "https://" + host + "/thankyou.htm?s=orvane&platform=x64&ad=orvane_client_x64_thankyou&downloadmode=1&v="},
        {GetHomeUrl(), "http://" + host + "/?s=orvane&v="},
        {GetLicenseUrl(), "http://" + host + "/tarvex-user-license-agreement.htm?s=orvane&ad=orvane_client&v="},
        {GetUxProgramUrl(), "http://" + host + "/u-experience.htm?s=orvane&ad=orvane_client&v="},
        {GetStatsPostUrl(), "https://stats.tarvex.com/api/common_json_post/"},
        {GetWebStatsUrl(), "https://tarvex.com"},
        {GetRelatedUninstallKey(), ""},
        {GetRelatedThankYouUrl(false), ""},
        {GetRelatedThankYouUrl(true), ""},
        {GetRelatedThankYouUrlX64(false), ""},
        {GetRelatedThankYouUrlX64(true), ""},
        {GetRelatedSilentThankYouUrl(), ""},
        {GetRelatedSilentThankYouUrlX64(), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(ProductConfigTest, InstallButtonColours) {
    const InstallButtonColors colors = ProductConfig::GetInstallButtonColors();
    const COLORREF text[4] = {0xA74747, 0xFFFFFF, 0xFFFFFF, 0xD7D7D7};
    const COLORREF border[4] = {0xA74747, 0xA74747, 0xA74747, 0xD77DD7};
    const COLORREF fill[4] = {0xFFE9E9, 0xA74747, 0xA74747, 0xD700D7};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(colors.text[i], text[i]) << i;
        EXPECT_EQ(colors.border[i], border[i]) << i;
        EXPECT_EQ(colors.fill[i], fill[i]) << i;
    }
}

TEST(ProductConfigTest, SplitList) {
    using List = std::vector<std::wstring>;
    const struct {
        const wchar_t* text;
        const wchar_t* delimiter;
        List pieces;
    } cases[] = {
        {L"orvane.exe", L",", {L"orvane.exe"}},
        {L"a,b,c", L",", {L"a", L"b", L"c"}},
        {L"a,,b", L",", {L"a", L"", L"b"}},
        {L"a,b,", L",", {L"a", L"b"}},
        {L",a", L",", {L"", L"a"}},
        {L",", L",", {L""}},
        {L"", L",", {}},
        {L"a,b", L"", {}},
        {L"a::b::::c", L"::", {L"a", L"b", L"", L"c"}},
        {L"a:b", L"::", {L"a:b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProductConfig::SplitList(c.text, c.delimiter), c.pieces) << "\"" << c.text << "\"";
    }
}
