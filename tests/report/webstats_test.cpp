// The analytics client against the loopback analytics service.
#include <winsock2.h>
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "ReportTestSupport.h"
#include "TestSupport.h"
#include "Text.h"
#include "WebStatsManager.h"

using namespace report_test;
using testing_support::ReadFileBytes;
using testing_support::ScratchFolder;
using testing_support::WriteFileBytes;
using Clock = std::chrono::steady_clock;

namespace {

const char kCacheName[] = "5d0c6f2e-8a4b-4c71-9e3d-b27f14a6c958";

class WebStatsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetService(ClientAnalyticsUrl()); }

    WebStatsConfig Config() const {
        WebStatsConfig config;
        config.strMachineId = "00-11-22-33-44-55";
        config.strDomain = "tarvex.example";
        config.strCacheFolder = WideToNarrow(folder_.path()) + "\\";
        config.eproduct = 3;
        config.strServiceUrl = ClientAnalyticsUrl();
        return config;
    }

    // One check as the reporter runs it; the client's data afterwards.
    static std::string Check(const WebStatsConfig& config, double* seconds = nullptr) {
        std::shared_ptr<IWebStatsManager> client;
        EXPECT_TRUE(CreateWebStatsManager(config, client));
        EXPECT_TRUE(client->Init());
        auto start = Clock::now();
        client->CheckNewVersion();
        while (!client->IsCheckFinished() && Clock::now() - start < std::chrono::seconds(60)) Sleep(50);
        if (seconds) *seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::string data = client->GetData();
        EXPECT_TRUE(client->JoinThreads());
        return data;
    }

    std::wstring CachePath() const { return folder_ / NarrowToWide(kCacheName); }

    ScratchFolder folder_{L"webstats"};
};

TEST_F(WebStatsTest, RequestAsSentAndDataRewritten) {
    SetBehaviour(ClientAnalyticsUrl(),
                 R"({"data":{"api_version":7,"user_info":{"token_id":"tk","email":""},)"
                 R"("download_info":[{"pid":"1830","name":"L","urls":[{"url_simple":"u","url_simple_nodomain":"n","date":"d"}]}]}})");
    std::shared_ptr<IWebStatsManager> client;
    ASSERT_TRUE(CreateWebStatsManager(Config(), client));
    EXPECT_TRUE(client->IsCheckFinished());  // before any check
    client.reset();

    EXPECT_EQ(Check(Config()),
              R"({"api_version":7,"user_info":{"token_id":"tk","email":""},"related_product":1830,)"
              R"("url_simple":"u","url_simple_nodomain":"n","visit_time":"d","related_product_name":["L"],)"
              R"("related_products_all":[{"related_product":1830,"related_product_name":"L","url_simple":"u",)"
              R"("url_simple_nodomain":"n","visit_time":"d"}]})");

    auto requests = Requests(ClientAnalyticsUrl());
    ASSERT_EQ(requests.size(), 1u);
    const CJsonObject& request = requests[0];
    EXPECT_EQ(Text(request, "method"), "POST");
    EXPECT_EQ(Text(request, "path"), "/v2/client/userinfo");
    CJsonObject headers;
    ASSERT_TRUE(request.Get("headers", headers));
    EXPECT_EQ(Text(headers, "content-type"), "application/json");
    EXPECT_EQ(Text(headers, "charsets"), "utf-8");
    EXPECT_EQ(Text(headers, "user-agent"), "utilities");
    EXPECT_EQ(Text(request, "body"),
              R"({"machine_id":"00-11-22-33-44-55", "email":"", "domain":"tarvex.example", "app_id":"", "app_platform":""})");
    // Without the save flag nothing is written.
    EXPECT_FALSE(testing_support::FileExists(CachePath()));
}

// A quote or backslash in a value stays inside its JSON string.
TEST_F(WebStatsTest, ValuesAreEscapedInTheBody) {
    WebStatsConfig config = Config();
    config.strMachineId = "id\",\"injected\":\"1";
    config.strDomain = "back\\slash\ttab";
    Check(config);
    auto requests = Requests(ClientAnalyticsUrl());
    ASSERT_EQ(requests.size(), 1u);
    bool parsed = false;
    ASSERT_TRUE(requests[0].Get("json_ok", parsed));
    EXPECT_TRUE(parsed) << Text(requests[0], "body");
    std::vector<Leaf> expected = {{"machine_id", "s", "id\",\"injected\":\"1"},
                                  {"email", "s", ""},
                                  {"domain", "s", "back\\slash\ttab"},
                                  {"app_id", "s", ""},
                                  {"app_platform", "s", ""}};
    EXPECT_EQ(Leaves(requests[0]), expected);
}

