// Whole downloads against the loopback mirrors: clean, lying, stalling,
// resetting and dying mirrors, repairs, the fallback, stop and release, and
// manifest errors. Each run has a deadline and must end in one outcome.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <curl/curl.h>

#include <algorithm>
#include <set>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Digest.h"
#include "DownloaderCurl.h"
#include "MirrorFixture.h"
#include "TestSupport.h"
#include "Text.h"

using testing_support::ScratchFolder;

namespace {

const std::string kFile = "small.bin";  // 3.5 MiB: three whole blocks and a short one

struct Event {
    int event;
    unsigned value;
    long extra;
};

// One engine run from manifest text to its outcome.
class EngineRun {
public:
    EngineRun() : engine_(new DownloaderCurl) {
        ProgressCallback cb = [this](int e, unsigned v, long x) {
            std::lock_guard<std::mutex> guard(lock_);
            events_.push_back({e, v, x});
            return 1;
        };
        engine_->SetCallback(cb);
    }
    ~EngineRun() { Release(); }

    // Starts and waits as the installer does: downloading off and event 4 or 5.
    bool Download(const std::string& manifest, const std::wstring& target, DWORD deadlineMs) {
        manifest_ = manifest;
        std::string narrow = WideToUtf8(target);
        DWORD start = GetTickCount();
        engine_->StartWithConfigData(manifest_.c_str(), static_cast<int>(manifest_.size()), narrow);
        return Wait(start, deadlineMs);
    }

    bool Wait(DWORD start, DWORD deadlineMs) {
        while (GetTickCount() - start < deadlineMs) {
            if (!engine_->IsDownloading() && Finals() > 0) {
                elapsedMs = GetTickCount() - start;
                return true;
            }
            Sleep(50);
        }
        elapsedMs = GetTickCount() - start;
        return false;
    }

    int Finals() {
        std::lock_guard<std::mutex> guard(lock_);
        return static_cast<int>(std::count_if(events_.begin(), events_.end(),
                                              [](const Event& e) { return e.event == 4 || e.event == 5; }));
    }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    Event Final() {
        for (const Event& e : Events())
            if (e.event == 4 || e.event == 5) return e;
        return {0, 0, 0};
    }
    DownloaderCurl& engine() { return *engine_; }
    // The destructor joins every engine thread; returns how long that took.
    DWORD Release() {
        DWORD start = GetTickCount();
        engine_.reset();
        return GetTickCount() - start;
    }

    DWORD elapsedMs = 0;

private:
    std::unique_ptr<DownloaderCurl> engine_;
    std::mutex lock_;
    std::vector<Event> events_;
    std::string manifest_;
};

std::string Md5Of(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "";
    char buffer[64] = {};
    GetFileHash(f, buffer, sizeof(buffer));
    fclose(f);
    return buffer;
}

std::vector<std::string> Hosts(std::initializer_list<int> last, bool https = false) {
    std::vector<std::string> urls;
    for (int i : last) urls.push_back(mirrors::Url(mirrors::Host(i), kFile, https));
    return urls;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        mirrors::SetScenario({});
        digests_ = mirrors::PayloadDigests(kFile);
        ASSERT_EQ(digests_.size, 3670016);
        target_ = dir_ / L"setup.exe";
    }
    void TearDown() override { mirrors::SetScenario({}); }

    // A successful run: event (5, size, size) once, state 5, the right file.
    void ExpectVerified(EngineRun& run) {
        EXPECT_EQ(run.Finals(), 1);
        Event e = run.Final();
        EXPECT_EQ(e.event, 5);
        EXPECT_EQ(e.value, static_cast<unsigned>(digests_.size));
        EXPECT_EQ(e.extra, static_cast<long>(digests_.size));
        EXPECT_EQ(run.engine().GetState(), E_State_Succeed);
        EXPECT_EQ(Md5Of(target_), digests_.whole);
    }
    void ExpectFailed(EngineRun& run, DownloadError error) {
        EXPECT_EQ(run.Finals(), 1);
        EXPECT_EQ(run.Final().event, 4);
        EXPECT_EQ(run.engine().GetState(), E_State_Fail);
        EXPECT_EQ(run.engine().GetErrorName(), GetDownloadErrorName(error));
        EXPECT_FALSE(run.engine().IsDownloading());
    }

