// Names, URL helpers, the file lock, the pinger's packets and the XML
// accessor: everything of the engine that needs no mirror.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "AutoMutex.h"
#include "BlockDigests.h"
#include "Digest.h"
#include "DownloaderCurl.h"
#include "IcmpPinger.h"
#include "TestSupport.h"
#include "XMLParse.h"

using testing_support::ScratchFolder;

TEST(DownloaderNames, ErrorNamesAndUnknownCodes) {
    struct Case { int code; const char* name; } cases[] = {
        {0, "NoError"}, {1, "NoNeedDownload"}, {4, "ConfigLoadError"}, {8, "ConfigLoadUrlError"},
        {11, "DownloadCheckUrlError"}, {16, "DispatchFailError"}, {19, "RepairFailError"},
        {21, "CheckHashError"}, {22, "22"}, {-1, "-1"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetDownloadErrorName(c.code), c.name) << c.code;
    DownloaderCurl engine;
    EXPECT_EQ(engine.GetErrorName(), "NoError");
}

TEST(DownloaderNames, ItemStatusNames) {
    int32_t values[] = {0, 1, 2, 3, E_Status_Replaced, -1, 77};
    const char* names[] = {"E_Status_Runing", "E_Status_StopByDispatch", "E_Status_Fail", "E_Status_Succeed", "", "", ""};
    for (size_t i = 0; i < 7; ++i) EXPECT_STREQ(GetItemStatusName(&values[i]), names[i]) << values[i];
    EXPECT_STREQ(GetItemStatusName(nullptr), "");
}

TEST(DownloaderUrls, ExtractUrlHost) {
    struct Case { const char* url; const char* host; } cases[] = {
        {"https://mirror.example:8443/download/orvane/setup.exe", "mirror.example:8443"},
        {"http://mirror.example:8443/download/orvane/setup.exe", "mirror.example:8443"},
        {"https://127.0.0.2/download/small.bin", "127.0.0.2"},
        {"https://mirror.example/files/setup.exe", ""},
        {"ftp://mirror.example/download/setup.exe", ""},
        {"mirror.example/download/setup.exe", ""},
        {"/download/https://x", ""},  // the scheme must come first
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractUrlHost(c.url), c.host) << c.url;
}

TEST(DownloaderUrls, FallbackMarkersMatchAnywhere) {
    const auto& markers = FallbackHostMarkers();
    ASSERT_EQ(markers.size(), 3u);
    for (const auto& m : markers) {
        EXPECT_TRUE(IsFallbackHost("https://" + m + "/download/x.exe")) << m;
        EXPECT_TRUE(IsFallbackHost("http://127.0.0.8/download/" + m + "/x.exe")) << m;  // in the path too
    }
    EXPECT_FALSE(IsFallbackHost("https://127.0.0.2/download/small.bin"));
    EXPECT_FALSE(IsFallbackHost("https://DL.TARVEX.COM/download/x"));  // case-sensitive
}

TEST(DownloaderFactory, CreateAndRelease) {
    EXPECT_EQ(CreateDownloader(nullptr), 0);
    IDownloader* engine = nullptr;
    ASSERT_EQ(CreateDownloader(&engine), 1);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->GetState(), E_State_Idle);
    EXPECT_FALSE(engine->IsDownloading());
    EXPECT_EQ(engine->GetErrorCode(), E_Error_NoError);
    ProgressCallback empty;
    EXPECT_EQ(engine->SetCallback(empty), E_POINTER);
    ProgressCallback some = [](int, unsigned, long) { return 1; };
    EXPECT_EQ(engine->SetCallback(some), 0);
    EXPECT_EQ(ReleaseDownloaderAsync(engine), 1);
    EXPECT_EQ(ReleaseDownloaderAsync(nullptr), 1);
    Sleep(200);
}