// A broken first reply leaves nothing behind: the second attempt's reply alone is read.
TEST_F(WebStatsTest, FailedAttemptLeavesNothingOfItsReply) {
    SetBehaviour(ClientAnalyticsUrl(), R"({"fail_first":1,"fail_mode":"partial","data":{"api_version":2}})");
    EXPECT_EQ(Check(Config()), R"({"api_version":2})");
    EXPECT_EQ(Requests(ClientAnalyticsUrl()).size(), 2u);
}

TEST_F(WebStatsTest, ThreeAttemptsThenTheCacheStays) {
    ASSERT_TRUE(WriteFileBytes(CachePath(), R"({"api_version":1,"cached":true})"));
    SetBehaviour(ClientAnalyticsUrl(), R"({"mode":"drop"})");
    EXPECT_EQ(Check(Config()), R"({"api_version":1,"cached":true})");
    EXPECT_EQ(Requests(ClientAnalyticsUrl()).size(), 3u);
}

// Replies the client must not take: each leaves the cached data.
TEST_F(WebStatsTest, WrongRepliesKeepTheCache) {
    const std::string cached = R"({"api_version":1,"related_product":818})";
    for (const char* behaviour : {R"({"cscode":1})", R"({"no_data":true})", R"({"mode":"garbage"})",
                                  R"({"mode":"empty"})", R"({"data":{"user_info":{}}})", R"({"mode":"huge"})",
                                  R"({"data":{"api_version":1,"download_info":[]}})"}) {
        ResetService(ClientAnalyticsUrl());
        ASSERT_TRUE(WriteFileBytes(CachePath(), cached));
        SetBehaviour(ClientAnalyticsUrl(), behaviour);
        EXPECT_EQ(Check(Config()), cached) << behaviour;
    }
}

// Only a cache that holds the same "api_version" is kept: a cache without one
// is replaced even by a reply of version 0, the value a missing one reads as.
TEST_F(WebStatsTest, CacheWithoutAVersionIsReplacedByAnyVersion) {
    for (const char* version : {"0", "6"}) {
        ResetService(ClientAnalyticsUrl());
        ASSERT_TRUE(WriteFileBytes(CachePath(), R"({"cached":true})"));
        SetBehaviour(ClientAnalyticsUrl(), std::string(R"({"data":{"api_version":)") + version + "}}");
        const std::string data = Check(Config());
        EXPECT_THAT(data, ::testing::HasSubstr(std::string("\"api_version\":") + version)) << version;
        EXPECT_THAT(data, ::testing::Not(::testing::HasSubstr("cached"))) << version;
    }
}

TEST_F(WebStatsTest, CacheWrittenThenReadAndReplacedOnANewVersion) {
    WebStatsConfig config = Config();
    config.bSaveCache = true;
    config.eproduct = 5;
    SetBehaviour(ClientAnalyticsUrl(), R"({"data":{"api_version":4,"download_info":[{"pid":"818","name":"S"}]}})");
    std::string first = Check(config);
    EXPECT_THAT(first, ::testing::HasSubstr("\"related_product\":818"));
    EXPECT_EQ(ReadFileBytes(CachePath()), first);

    // Same version: the cache, with its earlier related keys, stays as it is.
    SetBehaviour(ClientAnalyticsUrl(), R"({"data":{"api_version":4,"download_info":[]}})");
    EXPECT_EQ(Check(config), first);
    EXPECT_EQ(ReadFileBytes(CachePath()), first);

    // A new version replaces it.
    SetBehaviour(ClientAnalyticsUrl(), R"({"data":{"api_version":5,"download_info":[{"pid":"819","name":"T"}]}})");
    std::string second = Check(config);
    EXPECT_THAT(second, ::testing::HasSubstr("\"api_version\":5,\"related_product\":819"));
    EXPECT_EQ(ReadFileBytes(CachePath()), second);
}