    ScratchFolder dir_{L"transfer"};
    std::wstring target_;
    mirrors::Digests digests_;
};

}  // namespace

TEST_F(Transfer, CleanDownloadFromSeveralMirrors) {
    mirrors::Log log;
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({2, 3, 6, 7}, true)), target_, 30000));
    ExpectVerified(run);
    EXPECT_EQ(run.engine().GetErrorName(), "NoError");
    EXPECT_FALSE(run.engine().IsUsingFallback());

    auto events = run.Events();
    unsigned last = 0;
    int itemEnds = 0;
    for (const Event& e : events) {
        if (e.event == 3) {
            EXPECT_GE(e.value, last);
            EXPECT_LE(e.value, static_cast<unsigned>(digests_.size));
            last = e.value;
        }
        if (e.event == 7) ++itemEnds;
    }
    Sleep(300);  // a transfer ending with the last one may still report its end
    events = run.Events();
    itemEnds = static_cast<int>(std::count_if(events.begin(), events.end(), [](const Event& e) { return e.event == 7; }));
    DownloadProgress progress;
    run.engine().GetProgress(&progress);
    EXPECT_EQ(itemEnds, static_cast<int>(progress.items.size()));  // one event 7 per transfer
    EXPECT_EQ(progress.connections, 8);

    Sleep(300);
    auto gets = mirrors::Only(log.Requests(), "GET", "/download/");
    ASSERT_GE(gets.size(), 8u);
    std::set<std::string> hosts;
    for (const auto& r : gets) {
        hosts.insert(r.host);
        EXPECT_EQ(r.ua, "Downloader");
        EXPECT_EQ(r.status, 206);
        EXPECT_LE(r.first(), r.last());
    }
    EXPECT_EQ(hosts.size(), 4u);
    // The figures account for the whole file, per host.
    int64_t kb = 0;
    for (const auto& h : run.engine().GetHostSizeList()) kb += h.sizeKB;
    EXPECT_NEAR(static_cast<double>(kb), digests_.size / 1024.0, 8);
    EXPECT_LT(run.Release(), 5000u);
}

TEST_F(Transfer, OneFlippedByteRefetchesExactlyThatBlockElsewhere) {
    mirrors::SetScenario({{6, R"({"corrupt_first": 1000})"}});
    mirrors::Log log;
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 2, 3})), target_, 30000));
    ExpectVerified(run);
    Sleep(300);
    auto gets = mirrors::Only(log.Requests(), "GET", "/download/");
    int64_t corrupted = -1;
    for (const auto& r : gets)
        if (r.corrupted >= 0) corrupted = r.corrupted;
    ASSERT_GE(corrupted, 0) << "the mirror flipped nothing";
    const int64_t block = corrupted / 1048576 * 1048576;
    const int64_t blockEnd = std::min<int64_t>(block + 1048575, digests_.size - 1);
    int repairs = 0;
    for (const auto& r : gets) {
        if (r.first() == block && r.last() == blockEnd && r.t > 0) {
            ++repairs;
            EXPECT_NE(r.host, mirrors::Host(6));  // never from the mirror that gave the bad bytes
        }
    }
    EXPECT_EQ(repairs, 1);
    EXPECT_FALSE(run.engine().GetRepairLink().empty());
    EXPECT_EQ(run.engine().GetRepairLink().find(mirrors::Host(6)), std::string::npos);
}

TEST_F(Transfer, MirrorThatAlwaysCorruptsIsRepairedFromTheOthers) {
    mirrors::SetScenario({{6, R"({"corrupt_every": 65536})"}});
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 2, 3})), target_, 40000));
    ExpectVerified(run);
    EXPECT_EQ(run.engine().GetRepairLink().find(mirrors::Host(6)), std::string::npos);
}