TEST(DownloaderFileLock, NullHandleIsANoOpAndNamedMutexIsShared) {
    { AutoMutex none(nullptr); EXPECT_TRUE(none.locked()); }
    HANDLE a = CreateDownloadFileMutex();
    HANDLE b = CreateDownloadFileMutex();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);  // each engine has its own handle of the same mutex
    {
        AutoMutex lock(a);
        EXPECT_TRUE(lock.locked());
        // Another thread cannot take it through the other handle meanwhile.
        DWORD r = 0;
        std::thread other([&] {
            r = WaitForSingleObject(b, 100);
            if (r == WAIT_OBJECT_0) ReleaseMutex(b);
        });
        other.join();
        EXPECT_EQ(r, static_cast<DWORD>(WAIT_TIMEOUT));
        AutoMutex again(b);  // recursive on the same thread
        EXPECT_TRUE(again.locked());
    }
    CloseHandle(a);
    CloseHandle(b);
}

TEST(DownloaderProxy, JoinKeepsLongValuesWhole) {
    std::string host(400, 'h');
    EXPECT_EQ(DownloaderCurl::JoinPair(host, "8080"), host + ":8080");
    EXPECT_EQ(DownloaderCurl::JoinPair("u", ""), "u:");
}

TEST(DownloaderProbe, ComparePingOrdersByRoundTrip) {
    std::vector<UrlCfg> list(4);
    uint32_t times[] = {30, 5, 4000000000u, 12};
    for (int i = 0; i < 4; ++i) {
        list[i].pingMs = times[i];
        list[i].url[0] = static_cast<char>('a' + i);
    }
    std::sort(list.begin(), list.end(), DownloaderCurl::ComparePing);
    EXPECT_EQ(list[0].url[0], 'b');
    EXPECT_EQ(list[1].url[0], 'd');
    EXPECT_EQ(list[2].url[0], 'a');
    EXPECT_EQ(list[3].url[0], 'c');  // compared unsigned
    UrlCfg x, y;
    x.pingMs = y.pingMs = 7;
    EXPECT_FALSE(DownloaderCurl::ComparePing(x, y));
}

// --- pinger packets -------------------------------------------------------

TEST(IcmpPackets, RequestChecksumsToZero) {
    IcmpPinger pinger;
    unsigned char packet[IcmpPinger::kPacketSize];
    for (uint16_t seq : {1, 2, 65535}) {
        pinger.FillRequest(packet, seq, 0x12345678u + seq);
        EXPECT_EQ(packet[0], 8);
        EXPECT_EQ(packet[1], 0);
        EXPECT_EQ(IcmpChecksum(packet, IcmpPinger::kPacketSize), 0) << seq;
        EXPECT_EQ(packet[6] | (packet[7] << 8), seq);
    }
    const unsigned char odd[] = {0x01, 0x02, 0x03};
    // 0x0201 + 0x03 = 0x0204, complemented.
    EXPECT_EQ(IcmpChecksum(odd, 3), static_cast<uint16_t>(~0x0204));
}

namespace {
// An IPv4 header of 20 bytes (TTL 64) followed by an ICMP message.
std::vector<unsigned char> Datagram(uint8_t type, uint16_t id, uint16_t seq, uint32_t stamp, int payload) {
    std::vector<unsigned char> d(20 + 12 + payload, 0);
    d[0] = 0x45;
    d[8] = 64;
    d[20] = type;
    d[24] = id & 0xFF; d[25] = id >> 8;
    d[26] = seq & 0xFF; d[27] = seq >> 8;
    for (int i = 0; i < 4; ++i) d[28 + i] = (stamp >> (8 * i)) & 0xFF;
    return d;
}
}  // namespace

