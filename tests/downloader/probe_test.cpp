// Mirror probing against real loopback mirrors: what each mirror sees, in
// which order, and which mirrors the engine then uses.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "DownloaderCurl.h"
#include "IcmpPinger.h"
#include "MirrorFixture.h"

namespace {

const std::string kFile = "small.bin";
const int64_t kSize = 3670016;

// Opens the engine's probing to the test.
struct ProbeEngine : DownloaderCurl {
    explicit ProbeEngine(uint64_t size) { m_fileSize = size; }
    int Connections() const { return m_config.connectionsPerUrl; }
    UrlCfg Fallback() const { return m_fallback; }
};

DownloadConfig ConfigFor(const std::vector<std::string>& urls) {
    DownloadConfig c;
    c.fileSize = static_cast<int32_t>(kSize);
    c.connectionsPerUrl = 2;
    for (size_t i = 0; i < urls.size() && i < 10; ++i) {
        strncpy(c.urls[i].url, urls[i].c_str(), sizeof(c.urls[i].url) - 1);
        c.urls[i].valid = true;
    }
    return c;
}

std::vector<std::string> UsedUrls(ProbeEngine& e) {
    std::vector<std::string> out;
    for (const auto& u : e.GetUsedUrlList()) out.push_back(u.url);
    return out;
}

bool Pinged(const std::vector<mirrors::Echo>& echoes, const std::string& host) {
    for (const auto& e : echoes)
        if (e.host == host) return true;
    return false;
}

class Probe : public ::testing::Test {
protected:
    void SetUp() override { mirrors::SetScenario({}); }
    void TearDown() override { mirrors::SetScenario({}); }
};

}  // namespace

TEST_F(Probe, PingerEchoesALoopbackHost) {
    IcmpPinger pinger;
    if (!pinger.IsReady()) {
        // Without the right to raw sockets (and no ICMP datagram sockets),
        // Wine refuses both, as Windows does for a user that is not an
        // administrator: every echo then fails at once.
        EchoReply reply;
        DWORD start = GetTickCount();
        EXPECT_EQ(pinger.EchoTo(mirrors::Host(5).c_str(), &reply, 2000), 0);
        EXPECT_LT(GetTickCount() - start, 500u);
        GTEST_SKIP() << "no ICMP socket in this environment";
    }
    RecordProperty("datagram_socket", pinger.IsDatagram() ? "yes" : "no");
    mirrors::Log log;
    EchoReply reply;
    ASSERT_EQ(pinger.EchoTo(mirrors::Host(5).c_str(), &reply, 2000), 1);
    EXPECT_EQ(reply.payloadBytes, 32);
    EXPECT_LT(reply.roundTripMs, 1000u);
    EchoReply second;
    ASSERT_EQ(pinger.EchoTo(mirrors::Host(5).c_str(), &second, 2000), 1);
    EXPECT_EQ(static_cast<uint16_t>(second.sequence - reply.sequence), 1);
    EXPECT_EQ(pinger.EchoTo(mirrors::Host(5).c_str(), nullptr, 2000), 1);  // sent, no reply wanted
    EXPECT_EQ(pinger.EchoTo(nullptr, &reply, 2000), 0);
    EXPECT_EQ(pinger.EchoTo("not-an-address", &reply, 2000), 0);  // the all-ones address cannot be sent to
    Sleep(300);
    auto echoes = log.Echoes();
    ASSERT_GE(echoes.size(), 3u);
    EXPECT_EQ(echoes[0].host, mirrors::Host(5));
    EXPECT_EQ(echoes[0].id, static_cast<int>(GetCurrentProcessId() & 0xFFFF));

    uint32_t rtt = 12345;
    EXPECT_TRUE(PingUrlHost(mirrors::Url(mirrors::Host(4), kFile), &rtt));
    EXPECT_LT(rtt, 1000u);
    EXPECT_FALSE(PingUrlHost("http://" + mirrors::Host(4) + "/files/" + kFile, &rtt));  // no host without "/download/"
}