TEST_F(Transfer, MirrorGoingSilentMidRangeIsMoved) {
    mirrors::SetScenario({{6, R"({"stall_after": 200000})"}});
    mirrors::Log log;
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 2, 3})), target_, 40000));
    ExpectVerified(run);
    Sleep(300);
    // Every byte the silent mirror kept back came from another one.
    auto gets = mirrors::Only(log.Requests(), "GET", "/download/");
    int moved = 0;
    for (const auto& stalled : mirrors::ForHost(gets, mirrors::Host(6))) {
        if (stalled.bytes < stalled.last() - stalled.first() + 1) {
            for (const auto& r : gets)
                if (r.host != mirrors::Host(6) && r.first() == stalled.first() + stalled.bytes) ++moved;
        }
    }
    EXPECT_GE(moved, 1);
}

TEST_F(Transfer, BurstyMirrorIsCaughtByTheStallRule) {
    // 64 KiB, then 9 s of silence: libcurl's low-speed limit (5 s below
    // 1 byte/s, averaged over its last seconds) stays quiet; only the
    // dispatcher's 6 s rule, looking every 2 s, moves it.
    mirrors::SetScenario({{6, R"({"burst": [65536, 9]})"}});
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 2, 3})), target_, 60000));
    ExpectVerified(run);
    DownloadProgress progress;
    run.engine().GetProgress(&progress);
    int stopped = 0;
    for (const auto& entry : progress.items) {
        const DownloadItem& item = entry.second;
        if (std::string(item.url).find(mirrors::Host(6)) != std::string::npos && item.status == E_Status_StopByDispatch &&
            item.result == CURLE_ABORTED_BY_CALLBACK)
            ++stopped;
    }
    EXPECT_GE(stopped, 1);
}

TEST_F(Transfer, ResetMidRangeIsRestartedFromTheFirstMissingByte) {
    mirrors::SetScenario({{6, R"({"reset_after": 150000})"}});
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 2, 3})), target_, 30000));
    ExpectVerified(run);
    DownloadProgress progress;
    run.engine().GetProgress(&progress);
    int replaced = 0;
    for (const auto& entry : progress.items)
        if (entry.second.status == E_Status_Replaced) ++replaced;
    EXPECT_GE(replaced, 1);
}

TEST_F(Transfer, RepliesForOtherBytesAreRefused) {
    // One mirror ignores Range (200, whole file), one ends every range short,
    // one answers with an error page: none of it lands at a range's start.
    mirrors::SetScenario({{6, R"({"ignore_range": true})"}, {7, R"({"short_by": 1000})"}, {8, R"({"status": 404})"}});
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 7, 8, 2})), target_, 40000));
    ExpectVerified(run);
}

TEST_F(Transfer, AllMirrorsDyingWithoutFallbackFails) {
    mirrors::SetScenario({{6, R"({"reset_after": 0})"}, {7, R"({"status": 500})"}});
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({6, 7})), target_, 30000));
    ExpectFailed(run, E_Error_DispatchFailError);
    EXPECT_NE(run.engine().GetCurlError(), 0);
    EXPECT_NE(run.engine().GetLastFailLink().find("/download/" + kFile), std::string::npos);
    EXPECT_EQ(run.Final().extra, static_cast<long>(digests_.size));
}

TEST_F(Transfer, FallbackAloneCarriesTheDownload) {
    mirrors::SetScenario({{6, R"({"head_length": "wrong"})"}});
    mirrors::Log log;
    EngineRun run;
    std::vector<std::string> urls = Hosts({6});
    urls.push_back(mirrors::FallbackUrl(mirrors::Host(8), kFile));
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, urls), target_, 30000));
    ExpectVerified(run);
    DownloadProgress progress;
    run.engine().GetProgress(&progress);
    EXPECT_EQ(progress.connections, 5);
    EXPECT_NEAR(run.engine().GetFallbackSizeKB(), digests_.size / 1024.0, 8);
    auto sizes = run.engine().GetHostSizeList();
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].host, FallbackHostMarkers().front());
    EXPECT_EQ(sizes[0].sizeKB, static_cast<int64_t>(run.engine().GetFallbackSizeKB()));
    Sleep(300);
    for (const auto& r : log.Requests()) EXPECT_NE(r.path, "/flag.php");
}