TEST(IcmpPackets, ReplyParsingDropsShortAndForeignDatagrams) {
    EchoReply r;
    auto good = Datagram(0, 77, 5, 1000, 32);
    ASSERT_TRUE(IcmpPinger::ParseReply(good.data(), static_cast<int>(good.size()), 77, 5, 1015, &r));
    EXPECT_EQ(r.roundTripMs, 15u);  // from the echoed stamp, not the sender's memory
    EXPECT_EQ(r.payloadBytes, 32);
    EXPECT_EQ(r.ttl, 64);
    EXPECT_EQ(r.sequence, 5);

    auto request = Datagram(8, 77, 5, 1000, 32);  // our own request seen on loopback
    EXPECT_FALSE(IcmpPinger::ParseReply(request.data(), static_cast<int>(request.size()), 77, 5, 1015, &r));
    auto other = Datagram(0, 78, 5, 1000, 32);  // another process's echo
    EXPECT_FALSE(IcmpPinger::ParseReply(other.data(), static_cast<int>(other.size()), 77, 5, 1015, &r));
    auto late = Datagram(0, 77, 4, 1000, 32);  // an earlier request's reply
    EXPECT_FALSE(IcmpPinger::ParseReply(late.data(), static_cast<int>(late.size()), 77, 5, 1015, &r));
    // Cut anywhere before the stamp ends: dropped, nothing read past the end.
    for (int n : {0, 1, 19, 20, 27, 31}) EXPECT_FALSE(IcmpPinger::ParseReply(good.data(), n, 77, 5, 1015, &r)) << n;
    auto badHeader = good;
    badHeader[0] = 0x44;  // header length 16: not IPv4
    EXPECT_FALSE(IcmpPinger::ParseReply(badHeader.data(), static_cast<int>(badHeader.size()), 77, 5, 1015, &r));
    // A datagram socket's reply has no IP header.
    std::vector<unsigned char> bare(good.begin() + 20, good.end());
    ASSERT_TRUE(IcmpPinger::ParseReply(bare.data(), static_cast<int>(bare.size()), 77, 5, 1015, &r));
    EXPECT_EQ(r.payloadBytes, 32);
    EXPECT_EQ(r.ttl, 0);
}

TEST(IcmpPackets, MillisecondClockFollowsTicks) {
    uint32_t a = GetMillisecondClock();
    Sleep(50);
    uint32_t b = GetMillisecondClock();
    EXPECT_GE(b - a, 40u);
    EXPECT_LT(b - a, 1000u);
}

// --- XML accessor ----------------------------------------------------------

namespace {
boost::shared_ptr<IXMLParse> Parse(const char* text) {
    boost::shared_ptr<IXMLParse> p;
    EXPECT_EQ(CreateXMLParse(p), 0);
    EXPECT_EQ(p->LoadFromMemory(text, 0), 1) << text;
    return p;
}
}  // namespace

TEST(XmlAccessor, IntReadsAndSentinels) {
    auto p = Parse("<download size=\"10\" version=\"1\" name=\"setup.exe\"><a pad=\" 12 \" bad=\"12abc\" hex=\"0x10\" "
                   "empty=\"\" same=\"-9999999\"/></download>");
    struct Case { const char* path; int value; int result; } cases[] = {
        {"download.size", 10, 1}, {"download.version", 1, 1}, {"download.name", -9999999, 0},
        {"download.missing", -9999999, 0}, {"download.a.pad", 12, 1}, {"download.a.bad", -9999999, 0},
        {"download.a.hex", -9999999, 0}, {"download.a.empty", -9999999, 0}, {"download.a.same", -9999999, 0},
        {"size", -9999999, 0},
    };
    for (const auto& c : cases) {
        int v = 42;
        EXPECT_EQ(p->ReadInt(c.path, v), c.result) << c.path;
        EXPECT_EQ(v, c.value) << c.path;
    }
}