TEST_F(Probe, MirrorSeesEchoThenHeadThenLoadProbeHttpsThenHttp) {
    mirrors::SetScenario({{6, R"({"flag_https": "0\n", "flag_http": "1\n"})"}});
    mirrors::Log log;
    ProbeEngine engine(kSize);
    DownloadConfig config = ConfigFor({mirrors::Url(mirrors::Host(6), kFile)});
    ASSERT_EQ(engine.CheckDownload(config), 0);
    Sleep(300);

    auto requests = mirrors::ForHost(log.Requests(), mirrors::Host(6));
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "HEAD");
    EXPECT_EQ(requests[0].path, "/download/" + kFile);
    EXPECT_EQ(requests[0].ua, "Lavf/55.13.102");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].path, "/flag.php");
    EXPECT_EQ(requests[1].scheme, "https");
    EXPECT_EQ(requests[2].path, "/flag.php");
    EXPECT_EQ(requests[2].scheme, "http");
    auto echoes = log.Echoes();
    ASSERT_TRUE(Pinged(echoes, mirrors::Host(6)));
    EXPECT_LT(echoes.front().t, requests[0].t);

    auto checked = engine.GetCheckedUrlList();
    ASSERT_EQ(checked.size(), 10u);  // every slot, listed or not
    EXPECT_TRUE(checked[0].valid);
    EXPECT_TRUE(checked[0].pingOk);
    EXPECT_TRUE(checked[0].networkNotFull);
    EXPECT_EQ(checked[0].host, mirrors::Host(6));
    EXPECT_EQ(checked[0].webSize, kSize);
    EXPECT_EQ(checked[0].cfgSize, kSize);
    for (int i = 1; i < 10; ++i) EXPECT_FALSE(checked[i].valid) << i;
    EXPECT_EQ(UsedUrls(engine), (std::vector<std::string>{mirrors::Url(mirrors::Host(6), kFile)}));
}

TEST_F(Probe, LoadProbeAnswers) {
    struct Case { const char* body; bool yes; } cases[] = {
        {"1", false}, {"1\\n", true}, {"10", true}, {"0\\n", false}, {"", false}, {"2\\n", false}, {" 1", false},
    };
    ProbeEngine engine(kSize);
    for (const auto& c : cases) {
        mirrors::SetScenario({{7, std::string(R"({"flag": ")") + c.body + "\"}"}});
        mirrors::Log log;
        EXPECT_EQ(engine.GetNetworkNotFull(mirrors::Url(mirrors::Host(7), kFile)), c.yes) << c.body;
        Sleep(100);
        // A yes over https is final; anything else asks http too.
        EXPECT_EQ(mirrors::ForHost(log.Requests(), mirrors::Host(7)).size(), c.yes ? 1u : 2u) << c.body;
    }
    // A long body is read only as far as needed and still says yes.
    mirrors::SetScenario({{7, R"({"flag": "1)" + std::string(100000, 'x') + "\"}"}});
    EXPECT_EQ(engine.HttpGetText("http://" + mirrors::Host(7) + "/flag.php").size(), DownloaderCurl::kLoadProbeBodyLimit);
    EXPECT_TRUE(engine.GetNetworkNotFull(mirrors::Url(mirrors::Host(7), kFile)));
    EXPECT_EQ(engine.HttpGetText("http://" + mirrors::Host(7) + ":1/flag.php"), "error");
    EXPECT_TRUE(engine.GetNetworkNotFull(mirrors::FallbackUrl(mirrors::Host(7), kFile)));  // never asked
    EXPECT_FALSE(engine.GetNetworkNotFull("http://" + mirrors::Host(7) + "/files/x"));
}

TEST_F(Probe, SizeCheckNeedsTheExactLength) {
    mirrors::SetScenario({{6, R"({"head_length": "wrong"})"}, {7, R"({"head_length": "missing"})"}, {8, R"({"head_length": 5})"}});
    ProbeEngine engine(kSize);
    EXPECT_EQ(engine.GetDownloadFileLenth(mirrors::Url(mirrors::Host(2), kFile).c_str()), kSize);
    EXPECT_EQ(engine.GetDownloadFileLenth(mirrors::Url(mirrors::Host(6), kFile).c_str()), kSize + 1);
    EXPECT_EQ(engine.GetDownloadFileLenth(mirrors::Url(mirrors::Host(7), kFile).c_str()), -1);
    EXPECT_EQ(engine.GetDownloadFileLenth(mirrors::Url(mirrors::Host(2), kFile, true).c_str()), kSize);
    EXPECT_EQ(engine.GetDownloadFileLenth(("http://" + mirrors::Host(2) + ":1/download/x").c_str()), -1);

    DownloadConfig config = ConfigFor({mirrors::Url(mirrors::Host(6), kFile), mirrors::Url(mirrors::Host(7), kFile),
                                       mirrors::Url(mirrors::Host(8), kFile), mirrors::Url(mirrors::Host(2), kFile, true)});
    ASSERT_EQ(engine.CheckDownload(config), 0);
    auto checked = engine.GetCheckedUrlList();
    EXPECT_FALSE(checked[0].valid);
    EXPECT_EQ(checked[0].webSize, kSize + 1);
    EXPECT_FALSE(checked[1].valid);
    EXPECT_EQ(checked[1].webSize, -1);
    EXPECT_FALSE(checked[2].valid);
    EXPECT_TRUE(checked[3].valid);
    EXPECT_EQ(UsedUrls(engine), (std::vector<std::string>{mirrors::Url(mirrors::Host(2), kFile, true)}));
    EXPECT_FALSE(config.urls[0].valid);  // results go back into the given configuration
    EXPECT_TRUE(config.urls[3].valid);
}