TEST_F(Transfer, FailedRangeMovesToTheFallback) {
    mirrors::SetScenario({{6, R"({"reset_after": 0})"}});
    EngineRun run;
    std::vector<std::string> urls = Hosts({6});
    urls.push_back(mirrors::FallbackUrl(mirrors::Host(8), kFile));
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, urls), target_, 30000));
    ExpectVerified(run);
    EXPECT_TRUE(run.engine().IsUsingFallback());
    // The dying mirror's ranges were restarted on the fallback.
    DownloadProgress progress;
    run.engine().GetProgress(&progress);
    int replaced = 0;
    for (const auto& entry : progress.items) {
        const DownloadItem& item = entry.second;
        if (item.status == E_Status_Replaced) {
            ++replaced;
            EXPECT_NE(std::string(item.url).find(mirrors::Host(6)), std::string::npos);
        }
    }
    EXPECT_GE(replaced, 1);
}

TEST_F(Transfer, TargetThatAlreadyMatchesNeedsNoTraffic) {
    ASSERT_TRUE(testing_support::WriteFileBytes(target_, testing_support::ReadFileBytes(mirrors::PayloadPath(kFile))));
    mirrors::Log log;
    EngineRun run;
    ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({2, 3})), target_, 10000));
    EXPECT_EQ(run.Finals(), 1);
    Event e = run.Final();
    EXPECT_EQ(e.event, 5);
    EXPECT_EQ(e.value, 0u);
    EXPECT_EQ(e.extra, 1);
    EXPECT_EQ(run.engine().GetState(), E_State_Succeed);
    EXPECT_EQ(run.engine().GetErrorName(), "NoNeedDownload");
    Sleep(300);
    EXPECT_TRUE(log.Requests().empty());
    EXPECT_TRUE(log.Echoes().empty());
}

TEST_F(Transfer, FewerBytesThanRangesGivesNoEmptyRange) {
    mirrors::Log log;
    EngineRun run;
    const std::string tiny = "tiny.bin";
    std::vector<std::string> urls;
    for (int i : {2, 3, 4, 5}) urls.push_back(mirrors::Url(mirrors::Host(i), tiny));
    ASSERT_TRUE(run.Download(mirrors::Manifest(tiny, urls), target_, 20000));
    EXPECT_EQ(run.Final().event, 5);
    EXPECT_EQ(Md5Of(target_), mirrors::PayloadDigests(tiny).whole);
    Sleep(300);
    auto gets = mirrors::Only(log.Requests(), "GET", "/download/");
    EXPECT_EQ(gets.size(), 5u);
    for (const auto& r : gets) EXPECT_EQ(r.first(), r.last()) << r.range;
}

TEST_F(Transfer, StopAndReleaseMidTransfer) {
    mirrors::SetScenario({{6, R"({"rate": 100000})"}, {7, R"({"rate": 100000})"}});
    EngineRun run;
    std::string manifest = mirrors::Manifest(kFile, Hosts({6, 7}));
    run.engine().StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()), WideToUtf8(target_));
    DWORD start = GetTickCount();
    DownloadProgress progress;
    while (GetTickCount() - start < 15000) {
        run.engine().GetProgress(&progress);
        if (progress.written > 100000) break;
        Sleep(50);
    }
    ASSERT_GT(progress.written, 100000u);
    EXPECT_EQ(run.engine().StopDownload(), 0);
    EXPECT_FALSE(run.engine().IsDownloading());
    run.engine().GetProgress(&progress);
    EXPECT_EQ(progress.fileSize, 0u);
    EXPECT_EQ(progress.written, 0u);
    for (const auto& entry : progress.items) EXPECT_EQ(entry.second.status, E_Status_StopByDispatch);
    EXPECT_LT(run.Release(), 10000u);  // every thread joined
    EXPECT_EQ(run.Finals(), 0);        // a stop sends no outcome

    // A release without a stop, in the middle of the transfer.
    EngineRun second;
    second.engine().StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()),
                                        WideToUtf8(dir_ / L"second.exe"));
    Sleep(1500);
    EXPECT_LT(second.Release(), 10000u);
    // And the asynchronous release the installer uses.
    IDownloader* third = nullptr;
    ASSERT_EQ(CreateDownloader(&third), 1);
    third->StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()), WideToUtf8(dir_ / L"third.exe"));
    Sleep(1000);
    EXPECT_EQ(ReleaseDownloaderAsync(third), 1);
    Sleep(3000);
}

