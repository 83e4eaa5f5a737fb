// Key names of the statistics reports, one constant text each. Plain arrays:
// nothing to destroy at exit while a report thread may still be composing.
#pragma once


namespace InstallStatsKeys {

// "app" object
inline constexpr char kLanguage[] = "language";
inline constexpr char kSystemVersion[] = "system_version";
inline constexpr char kId[] = "id";
inline constexpr char kType[] = "type";
inline constexpr char kVersion[] = "version";
inline constexpr char kClientId[] = "client_id";
inline constexpr char kAppName[] = "app_name";

// user object
inline constexpr char kMachineId[] = "machine_id";
inline constexpr char kTokenId[] = "token_id";
inline constexpr char kMail[] = "mail";

// "install" objects (start, finish, crash)
inline constexpr char kDataVersion[] = "data_version";
inline constexpr char kUuid[] = "uuid";
inline constexpr char kSource[] = "source";
inline constexpr char kOption[] = "option";
inline constexpr char kSystemType[] = "system_type";
inline constexpr char kSystemLanguage[] = "system_language";
inline constexpr char kInstallStatus[] = "install_status";
inline constexpr char kLocalTime[] = "localtime";
inline constexpr char kDownloadLastError[] = "download_last_error";
inline constexpr char kInstallLastError[] = "install_last_error";
inline constexpr char kAmazonDownload[] = "amazon_download";
inline constexpr char kShowThankYou[] = "show_thankyou";
inline constexpr char kDownloadSecond[] = "download_second";
inline constexpr char kDownloadTimeString[] = "download_time_string";
inline constexpr char kProgressRate[] = "progress_rate";
inline constexpr char kSpeed[] = "speed";
inline constexpr char kAverageSpeed[] = "average_speed";
inline constexpr char kSpeedString[] = "speed_string";
inline constexpr char kAverageSpeedString[] = "average_speed_string";
inline constexpr char kInstallSecond[] = "install_second";
inline constexpr char kInstallTimeString[] = "install_time_string";
inline constexpr char kAppRunSecond[] = "app_run_second";
inline constexpr char kAppRuntimeString[] = "app_runtime_string";
inline constexpr char kAutoInstall[] = "auto_install";
inline constexpr char kRunApp[] = "run_app";
inline constexpr char kChangeInstallPath[] = "change_install_path";
inline constexpr char kAddPlan[] = "add_plan";
inline constexpr char kCreateDesktop[] = "create_desktop";
inline constexpr char kCurlError[] = "curl_error";
inline constexpr char kLastFailLink[] = "last_fail_link";
inline constexpr char kRepairLink[] = "repair_link";
inline constexpr char kDownloadAmazomSizeKb[] = "download_amazom_size_kb";
inline constexpr char kRepairUseAmazom[] = "repair_use_amazom";
inline constexpr char kFailUseAmazom[] = "fail_use_amazom";
inline constexpr char kTimeoutUseAmazom[] = "timeout_use_amazom";
inline constexpr char kSuccessUseAmazom[] = "success_use_amazom";
inline constexpr char kAllUrlInfo[] = "all_url_info";
inline constexpr char kUsedUrlInfo[] = "used_url_info";
inline constexpr char kAllUrlInfoStr[] = "all_url_info_str";
inline constexpr char kUsedUrlInfoStr[] = "used_url_info_str";

// never used by any report
inline constexpr char kInstallStep[] = "install_step";

}  // namespace InstallStatsKeys