TEST_F(Probe, SixGoodMirrorsUseTheFiveFastestWithoutTheFallback) {
    std::vector<std::string> urls;
    for (int i = 2; i <= 7; ++i) urls.push_back(mirrors::Url(mirrors::Host(i), kFile, i % 2 == 0));
    urls.push_back(mirrors::FallbackUrl(mirrors::Host(8), kFile));
    ProbeEngine engine(kSize);
    DownloadConfig config = ConfigFor(urls);
    ASSERT_EQ(engine.CheckDownload(config), 0);
    auto used = engine.GetUsedUrlList();
    ASSERT_EQ(used.size(), 5u);
    for (size_t i = 1; i < used.size(); ++i) EXPECT_LE(used[i - 1].pingMs, used[i].pingMs);
    for (const auto& u : used) EXPECT_FALSE(IsFallbackHost(u.url));
    EXPECT_TRUE(engine.Fallback().valid);  // known for the dispatcher, not used
    EXPECT_EQ(engine.Connections(), 0);    // the engine's own copy is untouched here
}

TEST_F(Probe, FallbackAloneAppendedAndNeverPingedOrAsked) {
    const std::string fallback = mirrors::FallbackUrl(mirrors::Host(8), kFile);
    {
        // Nothing else qualifies: the fallback carries the download alone.
        mirrors::SetScenario({{6, R"({"head_length": "wrong"})"}});
        mirrors::Log log;
        ProbeEngine engine(kSize);
        DownloadConfig config = ConfigFor({mirrors::Url(mirrors::Host(6), kFile), fallback});
        ASSERT_EQ(engine.CheckDownload(config), 0);
        Sleep(300);
        EXPECT_EQ(UsedUrls(engine), (std::vector<std::string>{fallback}));
        EXPECT_EQ(engine.Connections(), 5);
        EXPECT_EQ(engine.GetUsedUrlList()[0].host, FallbackHostMarkers().front());
        EXPECT_FALSE(Pinged(log.Echoes(), mirrors::Host(8)));
        auto seen = mirrors::ForHost(log.Requests(), mirrors::Host(8));
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].method, "HEAD");
    }
    {
        // Two normal mirrors: the fallback joins them, last.
        mirrors::SetScenario({});
        ProbeEngine engine(kSize);
        DownloadConfig config = ConfigFor({fallback, mirrors::Url(mirrors::Host(3), kFile), mirrors::Url(mirrors::Host(6), kFile)});
        ASSERT_EQ(engine.CheckDownload(config), 0);
        auto used = UsedUrls(engine);
        ASSERT_EQ(used.size(), 3u);
        EXPECT_EQ(used[2], fallback);
        EXPECT_EQ(engine.Connections(), 0);
    }
    {
        // The first fallback URL has the wrong size: the next one is taken;
        // a third after that is pinged and sized like any URL but never used.
        mirrors::SetScenario({{9, R"({"head_length": "wrong"})"}});
        mirrors::Log log;
        ProbeEngine engine(kSize);
        const std::string late = mirrors::FallbackUrl(mirrors::Host(7), kFile);
        DownloadConfig config = ConfigFor({mirrors::FallbackUrl(mirrors::Host(9), kFile), fallback, late,
                                           mirrors::Url(mirrors::Host(2), kFile)});
        ASSERT_EQ(engine.CheckDownload(config), 0);
        Sleep(300);
        EXPECT_EQ(std::string(engine.Fallback().url), fallback);
        EXPECT_EQ(UsedUrls(engine), (std::vector<std::string>{mirrors::Url(mirrors::Host(2), kFile), fallback}));
        EXPECT_TRUE(Pinged(log.Echoes(), mirrors::Host(7)));
        EXPECT_FALSE(Pinged(log.Echoes(), mirrors::Host(9)));
        for (const auto& r : mirrors::ForHost(log.Requests(), mirrors::Host(7))) EXPECT_NE(r.path, "/flag.php");
        auto checked = engine.GetCheckedUrlList();
        EXPECT_FALSE(checked[0].valid);
        EXPECT_TRUE(checked[2].valid);  // sized right, still not a candidate
    }
}

