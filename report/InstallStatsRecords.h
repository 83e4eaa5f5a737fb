// The value records that the installer fills and hands to the statistics
// reporter. All are plain values, copied in; texts are narrow strings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The fixed facts of one run, filled once by the main dialog.
struct InstallStatsParams {
    std::string strUuid;         // fresh GUID of this run, 32 upper-case hex digits
    std::string strProductKey;   // "id"
    std::string strOption;       // option tag of the installer's file name
    std::string strSource;       // source tag of the installer's file name
    std::string strVersion;      // version text without its dots
    std::string strLogPath;      // the install log's path in UTF-8, attached to failed finish reports
    std::string strReserved;     // never filled; copied and never read
    std::string strDomain;       // the maker's domain, "domain" of the analytics request
    std::string strClientId;     // platform id: "204" for the 64-bit product, "203" for the 32-bit one
    std::string strProductName;  // "app_name"
    bool bIs64Product = false;   // the package is the 64-bit build
    bool bIs64System = false;    // Windows is 64-bit

    // Values owned by the application layer, handed in so that reporting never
    // reaches up into it.
    std::string strLangCode;     // code of the active UI language ("ENU", ...), "language"
    std::string strWebStatsUrl;  // base address of the analytics service, e.g. "https://host"
};

// One mirror's diagnostics, copied from the download engine.
struct UrlStatsRecord {
    std::string strUrl;          // kept, not reported
    bool bValid = false;
    int32_t nPingMs = 0;
    std::string strHost;
    bool bNetworkNotFull = false;  // the mirror accepted more load
    bool bPingOk = false;
    int64_t llCfgSize = 0;       // bytes, from the manifest
    int64_t llWebSize = 0;       // bytes, as the mirror reported (-1 on a read error)
    int64_t llDownloadKB = 0;    // KiB fetched from this mirror's host (used mirrors only)
    std::string strSwitchReasons;  // "repair,", "timeOut,", "fail,", "success_new," in the order met
};

// The download phase's diagnostics, handed over after the engine stopped.
struct DownloadStatsRecord {
    std::vector<UrlStatsRecord> vecAllUrls;
    std::vector<UrlStatsRecord> vecUsedUrls;
    double dFallbackSizeKB = 0.0;
    bool bSucceeded = false;
    int32_t nErrorCode = 0;      // kept, not reported
    std::string strErrorName;
    int32_t nCurlError = 0;
    std::string strLastFailLink;
    std::string strRepairLink;
    bool bSwitchRepair = false;
    bool bSwitchFail = false;
    bool bSwitchTimeout = false;
    bool bSwitchSplit = false;
};

// The package phase's result.
struct InstallResultRecord {
    bool bSucceeded = false;
    int32_t nResultCode = 0;     // kept, not reported
    std::string strLastError;
    bool bShowThankYou = false;
};

// The user's choices, built by the main dialog at close time.
struct InstallOptionFlags {
    bool bDownloadDone = false;  // not reported
    bool bAutoInstall = false;
    bool bRunApp = false;
    bool bChangeInstallPath = false;
    bool bAddPlan = true;
    bool bCreateDesktop = true;
};

// Offered: the record of a crash report.
struct CrashReportInfo {
    std::string strUrl;
    std::string strUuid;
    std::string strFilePath;  // the attached file's path in UTF-8
    std::string strProductKey;
};

// Offered: the record of a user-info upload; strReply receives the service's reply.
struct UserInfoUpload {
    std::string strUrl;
    std::string strMachineId;
    std::string strEmail;
    std::string strDomain;
    std::string strReply;
};