TEST(XmlAccessor, OtherScalarReaders) {
    auto p = Parse("<r u=\"999999\" v=\"7\" big=\"5000000000\" f=\"1.5\" s=\"text\" e=\"\" "
                   "d=\"{__see_it_is_read_string_failed_}\"/>");
    uint32_t u = 0;
    EXPECT_EQ(p->ReadUInt("r.u", u), 0);
    EXPECT_EQ(p->ReadUInt("r.v", u), 1);
    EXPECT_EQ(u, 7u);
    uint64_t big = 0;
    EXPECT_EQ(p->ReadUInt64("r.big", big), 1);
    EXPECT_EQ(big, 5000000000ull);
    EXPECT_EQ(p->ReadUInt64("r.u", big), 0);
    EXPECT_EQ(p->ReadUInt("u", u), 0);  // no attribute path: logged, 0
    float f = 0;
    EXPECT_EQ(p->ReadFloat("r.f", f), 1);
    EXPECT_FLOAT_EQ(f, 1.5f);
    EXPECT_EQ(p->ReadFloat("r.missing", f), 0);  // a missing value is not a success
    EXPECT_FLOAT_EQ(f, -99999.9f);
    std::string s = "keep";
    EXPECT_EQ(p->ReadString("r.missing", s), 0);
    EXPECT_EQ(s, "keep");
    EXPECT_EQ(p->ReadString("r.d", s), 0);
    EXPECT_EQ(s, "keep");
    EXPECT_EQ(p->ReadString("r.e", s), 1);
    EXPECT_EQ(s, "");
    EXPECT_EQ(p->ReadString("r.s", s), 1);
    EXPECT_EQ(s, "text");
}

TEST(XmlAccessor, LoadingFromMemory) {
    boost::shared_ptr<IXMLParse> p;
    ASSERT_EQ(CreateXMLParse(p), 0);
    int v = 0;
    EXPECT_EQ(p->LoadFromMemory("\xEF\xBB\xBF<a b=\"3\"/>", 0), 1);  // byte-order mark skipped
    EXPECT_EQ(p->ReadInt("a.b", v), 1);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(p->LoadFromMemory("<a b=\"4\" \x01<broken", 0), 0);  // malformed: earlier tree stays
    EXPECT_EQ(p->ReadInt("a.b", v), 1);
    EXPECT_EQ(v, 3);
    const char withNul[] = "<a b=\"5\"/>\0<c/>";
    EXPECT_EQ(p->LoadFromMemory(withNul, sizeof(withNul)), 1);
    EXPECT_EQ(p->ReadInt("a.b", v), 1);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(p->LoadFromMemory("", 0), 1);
    EXPECT_TRUE(p->GetTree().empty());
    EXPECT_EQ(p->LoadFromMemory(nullptr, 0), 0);
    // Two elements of one name: lookups take the first.
    EXPECT_EQ(p->LoadFromMemory("<d><url><item_0 value=\"first\"/><item_0 value=\"second\"/></url></d>", 0), 1);
    std::string s;
    EXPECT_EQ(p->ReadString("d.url.item_0.value", s), 1);
    EXPECT_EQ(s, "first");
    EXPECT_EQ(p->IsLoaded(), 0);
}

TEST(XmlAccessor, FilesLoadSaveAndRefuse) {
    ScratchFolder dir(L"xml");
    boost::shared_ptr<IXMLParse> p;
    ASSERT_EQ(CreateXMLParse(p), 0);
    EXPECT_EQ(p->LoadFromFile(dir / L"missing.xml"), 0);
    EXPECT_EQ(p->IsLoaded(), 0);
    EXPECT_EQ(p->Save(), E_FAIL);  // never loaded from a file: no path
    ASSERT_TRUE(testing_support::WriteFileBytes(dir / L"empty.xml", ""));
    EXPECT_EQ(p->LoadFromFile(dir / L"empty.xml"), 1);
    EXPECT_EQ(p->IsLoaded(), 1);
    EXPECT_TRUE(p->GetTree().empty());

    EXPECT_EQ(p->WriteInt("a.b.c", 5), 1);
    std::wstring out = dir / L"sub\\out.xml";
    EXPECT_EQ(p->SaveToFile(out), 1);
    EXPECT_EQ(testing_support::ReadFileBytes(out),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a>\n\t<b c=\"5\"/>\n</a>\n");
    // A non-ASCII folder: paths stay wide.
    std::wstring wide = dir / L"\u00e9t\u00e9 \u0416.xml";
    EXPECT_EQ(p->SaveToFile(wide), 1);
    boost::shared_ptr<IXMLParse> q;
    CreateXMLParse(q);
    EXPECT_EQ(q->LoadFromFile(wide), 1);
    int v = 0;
    EXPECT_EQ(q->ReadInt("a.b.c", v), 1);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(q->WriteInt("a.b.c", 6), 1);
    EXPECT_EQ(q->Save(), 1);  // back to the remembered path
    EXPECT_NE(testing_support::ReadFileBytes(wide).find("c=\"6\""), std::string::npos);
    EXPECT_EQ(q->LoadFromFile(dir / L"missing.xml"), 0);
    EXPECT_EQ(q->IsLoaded(), 1);  // stays set
    EXPECT_EQ(p->SaveToFile(dir.path()), E_FAIL);  // a folder cannot be written
    std::unique_ptr<IXMLParse> copy(q->Clone());
    EXPECT_EQ(copy->IsLoaded(), 1);
    EXPECT_EQ(copy->ReadInt("a.b.c", v), 1);
    EXPECT_EQ(v, 6);
}