TEST_F(Probe, NoUsableMirrorFails) {
    mirrors::SetScenario({{6, R"({"flag": "0\n"})"}});
    ProbeEngine engine(kSize);
    DownloadConfig config = ConfigFor({mirrors::Url(mirrors::Host(6), kFile), "http://" + mirrors::Host(2) + "/files/" + kFile,
                                       mirrors::Url(mirrors::Host(2), "missing.bin")});
    EXPECT_EQ(engine.CheckDownload(config), E_FAIL);
    EXPECT_TRUE(engine.GetUsedUrlList().empty());
    auto checked = engine.GetCheckedUrlList();
    EXPECT_TRUE(checked[0].valid);  // valid, but it said no to load
    EXPECT_FALSE(checked[0].networkNotFull);
    EXPECT_FALSE(checked[1].pingOk);
    EXPECT_FALSE(checked[2].valid);
}

TEST_F(Probe, SilentAndLyingMirrorsDoNotStallProbing) {
    mirrors::SetScenario({{9, R"({"head_hang": true})"}, {8, R"({"latency": 40})"}, {7, R"({"head_length": "missing"})"}});
    ProbeEngine engine(kSize);
    DownloadConfig config = ConfigFor({mirrors::Url(mirrors::Host(9), kFile), mirrors::Url(mirrors::Host(8), kFile),
                                       mirrors::Url(mirrors::Host(7), kFile), mirrors::Url(mirrors::Host(2), kFile)});
    mirrors::EngineLog log;
    DWORD start = GetTickCount();
    ASSERT_EQ(engine.CheckDownload(config), 0);
    DWORD elapsed = GetTickCount() - start;
    // Two silent mirrors, probed at once, each HEAD bounded: one bound in all,
    // not the sum.
    EXPECT_GE(elapsed, DownloaderCurl::kHeadTimeoutS * 1000u - 200);
    EXPECT_LT(elapsed, (DownloaderCurl::kHeadTimeoutS + 2) * 1000u);
    // The log reads as if the slots were probed one after the other.
    std::vector<std::string> slotLines = log.LinesWith("Download_");
    std::vector<std::string> expected = {
        "Download_CheckPing: ID(0), Invalid(true)", "Download_GetDownloadFileLenth : result(-1), url_err(28)",
        "Download_CheckDownload: ID(0), FileSizeConsistent(false)",
        "Download_CheckPing: ID(1)", "Download_GetDownloadFileLenth : result(-1), url_err(28)",
        "Download_CheckDownload: ID(1), FileSizeConsistent(false)",
        "Download_CheckPing: ID(2)", "Download_GetDownloadFileLenth : result(-1), url_err(0)",
        "Download_CheckDownload: ID(2), FileSizeConsistent(false)",
        "Download_CheckPing: ID(3)", "Download_GetDownloadFileLenth : result(3670016), url_err(0)"};
    ASSERT_GE(slotLines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(slotLines[i].substr(0, expected[i].size()), expected[i]) << i;
    auto checked = engine.GetCheckedUrlList();
    EXPECT_FALSE(checked[0].valid);
    EXPECT_EQ(checked[0].webSize, -1);
    EXPECT_FALSE(checked[1].valid);
    EXPECT_FALSE(checked[2].valid);
    EXPECT_EQ(UsedUrls(engine), (std::vector<std::string>{mirrors::Url(mirrors::Host(2), kFile)}));
}

TEST_F(Probe, ProxyAppliesToHeadRequestsOnly) {
    ProbeEngine engine(kSize);
    const std::string url = mirrors::Url(mirrors::Host(2), kFile);
    ProxyConfig proxy;
    proxy.enabled = 1;
    proxy.type = 0;
    proxy.host = mirrors::Host(2);
    proxy.port = "1";  // nothing listens there
    proxy.user = std::string(300, 'u');  // longer than any fixed buffer
    proxy.password = "p";
    engine.SetProxy(proxy);
    EXPECT_EQ(engine.GetDownloadFileLenth(url.c_str()), -1);
    EXPECT_EQ(engine.HttpGetText("http://" + mirrors::Host(2) + "/flag.php"), "1\n");  // the load probe never uses it
    proxy.type = 7;  // unknown type: no proxy options at all
    engine.SetProxy(proxy);
    EXPECT_EQ(engine.GetDownloadFileLenth(url.c_str()), kSize);
    proxy.enabled = 0;
    proxy.type = 0;
    engine.SetProxy(proxy);
    EXPECT_EQ(engine.GetDownloadFileLenth(url.c_str()), kSize);
}
