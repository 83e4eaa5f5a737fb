// The JSON documents of the statistics reports.
#include <windows.h>

#include <climits>
#include <cstdio>
#include <string>

#include "InstallStatsKeys.h"
#include "InstallStatsReporter.h"
#include "SystemInfo.h"

using namespace InstallStatsKeys;

namespace {

// The service reads yes/no values as the strings "true" and "false".
std::string YesNo(bool value) { return value ? "true" : "false"; }
std::string Digit(bool value) { return value ? "1" : "0"; }
std::string Bitness(bool is64) { return is64 ? "x64" : "x86"; }

int32_t TruncateToInt32(double value) {
    if (!(value > INT_MIN)) return value != value ? 0 : INT_MIN;
    if (!(value < INT_MAX)) return INT_MAX;
    return static_cast<int32_t>(value);
}

CJsonObject MirrorObject(const UrlStatsRecord& url) {
    CJsonObject mirror;
    mirror.Add("invalid", static_cast<int32_t>(url.bValid ? 1 : 0));
    mirror.Add("domain", url.strHost);
    mirror.Add("ping_time", url.nPingMs);
    mirror.Add("ping", static_cast<int32_t>(url.bPingOk ? 1 : 0));
    mirror.Add("is_full", static_cast<int32_t>(url.bNetworkNotFull ? 1 : 0));
    mirror.Add("cfg_file_size_kb", static_cast<int32_t>(url.llCfgSize / 1024));
    mirror.Add("web_file_size_kb", static_cast<int32_t>(url.llWebSize / 1024));
    return mirror;
}

// In the summary a 1 after "is_full-" means the mirror did not accept more
// load: the opposite sense of the object's "is_full".
std::string MirrorSummaryHead(const UrlStatsRecord& url) {
    return "(domain-" + url.strHost + ",invalid-" + Digit(url.bValid) + ",ping_time-" +
           std::to_string(url.nPingMs) + ",ping-" + Digit(url.bPingOk) + ",is_full-" +
           Digit(!url.bNetworkNotFull);
}

std::string AllMirrorSummary(const UrlStatsRecord& url) { return MirrorSummaryHead(url) + ")"; }

std::string UsedMirrorSummary(const UrlStatsRecord& url) {
    bool switched = !url.strSwitchReasons.empty();
    return MirrorSummaryHead(url) + ",download_size-" + Digit(url.llDownloadKB == 0) + "switch_amazon-" +
           Digit(switched) + ",switch_amazon_reason-" + url.strSwitchReasons + ")";
}

void AddMirrorList(CJsonObject& install, const std::vector<UrlStatsRecord>& urls, bool used) {
    if (urls.empty()) return;
    CJsonObject array;
    std::string summaries;
    for (const auto& url : urls) {
        CJsonObject mirror = MirrorObject(url);
        if (used) {
            mirror.Add("download_file_size_kb", static_cast<int64_t>(url.llDownloadKB));
            mirror.Add("switch_amazon", YesNo(!url.strSwitchReasons.empty()));
            mirror.Add("switch_amazon_reason", url.strSwitchReasons);
            summaries += UsedMirrorSummary(url);
        } else {
            summaries += AllMirrorSummary(url);
        }
        array.Add(mirror);
    }
    install.Add(used ? kUsedUrlInfo : kAllUrlInfo, array);
    install.Add(used ? kUsedUrlInfoStr : kAllUrlInfoStr, summaries);
}

// The unformatted text of an object starts with its brace; any other value
// (an array, a scalar) cannot carry the report's keys.
bool IsObject(const CJsonObject& json) {
    std::string text = json.ToString();
    return !text.empty() && text[0] == '{';
}

}  // namespace

int32_t DurationSeconds(DWORD startTick, DWORD endTick) {
    if (startTick == 0 || endTick == 0) return 0;
    return static_cast<int32_t>(endTick - startTick) / 1000;
}

std::string FormatDuration(int32_t seconds) {
    if (seconds < 0) return std::string();
    char text[32];
    snprintf(text, sizeof(text), "%02d:%02d:%02d", seconds / 3600, (seconds % 3600) / 60, seconds % 60);
    return text;
}

std::string InstallStatsReporter::FormatSpeed(int32_t bytesPerSecond) {
    char text[128];
    if (bytesPerSecond > 1048576)
        snprintf(text, sizeof(text), "%.2fMB", bytesPerSecond / 1048576.0);
    else if (bytesPerSecond > 1024)
        snprintf(text, sizeof(text), "%.2fKB", bytesPerSecond / 1024.0);
    else
        snprintf(text, sizeof(text), "%dByte", bytesPerSecond);
    return text;
}

std::string InstallStatsReporter::GetLocalTimeText() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char text[64];
    snprintf(text, sizeof(text), "%d-%02d-%02d_%02d:%02d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    return text;
}

CJsonObject InstallStatsReporter::AppObject() const {
    CJsonObject app;
    app.Add(kLanguage, strLangCode_);
    app.Add(kSystemVersion, GetWindowsVersionName());
    app.Add(kId, strProductKey_);
    app.Add(kType, Bitness(bIs64Product_));
    app.Add(kVersion, strVersion_);
    app.Add(kClientId, strClientId_);
    app.Add(kAppName, strProductName_);
    return app;
}

