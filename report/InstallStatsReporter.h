// The install-statistics collector: fed by the installer's threads with the
// moments and results of one run, it builds the start and finish reports and
// posts them to the statistics service as multipart forms.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "JsonObject.h"
#include "InstallStatsRecords.h"

// Whole seconds from one tick count in milliseconds to another, right across
// a wrap of the counter. A phase whose start or end was never taken (0) lasted
// 0 seconds; an end before its start (a later attempt's start) is negative.
int32_t DurationSeconds(DWORD startTick, DWORD endTick);

// "%02d:%02d:%02d" of hours, minutes and seconds; hours may exceed two digits;
// the empty text for a negative count.
std::string FormatDuration(int32_t seconds);

class InstallStatsReporter {
public:
    InstallStatsReporter();
    InstallStatsReporter(std::string strReportUrl, InstallStatsParams params);
    ~InstallStatsReporter();
    InstallStatsReporter(const InstallStatsReporter&) = delete;
    InstallStatsReporter& operator=(const InstallStatsReporter&) = delete;

    // The clock of the phase stamps, milliseconds like GetTickCount (the
    // default); set before the first stamp is taken.
    using TickSource = std::function<DWORD()>;
    void SetTickSource(TickSource source);

    // Setters, called from the install worker and the painting thread.
    void MarkWorkStarted();
    void OnDownloadStart();
    void SetProgress(int32_t nProgressRate, int32_t nSpeed, int32_t nAverageSpeed, bool bFallbackInUse);
    void OnDownloadFinished(DownloadStatsRecord record);
    void OnInstallStart();
    void OnInstallFinished(InstallResultRecord record);
    // An existing key keeps its first value.
    void AddExtraString(const std::string& key, const std::string& value);
    void AddExtraInt(const std::string& key, int32_t value);

    // The status word summarising the run; a cancelled phase gets its end time set to now.
    std::string GetInstallStatus();
    // The product class (eproduct) of the client id, which selects the related-product parser.
    int32_t GetProductClass() const;

    // One attempt each; true when the service accepted the report. The callers
    // retry. Every attempt is bounded in time; the finish report's attempts
    // together stay within kFinishReportBudget, counted from the first one.
    bool SendStartReport();
    bool SendFinishReport(InstallOptionFlags flags);
    // Ends a start report in flight within about a second, and every later
    // start attempt at once; the finish report is not touched. Any thread.
    void CancelStartReport();
    bool IsStartReportCancelled() const;
    // Offered, not used by the installer.
    bool SendCrashReport(const CrashReportInfo& info);
    bool UploadUserInfo(UserInfoUpload& info);

    // The client data object of the analytics service, or the empty text.
    std::string FetchServerData();
    // strFilePath, the attachment's path (none when empty), is UTF-8.
    bool UploadReport(std::string strUrl, std::string strReport, std::string strUploadType, std::string strFilePath);

    // Report documents, each a new object.
    CJsonObject BuildAppObject();
    CJsonObject BuildStartInstallObject();
    CJsonObject BuildInstallObject(InstallOptionFlags flags);
    CJsonObject BuildCrashInstallObject(const std::string& strUuid, const std::string& strProductKey);
    CJsonObject BuildUserObject(const std::string& strMail, const std::string& strToken);

    static std::string FormatSpeed(int32_t bytesPerSecond);
    static std::string GetLocalTimeText();

    // Bounds of the transfers; a healthy service answers far within them.
    static constexpr std::chrono::seconds kUploadConnectTimeout{10};
    static constexpr std::chrono::seconds kUploadTimeout{20};
    static constexpr std::chrono::seconds kStartReportBudget{30};   // one start attempt, fetch and upload
    static constexpr std::chrono::seconds kStartFetchBudget{10};    // its client data fetch
    // All finish attempts together; a client data fetch takes at most half of
    // what is left, so a stalled analytics service still leaves time for the upload.
    static constexpr std::chrono::seconds kFinishReportBudget{8};

private:
    using Clock = std::chrono::steady_clock;

    // The moment of a call as a tick count in milliseconds; called with lock_ held.
    DWORD NowTick() const;

    // Everything the threads share; guarded by lock_. Reports are composed from
    // a copy taken under the lock, and no lock is held during network I/O.
    struct State {
        std::string strServerData;
        // download diagnostics
        std::string strLastFailLink, strRepairLink, strErrorName;
        int32_t nErrorCode = 0, nCurlError = 0;
        std::vector<UrlStatsRecord> vecAllUrls, vecUsedUrls;
        double dFallbackSizeKB = 0.0;
        bool bSwitchRepair = false, bSwitchFail = false, bSwitchTimeout = false, bSwitchSplit = false;
        // install result
        std::string strInstallError;
        int32_t nInstallResult = 0;
        bool bShowThankYou = false;
        // progress
        int32_t nProgressRate = 0, nSpeed = 0, nAverageSpeed = 0;
        bool bFallbackInUse = false;
        // run flags
        bool bWorkStarted = false, bDownloadFinished = false, bDownloadSucceeded = false;
        bool bInstalling = false, bInstallSucceeded = false;
        // tick counts in milliseconds; 0 means not taken yet
        DWORD dwReportStart = 0, dwReportEnd = 0, dwDownloadStart = 0, dwDownloadEnd = 0;
        DWORD dwInstallStart = 0, dwInstallEnd = 0;
        std::map<std::string, int32_t> mapExtraInt;
        std::map<std::string, std::string> mapExtraString;
    };

    std::string StatusLocked();
    CJsonObject AppObject() const;
    CJsonObject StartInstallObject() const;
    CJsonObject InstallObject(const State& state, const std::string& status, InstallOptionFlags flags) const;
    std::string ComposeReport(const std::string& serverData, const CJsonObject& install) const;
    std::string FetchServerDataUntil(Clock::time_point deadline, const std::atomic<bool>* cancel = nullptr);
    bool Upload(const std::string& url, const std::string& report, const std::string& type,
                const std::string& filePath, Clock::time_point deadline,
                const std::atomic<bool>* cancel = nullptr);

    // fixed at construction
    std::string strReportUrl_;
    std::string strUuid_, strProductKey_, strOption_, strSource_, strLogPath_, strVersion_;
    std::string strProductName_, strReserved_, strDomain_, strClientId_;
    std::string strLangCode_, strWebStatsUrl_;
    std::string strSystemLanguage_;
    bool bIs64Product_ = false, bIs64System_ = false;

    std::mutex lock_;
    TickSource tickSource_;  // guarded by lock_; empty means GetTickCount
    State state_;
    Clock::time_point finishDeadline_{};  // set by the first finish attempt
    bool bFinishDeadlineSet_ = false;
    std::atomic<bool> startCancelled_{false};
};