TEST_F(Transfer, TargetThatCannotBeOpenedOrWrittenFails) {
    {
        EngineRun run;
        ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({2})), dir_ / L"no\\such\\folder\\setup.exe", 20000));
        ExpectFailed(run, E_Error_CheckHashError);
        EXPECT_EQ(run.Final().value, 0u);
    }
    {
        // A full disk: every write fails.
        EngineRun run;
        ASSERT_TRUE(run.Download(mirrors::Manifest(kFile, Hosts({2, 3})), L"Z:\\dev\\full", 20000));
        ExpectFailed(run, E_Error_CheckHashError);
    }
}

TEST_F(Transfer, ManifestErrors) {
    const std::string good = mirrors::Manifest(kFile, Hosts({2}));
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string m = good;
        size_t p = m.find(from);
        EXPECT_NE(p, std::string::npos) << from;
        if (p != std::string::npos) m.replace(p, from.size(), to);
        return m;
    };
    std::string noHash = good.substr(0, good.find("\t<hash")) + "</download>\n";
    std::string longUrl = replace(Hosts({2})[0], "http://" + mirrors::Host(2) + "/download/" + std::string(1100, 'a'));
    struct Case { std::string text; DownloadState state; DownloadError error; } cases[] = {
        {replace("version=\"1\"", "version=\"2\""), E_State_NeedUpdate, E_Error_NeedUpdateDownload},
        {replace("version=\"1\"", ""), E_State_NeedUpdate, E_Error_ConfigLoadVersionError},
        {replace("size=\"3670016\"", ""), E_State_Fail, E_Error_ConfigLoadFileSizeError},
        {replace("<url size=\"1\">", "<url>"), E_State_Fail, E_Error_ConfigLoadUrlSizeError},
        {replace("<url size=\"1\">", "<url size=\"3\">"), E_State_Fail, E_Error_ConfigLoadUrlError},
        {longUrl, E_State_Fail, E_Error_ConfigLoadUrlError},
        {noHash, E_State_Fail, E_Error_ConfigLoadHashSizeError},
        {replace("<hash size=\"5\">", "<hash size=\"6\">"), E_State_Fail, E_Error_ConfigLoadHashError},
        {replace(digests_.blocks[1], "ABC"), E_State_Fail, E_Error_ConfigLoadHashError},
        {"this is not XML <", E_State_Fail, E_Error_ConfigLoadError},
    };
    mirrors::Log log;
    for (const auto& c : cases) {
        EngineRun run;
        ASSERT_TRUE(run.Download(c.text, target_, 10000)) << c.text;
        EXPECT_EQ(run.Finals(), 1);
        Event e = run.Final();
        EXPECT_EQ(e.event, 4);
        EXPECT_EQ(e.value, 0u);
        EXPECT_EQ(e.extra, 0);
        EXPECT_EQ(run.engine().GetState(), c.state) << c.text.substr(0, 200);
        EXPECT_EQ(run.engine().GetErrorName(), GetDownloadErrorName(c.error)) << c.text.substr(0, 200);
    }
    {
        // A target path that does not fit its record is refused at once.
        EngineRun run;
        std::string manifest = good;
        DWORD start = GetTickCount();
        EXPECT_EQ(run.engine().StartWithConfigData(manifest.c_str(), 0, std::string(300, 'x')), E_INVALIDARG);
        EXPECT_TRUE(run.Wait(start, 1000));
        EXPECT_EQ(run.Final().event, 4);
        EXPECT_EQ(run.engine().GetErrorName(), "ConfigLoadError");
    }
    {
        EngineRun run;
        DWORD start = GetTickCount();
        run.engine().StartWithConfigData(nullptr, 0, WideToUtf8(target_));
        EXPECT_TRUE(run.Wait(start, 5000));
        EXPECT_EQ(run.Final().event, 4);
        EXPECT_EQ(run.engine().GetState(), E_State_Fail);
    }
    Sleep(200);
    EXPECT_TRUE(log.Requests().empty());  // nothing reached a mirror
}

