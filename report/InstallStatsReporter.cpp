#include "InstallStatsReporter.h"

#include <utility>

// 0 is kept for "not taken", so the one millisecond in 49.7 days that reads 0 becomes 1.
DWORD InstallStatsReporter::NowTick() const {
    DWORD now = tickSource_ ? tickSource_() : GetTickCount();
    return now ? now : 1;
}

void InstallStatsReporter::SetTickSource(TickSource source) {
    std::lock_guard<std::mutex> guard(lock_);
    tickSource_ = std::move(source);
}

InstallStatsReporter::InstallStatsReporter() = default;

InstallStatsReporter::InstallStatsReporter(std::string strReportUrl, InstallStatsParams params)
    : strReportUrl_(std::move(strReportUrl)),
      strUuid_(std::move(params.strUuid)),
      strProductKey_(std::move(params.strProductKey)),
      strOption_(std::move(params.strOption)),
      strSource_(std::move(params.strSource)),
      strLogPath_(std::move(params.strLogPath)),
      strVersion_(std::move(params.strVersion)),
      strProductName_(std::move(params.strProductName)),
      strReserved_(std::move(params.strReserved)),
      strDomain_(std::move(params.strDomain)),
      strClientId_(std::move(params.strClientId)),
      strLangCode_(std::move(params.strLangCode)),
      strWebStatsUrl_(std::move(params.strWebStatsUrl)),
      bIs64Product_(params.bIs64Product),
      bIs64System_(params.bIs64System) {
    char language[32] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, language, sizeof(language)) > 0)
        strSystemLanguage_ = language;
}

InstallStatsReporter::~InstallStatsReporter() = default;

void InstallStatsReporter::MarkWorkStarted() {
    std::lock_guard<std::mutex> guard(lock_);
    state_.bWorkStarted = true;
}

void InstallStatsReporter::OnDownloadStart() {
    std::lock_guard<std::mutex> guard(lock_);
    state_.dwDownloadStart = NowTick();
    state_.bDownloadFinished = false;
}

void InstallStatsReporter::SetProgress(int32_t nProgressRate, int32_t nSpeed, int32_t nAverageSpeed,
                                       bool bFallbackInUse) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.nProgressRate = nProgressRate;
    state_.nSpeed = nSpeed;
    state_.nAverageSpeed = nAverageSpeed;
    state_.bFallbackInUse = bFallbackInUse;
}

void InstallStatsReporter::OnDownloadFinished(DownloadStatsRecord record) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.dwDownloadEnd = NowTick();
    state_.strLastFailLink = std::move(record.strLastFailLink);
    state_.strRepairLink = std::move(record.strRepairLink);
    state_.strErrorName = std::move(record.strErrorName);
    state_.nErrorCode = record.nErrorCode;
    state_.nCurlError = record.nCurlError;
    state_.vecAllUrls = std::move(record.vecAllUrls);
    state_.vecUsedUrls = std::move(record.vecUsedUrls);
    state_.dFallbackSizeKB = record.dFallbackSizeKB;
    state_.bSwitchRepair = record.bSwitchRepair;
    state_.bSwitchFail = record.bSwitchFail;
    state_.bSwitchTimeout = record.bSwitchTimeout;
    state_.bSwitchSplit = record.bSwitchSplit;
    state_.bDownloadSucceeded = record.bSucceeded;
    state_.bDownloadFinished = true;
}

void InstallStatsReporter::OnInstallStart() {
    std::lock_guard<std::mutex> guard(lock_);
    state_.dwInstallStart = NowTick();
    state_.bInstalling = true;
}

void InstallStatsReporter::OnInstallFinished(InstallResultRecord record) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.dwInstallEnd = NowTick();
    state_.strInstallError = std::move(record.strLastError);
    state_.nInstallResult = record.nResultCode;
    state_.bInstallSucceeded = record.bSucceeded;
    state_.bShowThankYou = record.bShowThankYou;
    state_.bInstalling = false;
}

void InstallStatsReporter::AddExtraString(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.mapExtraString.emplace(key, value);
}

void InstallStatsReporter::AddExtraInt(const std::string& key, int32_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    state_.mapExtraInt.emplace(key, value);
}

std::string InstallStatsReporter::GetInstallStatus() {
    std::lock_guard<std::mutex> guard(lock_);
    return StatusLocked();
}

// The service receives these words exactly as written, spelling included.
std::string InstallStatsReporter::StatusLocked() {
    if (!state_.bWorkStarted) return "cancel";
    if (!state_.bDownloadFinished) {
        state_.dwDownloadEnd = NowTick();
        return "donwload_cancel";
    }
    if (state_.bInstallSucceeded) return "success";
    if (state_.bInstalling) {
        state_.dwInstallEnd = NowTick();
        return "install_cancel";
    }
    if (state_.bDownloadSucceeded) return "install_fail";
    return "downLoad_fail";
}

int32_t InstallStatsReporter::GetProductClass() const {
    const std::string& id = strClientId_;
    if (id == "57" || id == "58") return 1;
    if (id == "48" || id == "49") return 2;
    if (id == "31") return 3;
    if (id == "203" || id == "204") return 4;
    if (id == "92") return 7;
    if (id == "90") return 6;
    return 0;
}