CJsonObject InstallStatsReporter::StartInstallObject() const {
    CJsonObject install;
    install.Add(kUuid, strUuid_);
    install.Add(kOption, strOption_);
    install.Add(kSource, strSource_);
    install.Add(kSystemType, Bitness(bIs64System_));
    install.Add(kLocalTime, GetLocalTimeText());
    install.Add(kInstallStatus, std::string("start"));
    return install;
}

CJsonObject InstallStatsReporter::InstallObject(const State& s, const std::string& status,
                                                InstallOptionFlags flags) const {
    int32_t downloadSeconds = DurationSeconds(s.dwDownloadStart, s.dwDownloadEnd);
    int32_t installSeconds = DurationSeconds(s.dwInstallStart, s.dwInstallEnd);
    int32_t runSeconds = DurationSeconds(s.dwReportStart, s.dwReportEnd);

    CJsonObject install;
    install.Add(kDataVersion, static_cast<int32_t>(1022));
    install.Add(kUuid, strUuid_);
    install.Add(kOption, strOption_);
    install.Add(kSource, strSource_);
    install.Add(kSystemLanguage, strSystemLanguage_);
    install.Add(kSystemType, Bitness(bIs64System_));
    install.Add(kInstallStatus, status);
    install.Add(kLocalTime, GetLocalTimeText());
    install.Add(kAmazonDownload, YesNo(s.bFallbackInUse));
    install.Add(kShowThankYou, YesNo(s.bShowThankYou));
    install.Add(kDownloadLastError, s.strErrorName);
    install.Add(kInstallLastError, s.strInstallError);
    install.Add(kDownloadSecond, downloadSeconds);
    install.Add(kDownloadTimeString, FormatDuration(downloadSeconds));
    install.Add(kInstallSecond, installSeconds);
    install.Add(kInstallTimeString, FormatDuration(installSeconds));
    install.Add(kAppRunSecond, runSeconds);
    install.Add(kAppRuntimeString, FormatDuration(runSeconds));
    install.Add(kProgressRate, s.nProgressRate);
    install.Add(kSpeedString, FormatSpeed(s.nSpeed));
    install.Add(kAverageSpeedString, FormatSpeed(s.nAverageSpeed));
    install.Add(kSpeed, s.nSpeed);
    install.Add(kAverageSpeed, s.nAverageSpeed);
    install.Add(kAutoInstall, YesNo(flags.bAutoInstall));
    install.Add(kRunApp, YesNo(flags.bRunApp));
    install.Add(kChangeInstallPath, YesNo(flags.bChangeInstallPath));
    install.Add(kAddPlan, YesNo(flags.bAddPlan));
    install.Add(kCreateDesktop, YesNo(flags.bCreateDesktop));
    install.Add(kDownloadAmazomSizeKb, TruncateToInt32(s.dFallbackSizeKB));
    install.Add(kVersion, strVersion_);
    install.Add(kRepairUseAmazom, YesNo(s.bSwitchRepair));
    install.Add(kFailUseAmazom, YesNo(s.bSwitchFail));
    install.Add(kTimeoutUseAmazom, YesNo(s.bSwitchTimeout));
    install.Add(kSuccessUseAmazom, YesNo(s.bSwitchSplit));
    install.Add(kRepairLink, s.strRepairLink);
    if (status == "downLoad_fail") {
        install.Add(kCurlError, s.nCurlError);
        install.Add(kLastFailLink, s.strLastFailLink);
    }
    AddMirrorList(install, s.vecAllUrls, false);
    AddMirrorList(install, s.vecUsedUrls, true);
    for (const auto& pair : s.mapExtraInt) install.Add(pair.first, pair.second);
    for (const auto& pair : s.mapExtraString) install.Add(pair.first, pair.second);
    return install;
}

std::string InstallStatsReporter::ComposeReport(const std::string& serverData, const CJsonObject& install) const {
    // The client data object leads the report; data that does not parse to an
    // object is left out rather than losing "app" and "install".
    CJsonObject document;
    if (!serverData.empty() && (!document.Parse(serverData) || !IsObject(document))) document.Clear();
    document.Add("app", AppObject());
    document.Add("install", install);
    return document.ToString();
}

CJsonObject InstallStatsReporter::BuildAppObject() { return AppObject(); }

CJsonObject InstallStatsReporter::BuildStartInstallObject() { return StartInstallObject(); }

CJsonObject InstallStatsReporter::BuildInstallObject(InstallOptionFlags flags) {
    State snapshot;
    std::string status;
    {
        // The status first: a cancelled phase's end time is part of the report.
        std::lock_guard<std::mutex> guard(lock_);
        status = StatusLocked();
        snapshot = state_;
    }
    return InstallObject(snapshot, status, flags);
}

CJsonObject InstallStatsReporter::BuildCrashInstallObject(const std::string& strUuid,
                                                          const std::string& strProductKey) {
    std::vector<std::string> macs = GetMacAddressList();
    CJsonObject install;
    install.Add(kDataVersion, static_cast<int32_t>(1022));
    install.Add(kMachineId, macs.empty() ? std::string() : macs.front());
    install.Add(kLanguage, strLangCode_);
    install.Add(kUuid, strUuid.empty() ? std::string("0000") : strUuid);
    install.Add(kId, strProductKey);
    install.Add(kInstallStatus, std::string("crash"));
    return install;
}

CJsonObject InstallStatsReporter::BuildUserObject(const std::string& strMail, const std::string& strToken) {
    CJsonObject user;
    user.Add(kMachineId, GetMachineId());
    user.Add(kMail, strMail);
    user.Add(kTokenId, strToken);
    return user;
}