TEST(XmlAccessor, WritersAndSetFamily) {
    auto p = Parse("<r a=\"1\"><n>old</n></r>");
    EXPECT_EQ(p->WriteUInt("r.u", 7), 1);
    EXPECT_EQ(p->WriteUInt64("r.w", 5000000000ull), 1);
    EXPECT_EQ(p->WriteFloat("r.f", 0.25f), 1);
    EXPECT_EQ(p->WriteString("r.s", "x&y"), 1);
    EXPECT_EQ(p->WriteInt("single", 1), 0);
    EXPECT_EQ(p->WriteUInt("single", 1), 0);
    EXPECT_EQ(p->SetInt("r.a", 9), 1);  // existing attribute changed, nothing added
    EXPECT_EQ(p->GetTree().get_child("r.<xmlattr>").count("a"), 1u);
    EXPECT_EQ(p->SetInt("x.y.z", 3), 1);  // created with its elements
    EXPECT_EQ(p->SetString("single", "v"), 0);
    EXPECT_EQ(p->SetUInt("r.u", 8), 1);
    EXPECT_EQ(p->SetUInt64("r.w", 6), 1);
    EXPECT_EQ(p->SetFloat("r.f", 2.5f), 1);
    EXPECT_EQ(p->SetStringNode("r.n", "new"), 1);
    EXPECT_EQ(p->SetIntNode("r.m", 4), 1);
    EXPECT_EQ(p->SetFloatNode("r.k", 1.5f), 1);
    int i = 0; uint32_t u = 0; uint64_t w = 0; float f = 0; std::string s;
    EXPECT_EQ(p->ReadInt("r.a", i), 1); EXPECT_EQ(i, 9);
    EXPECT_EQ(p->ReadInt("x.y.z", i), 1); EXPECT_EQ(i, 3);
    EXPECT_EQ(p->ReadUInt("r.u", u), 1); EXPECT_EQ(u, 8u);
    EXPECT_EQ(p->ReadUInt64("r.w", w), 1); EXPECT_EQ(w, 6u);
    EXPECT_EQ(p->ReadFloat("r.f", f), 1); EXPECT_FLOAT_EQ(f, 2.5f);
    EXPECT_EQ(p->ReadString("r.s", s), 1); EXPECT_EQ(s, "x&y");
    EXPECT_EQ(p->GetTree().get<std::string>("r.n"), "new");
    EXPECT_EQ(p->GetTree().get<int>("r.m"), 4);
    EXPECT_EQ(p->RemoveAttribute("r.a"), 1);
    EXPECT_EQ(p->ReadInt("r.a", i), 0);
    EXPECT_EQ(p->RemoveAttribute("single"), 0);
    EXPECT_EQ(p->RemoveNode("no.such.node"), 1);
    EXPECT_EQ(p->RemoveNode("x.y"), 1);
    EXPECT_EQ(p->ReadInt("x.y.z", i), 0);
    EXPECT_EQ(p->RemoveNode("r"), 1);
    EXPECT_EQ(p->GetTree().count("r"), 0u);
}

