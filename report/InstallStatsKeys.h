// Key names of the statistics reports, one constant text each.
#pragma once

#include <string>

namespace InstallStatsKeys {

// "app" object
inline const std::string kLanguage = "language";
inline const std::string kSystemVersion = "system_version";
inline const std::string kId = "id";
inline const std::string kType = "type";
inline const std::string kVersion = "version";
inline const std::string kClientId = "client_id";
inline const std::string kAppName = "app_name";

// user object
inline const std::string kMachineId = "machine_id";
inline const std::string kTokenId = "token_id";
inline const std::string kMail = "mail";

// "install" objects (start, finish, crash)
inline const std::string kDataVersion = "data_version";
inline const std::string kUuid = "uuid";
inline const std::string kSource = "source";
inline const std::string kOption = "option";
inline const std::string kSystemType = "system_type";
inline const std::string kSystemLanguage = "system_language";
inline const std::string kInstallStatus = "install_status";
inline const std::string kLocalTime = "localtime";
inline const std::string kDownloadLastError = "download_last_error";
inline const std::string kInstallLastError = "install_last_error";
inline const std::string kAmazonDownload = "amazon_download";
inline const std::string kShowThankYou = "show_thankyou";
inline const std::string kDownloadSecond = "download_second";
inline const std::string kDownloadTimeString = "download_time_string";
inline const std::string kProgressRate = "progress_rate";
inline const std::string kSpeed = "speed";
inline const std::string kAverageSpeed = "average_speed";
inline const std::string kSpeedString = "speed_string";
inline const std::string kAverageSpeedString = "average_speed_string";
inline const std::string kInstallSecond = "install_second";
inline const std::string kInstallTimeString = "install_time_string";
inline const std::string kAppRunSecond = "app_run_second";
inline const std::string kAppRuntimeString = "app_runtime_string";
inline const std::string kAutoInstall = "auto_install";
inline const std::string kRunApp = "run_app";
inline const std::string kChangeInstallPath = "change_install_path";
inline const std::string kAddPlan = "add_plan";
inline const std::string kCreateDesktop = "create_desktop";
inline const std::string kCurlError = "curl_error";
inline const std::string kLastFailLink = "last_fail_link";
inline const std::string kRepairLink = "repair_link";
inline const std::string kDownloadAmazomSizeKb = "download_amazom_size_kb";
inline const std::string kRepairUseAmazom = "repair_use_amazom";
inline const std::string kFailUseAmazom = "fail_use_amazom";
inline const std::string kTimeoutUseAmazom = "timeout_use_amazom";
inline const std::string kSuccessUseAmazom = "success_use_amazom";
inline const std::string kAllUrlInfo = "all_url_info";
inline const std::string kUsedUrlInfo = "used_url_info";
inline const std::string kAllUrlInfoStr = "all_url_info_str";
inline const std::string kUsedUrlInfoStr = "used_url_info_str";

// never used by any report
inline const std::string kInstallStep = "install_step";

}  // namespace InstallStatsKeys