TEST_F(Transfer, ManifestFetchedFromAUrl) {
    std::wstring served = mirrors::Folder() + L"\\www\\download\\manifest-" + std::to_wstring(GetCurrentProcessId()) + L".xml";
    ASSERT_TRUE(testing_support::WriteFileBytes(served, mirrors::Manifest(kFile, Hosts({2, 3}))));
    std::string name = WideToUtf8(served.substr(served.rfind(L'\\') + 1));
    {
        EngineRun run;
        DWORD start = GetTickCount();
        ASSERT_EQ(run.engine().StartWithConfigUrl(mirrors::Url(mirrors::Host(2), name), WideToUtf8(target_)), 0);
        ASSERT_TRUE(run.Wait(start, 30000));
        ExpectVerified(run);
        EXPECT_TRUE(testing_support::FileExists(target_ + L".cfg"));
    }
    DeleteFileW(served.c_str());
    {
        // Three attempts, one failure event after the last.
        EngineRun run;
        DWORD start = GetTickCount();
        ASSERT_EQ(run.engine().StartWithConfigUrl(mirrors::Url(mirrors::Host(2), "gone.xml"), WideToUtf8(dir_ / L"b.exe")), 0);
        ASSERT_TRUE(run.Wait(start, 30000));
        EXPECT_EQ(run.Finals(), 1);
        EXPECT_EQ(run.Final().event, 4);
        EXPECT_EQ(run.engine().GetErrorName(), "ConfigDownloadError");
    }
    EngineRun run;
    EXPECT_EQ(run.engine().StartWithConfigUrl(std::string(600, 'u'), WideToUtf8(target_)), E_INVALIDARG);
    EXPECT_EQ(run.engine().StartWithConfigUrl(mirrors::Url(mirrors::Host(2), "x.xml"), std::string(257, 'p')), E_INVALIDARG);
}

TEST_F(Transfer, StopWhileProbingEndsWithoutAnOutcome) {
    mirrors::SetScenario({{6, R"({"head_hang": true})"}});
    EngineRun run;
    std::string manifest = mirrors::Manifest(kFile, Hosts({6, 2}));
    run.engine().StartWithConfigData(manifest.c_str(), static_cast<int>(manifest.size()), WideToUtf8(target_));
    EXPECT_TRUE(run.engine().IsDownloading());  // on from the start, through probing
    Sleep(1000);
    run.engine().StopDownload();
    EXPECT_FALSE(run.engine().IsDownloading());
    EXPECT_LT(run.Release(), 8000u);  // the silent HEAD is abandoned, not waited out
    EXPECT_EQ(run.Finals(), 0);
}

TEST_F(Transfer, LowerCaseDigestsVerifyAsWell) {
    std::string manifest = mirrors::Manifest(kFile, Hosts({2, 3}));
    for (char& c : manifest)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    EngineRun run;
    ASSERT_TRUE(run.Download(manifest, target_, 20000));
    ExpectVerified(run);
    EXPECT_TRUE(run.engine().GetRepairLink().empty());  // nothing was fetched twice
}