TEST(XmlAccessor, Lists) {
    auto p = Parse("<r><l><item key=\"1\"/><item key=\"2\"/><!-- note --><item key=\"3\"/></l>"
                   "<f><item key=\"0.5\"/></f><s><item key=\"a\"/><item key=\"b\"/></s><bad><item/></bad></r>");
    std::vector<int> ints;
    EXPECT_EQ(p->ReadIntList("r.l", ints), 0);  // the comment ends the read
    EXPECT_EQ(ints, (std::vector<int>{1, 2}));
    std::vector<float> floats;
    EXPECT_EQ(p->ReadFloatList("r.f", floats), 1);
    EXPECT_EQ(floats, (std::vector<float>{0.5f}));
    std::vector<std::string> strings;
    EXPECT_EQ(p->ReadStringList("r.s", strings), 1);
    EXPECT_EQ(strings, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(p->ReadStringList("r.bad", strings), 0);
    EXPECT_EQ(p->ReadStringList("r.none", strings), 0);

    EXPECT_EQ(p->WriteIntList("r.none", {1}), 0);
    EXPECT_EQ(p->WriteStringList("r.made", {"x", "y"}), 1);  // made once, then written
    EXPECT_EQ(p->ReadStringList("r.made", strings), 1);
    EXPECT_EQ(strings, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(p->WriteIntList("r.s", {7, 8, 9}), 1);
    EXPECT_EQ(p->ReadIntList("r.s", ints), 1);
    EXPECT_EQ(ints, (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(p->SetIntList("r.new", {4}), 1);
    EXPECT_EQ(p->ReadIntList("r.new", ints), 1);
    EXPECT_EQ(ints, (std::vector<int>{4}));
    EXPECT_EQ(p->SetFloatList("r.nf", {1.25f}), 1);
    EXPECT_EQ(p->ReadFloatList("r.nf", floats), 1);
    EXPECT_EQ(p->SetStringList("r.ns", {"q"}), 1);
    EXPECT_EQ(p->ReadStringList("r.ns", strings), 1);
    EXPECT_EQ(strings, (std::vector<std::string>{"q"}));
}

TEST(XmlAccessor, ItemTables) {
    auto p = Parse("<r><t><item key=\"k1\" name=\"one\"/><item key=\"k1\" name=\"dup\"/><row name=\"nokey\"/></t>"
                   "<bare><row/></bare></r>");
    IXMLParse::ColumnMap columns = {{0, "key"}, {1, "name"}, {3, "extra"}};
    IXMLParse::ItemTable table = {{"old", {}}};
    EXPECT_EQ(p->ReadItemTable("r.missing", columns, table, "-"), E_FAIL);
    EXPECT_EQ(table.count("old"), 1u);  // untouched
    EXPECT_EQ(p->ReadItemTable("r.bare", columns, table, "-"), E_FAIL);  // a row without attributes
    ASSERT_EQ(p->ReadItemTable("r.t", columns, table, "-"), 0);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table["k1"][1], "one");  // first row of a key stays
    EXPECT_EQ(table["k1"][2], "-");    // column without a name
    EXPECT_EQ(table["-"][1], "nokey");

    IXMLParse::ItemTable rows = {{"a", {{0, "a"}, {1, "A"}}}, {"b", {{0, "b"}, {1, "B"}}}};
    IXMLParse::ColumnMap two = {{0, "key"}, {1, "name"}};
    EXPECT_EQ(p->RemoveNode("r.t.row"), 1);  // rows of another tag are not the writer's
    EXPECT_EQ(p->WriteItemTable("r.t", two, rows), 0);
    IXMLParse::ItemTable back;
    EXPECT_EQ(p->ReadItemTable("r.t", two, back, "-"), 0);
    EXPECT_EQ(back, rows);
    IXMLParse::ColumnMap unkeyed = {{0, "id"}, {1, "name"}};
    EXPECT_EQ(p->WriteItemTable("r.t", unkeyed, rows), 0);
    EXPECT_EQ(p->ReadItemTable("r.t", unkeyed, back, "-"), 0);
    EXPECT_EQ(back.size(), 1u);
    EXPECT_EQ(p->WriteItemTable("r.none", two, rows), E_FAIL);
}

// --- figures ---------------------------------------------------------------

namespace {
struct FigureEngine : DownloaderCurl {
    void Add(const char* host, const char* url, int64_t bytes) {
        UrlCfg cfg;
        strncpy(cfg.url, url, sizeof(cfg.url) - 1);
        cfg.host = host;
        cfg.valid = true;
        m_vecUrlCfg.push_back(cfg);
        urls_.push_back(url);
        DownloadItem item;
        item.id = static_cast<int32_t>(m_items.size());
        item.start = 1000;
        item.pos = 1000 + bytes;
        m_items[item.id] = item;
    }
    void Point() {
        // Item URLs point into the mirror list, as the engine's do.
        for (size_t i = 0; i < m_items.size(); ++i) m_items[static_cast<int>(i)].url = m_vecUrlCfg[i].url;
    }
    std::vector<std::string> urls_;
};
}  // namespace

TEST(DownloaderFigures, HostSizesMatchHostsExactly) {
    FigureEngine engine;
    engine.Add("127.0.0.2", "http://127.0.0.2/download/a", 10 * 1024);
    engine.Add("127.0.0.20", "http://127.0.0.20/download/a", 30 * 1024);
    engine.Add("dl.tarvex.com", "http://127.0.0.9/download/dl.tarvex.com/a", 5 * 1024);
    engine.Point();
    auto sizes = engine.GetHostSizeList();
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[0].host, "127.0.0.2");
    EXPECT_EQ(sizes[0].sizeKB, 10);  // not 40: 127.0.0.2 is not part of 127.0.0.20
    EXPECT_EQ(sizes[1].sizeKB, 30);
    EXPECT_EQ(sizes[2].sizeKB, 5);
    EXPECT_DOUBLE_EQ(engine.GetFallbackSizeKB(), 5.0);
}

// --- block digests ----------------------------------------------------------

TEST(BlockDigestsTest, BlocksAreHashedWhenCompleteAndForgottenWhenWrittenAgain) {
    ScratchFolder dir(L"blocks");
    const std::wstring path = dir / L"file.bin";
    std::string bytes(2500, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
    auto md5 = [&](size_t from, size_t length) {
        Md5Hasher hasher;
        unsigned char digest[16];
        hasher.HashBuffer(bytes.data() + from, length, digest);
        return hasher.ToHexString();
    };

    BlockDigests digests;
    digests.Reset(2500, 1000);  // two whole blocks and a short one
    ASSERT_EQ(digests.Count(), 3u);
    std::vector<BlockDigests::Job> jobs;
    digests.Written(1200, 800, jobs);  // out of order, overlapping, across blocks
    digests.Written(0, 600, jobs);
    EXPECT_TRUE(jobs.empty());
    digests.Written(500, 750, jobs);   // completes blocks 0 and 1
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].block, 0u);
    EXPECT_EQ(jobs[1].block, 1u);
    digests.Written(2000, 500, jobs);  // the short last block
    ASSERT_EQ(jobs.size(), 3u);
    for (const auto& job : jobs) digests.Hash(path, job);
    EXPECT_EQ(digests.Current(0), md5(0, 1000));
    EXPECT_EQ(digests.Current(1), md5(1000, 1000));
    EXPECT_EQ(digests.Current(2), md5(2000, 500));

    // A write into a complete block (a repair, a split's overlap) makes its
    // digest stale; a hash of the older state is not kept.
    std::vector<BlockDigests::Job> again;
    digests.Written(100, 10, again);
    EXPECT_EQ(digests.Current(0), "");
    ASSERT_EQ(again.size(), 1u);
    digests.Hash(path, jobs[0]);
    EXPECT_EQ(digests.Current(0), "");
    digests.Hash(path, again[0]);
    EXPECT_EQ(digests.Current(0), md5(0, 1000));
    // Bytes past the end of the file count for nothing.
    digests.Written(2400, 500, again);
    EXPECT_EQ(digests.Current(2), "");
    EXPECT_EQ(HashFileRange(nullptr, 0, 10), "");
}