TEST_F(WebStatsTest, EmptyCacheFolderMeansTheCurrentDirectory) {
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.path().c_str()));
    WebStatsConfig config = Config();
    config.strCacheFolder.clear();
    config.strServiceUrl = UnusedUrl();
    ASSERT_TRUE(WriteFileBytes(CachePath(), R"({"here":1})"));
    WebStatsManager client(config);
    EXPECT_EQ(client.GetCacheFilePath(), kCacheName);
    EXPECT_EQ(client.GetData(), R"({"here":1})");
    SetCurrentDirectoryW(previous);
}

TEST_F(WebStatsTest, OversizedCacheFileIsIgnored) {
    ASSERT_TRUE(WriteFileBytes(CachePath(), "{\"pad\":\"" + std::string(2 * 1024 * 1024, 'x') + "\"}"));
    WebStatsConfig config = Config();
    config.strServiceUrl = UnusedUrl();
    WebStatsManager client(config);
    EXPECT_EQ(client.GetData(), "");
}

// A stalled service: the deadline ends the check, and JoinThreads ends a
// stalled transfer at once instead of waiting for it.
TEST_F(WebStatsTest, StalledServiceIsBounded) {
    SetBehaviour(ClientAnalyticsUrl(), R"({"mode":"stall","stall_ms":30000})");
    WebStatsConfig config = Config();
    config.deadline = Clock::now() + std::chrono::seconds(2);
    double seconds = 0;
    EXPECT_EQ(Check(config, &seconds), "");
    EXPECT_LT(seconds, 4.0);
    EXPECT_GE(seconds, 1.5);

    std::shared_ptr<IWebStatsManager> client;
    ASSERT_TRUE(CreateWebStatsManager(Config(), client));
    client->CheckNewVersion();
    Sleep(500);
    EXPECT_FALSE(client->IsCheckFinished());
    auto start = Clock::now();
    EXPECT_TRUE(client->JoinThreads());
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.5);
    EXPECT_TRUE(client->IsCheckFinished());
}

TEST_F(WebStatsTest, UnreachableServiceGivesTheCache) {
    ASSERT_TRUE(WriteFileBytes(CachePath(), R"({"api_version":9})"));
    WebStatsConfig config = Config();
    config.strServiceUrl = UnusedUrl();
    double seconds = 0;
    EXPECT_EQ(Check(config, &seconds), R"({"api_version":9})");
    EXPECT_LT(seconds, 5.0);
}

TEST_F(WebStatsTest, OptionTryDataCarriesTheToken) {
    ASSERT_TRUE(WriteFileBytes(CachePath(), R"({"api_version":1,"user_info":{"token_id":"T-1","email":"e"}})"));
    WebStatsManager client(Config());
    EXPECT_EQ(client.GetTokenId(), "T-1");
    OptionTryData data;
    data.nProductId = 1830;
    data.strProductName = "Lumora \"One\"";
    EXPECT_TRUE(client.UploadOptionTryData(data));
    auto requests = Requests(ClientAnalyticsUrl());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(Text(requests[0], "path"), "/v2/client/report");
    EXPECT_EQ(Text(requests[0], "body"),
              R"({"pid":"1830", "token_id":"T-1", "product_name":"Lumora \"One\"", "domain":"tarvex.example", "machine_id":"00-11-22-33-44-55"})");

    SetBehaviour(ClientAnalyticsUrl(), R"({"cscode":3})");
    EXPECT_FALSE(client.UploadOptionTryData(data));
}

TEST_F(WebStatsTest, RegisterReplacesTheMailAfterTheCheck) {
    WebStatsConfig config = Config();
    config.bSaveCache = true;
    SetBehaviour(ClientAnalyticsUrl(), R"({"data":{"api_version":2,"user_info":{"token_id":"x","email":""}}})");
    std::shared_ptr<IWebStatsManager> client;
    ASSERT_TRUE(CreateWebStatsManager(config, client));
    client->CheckNewVersion();
    client->OnRegister("user@mail.example");
    std::string data;
    for (int i = 0; i < 100; ++i) {
        data = client->GetData();
        if (data.find("user@mail.example") != std::string::npos) break;
        Sleep(50);
    }
    EXPECT_EQ(data, R"({"api_version":2,"user_info":{"token_id":"x","email":"user@mail.example"}})");
    EXPECT_TRUE(client->JoinThreads());
    EXPECT_EQ(ReadFileBytes(CachePath()), data);
}

}  // namespace
