// Sending the statistics reports: the client data fetch, the multipart form
// POST and the test of the service's reply.
#include <winsock2.h>  // before windows.h, as libcurl needs it
#include <windows.h>

#include <curl/curl.h>
#include <shlwapi.h>

#include <memory>

#include "CurlHandle.h"
#include "HttpTransfer.h"
#include "InstallStatsReporter.h"
#include "JFile.h"
#include "Log.h"
#include "SystemInfo.h"
#include "Text.h"
#include "WebStatsManager.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the poll of a check may overrun the check's own deadline before it
// is interrupted; the check's transfers stop at the deadline by themselves.
constexpr std::chrono::seconds kCheckGrace{2};

struct CurlHandle {
    CurlEasy curl = MakeCurlEasy();
    CurlFormBuilder form;
};

report_http::TransferLimits UploadLimits(Clock::time_point deadline, const std::atomic<bool>* cancel = nullptr) {
    report_http::TransferLimits limits;
    limits.connectTimeoutMs = static_cast<long>(InstallStatsReporter::kUploadConnectTimeout.count() * 1000);
    limits.totalTimeoutMs = static_cast<long>(InstallStatsReporter::kUploadTimeout.count() * 1000);
    limits.deadline = deadline;
    limits.cancel = cancel;
    return limits;
}

// The file's bytes, read through its wide path so that a non-ASCII folder
// works; false when it does not exist or cannot be read.
bool ReadAttachment(const std::string& utf8Path, std::string& bytes, std::string& fileName) {
    if (utf8Path.empty()) return false;
    // The path passes through the process in UTF-8, so a profile folder the
    // ANSI code page cannot spell still finds its log.
    const std::wstring path = Utf8ToWide(utf8Path);
    if (path.empty()) return false;
    JFile file;
    if (!file.Open(path, E_File_Read | E_File_Binary)) return false;
    int64_t size = file.GetSize();
    if (size < 0) return false;
    bytes.resize(static_cast<size_t>(size));
    int64_t read = size > 0 ? file.Read(&bytes[0], bytes.size()) : 0;
    file.Close();
    if (read < 0) return false;
    bytes.resize(static_cast<size_t>(read));
    const wchar_t* name = PathFindFileNameW(path.c_str());
    fileName = WideToNarrow(std::wstring(name));
    return true;
}

// Posts the handle's form to url with the options of every statistics upload.
CURLcode PostForm(CurlHandle& handle, const std::string& url, std::string& reply) {
    SetBaseOptions(handle.curl.get(), url.c_str(), &AppendToString, &reply);
    curl_easy_setopt(handle.curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(handle.curl.get(), CURLOPT_HTTPPOST, handle.form.get());
    return curl_easy_perform(handle.curl.get());
}

// The service accepts a report with {"result": {"res": true}}; nothing else counts.
bool IsAccepted(const std::string& reply) {
    CJsonObject json;
    if (!json.Parse(reply) || json.IsEmpty()) return false;
    CJsonObject result;
    bool res = false;
    return json.Get("result", result) && result.Get("res", res) && res;
}

}  // namespace

void InstallStatsReporter::CancelStartReport() { startCancelled_ = true; }

bool InstallStatsReporter::IsStartReportCancelled() const { return startCancelled_.load(); }

bool InstallStatsReporter::SendStartReport() {
    if (startCancelled_) return false;
    Clock::time_point start = Clock::now();
    Clock::time_point deadline = start + kStartReportBudget;
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_.dwReportStart = NowTick();
    }
    std::string serverData = FetchServerDataUntil(start + kStartFetchBudget, &startCancelled_);
    if (startCancelled_) return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_.strServerData = serverData;
    }
    std::string report = ComposeReport(serverData, StartInstallObject());
    return Upload(strReportUrl_, report, std::string(), std::string(), deadline, &startCancelled_);
}

bool InstallStatsReporter::SendFinishReport(InstallOptionFlags flags) {
    Clock::time_point deadline;
    std::string status, serverData;
    State snapshot;
    {
        // The status word is taken once, with the state the report is built
        // from, so "upload_type" and "install_status" always agree.
        std::lock_guard<std::mutex> guard(lock_);
        if (!bFinishDeadlineSet_) {
            finishDeadline_ = Clock::now() + kFinishReportBudget;
            bFinishDeadlineSet_ = true;
        }
        deadline = finishDeadline_;
        status = StatusLocked();
        DWORD now = NowTick();
        if (state_.dwDownloadEnd == 0) state_.dwDownloadEnd = now;
        state_.dwReportEnd = now;
        serverData = state_.strServerData;
        snapshot = state_;
    }
    if (Clock::now() >= deadline) return false;
    std::string uploadFile = (status == "install_fail" || status == "downLoad_fail") ? strLogPath_ : std::string();
    if (serverData.empty()) {
        Clock::time_point now = Clock::now();
        serverData = FetchServerDataUntil(now + (deadline - now) / 2);
        std::lock_guard<std::mutex> guard(lock_);
        state_.strServerData = serverData;
    }
    std::string report = ComposeReport(serverData, InstallObject(snapshot, status, flags));
    return Upload(strReportUrl_, report, status, uploadFile, deadline);
}

bool InstallStatsReporter::SendCrashReport(const CrashReportInfo& info) {
    if (info.strUrl.empty()) return false;
    std::string serverData = FetchServerData();
    std::string report = ComposeReport(serverData, BuildCrashInstallObject(info.strUuid, info.strProductKey));
    return UploadReport(info.strUrl, report, "crash", info.strFilePath);
}

std::string InstallStatsReporter::FetchServerData() { return FetchServerDataUntil(Clock::time_point::max()); }

std::string InstallStatsReporter::FetchServerDataUntil(Clock::time_point deadline, const std::atomic<bool>* cancel) {
    WebStatsConfig config;
    config.strMachineId = GetMachineId();
    config.strDomain = strDomain_;
    config.eproduct = GetProductClass();
    config.bSaveCache = false;
    config.strServiceUrl = strWebStatsUrl_;
    config.deadline = deadline;

    std::shared_ptr<IWebStatsManager> client;
    if (!CreateWebStatsManager(config, client) || !client) return std::string();
    if (!client->Init()) return std::string();
    client->CheckNewVersion();
    // The check's transfers are bounded; without a deadline of the caller's
    // this poll is bounded by theirs (three attempts).
    Clock::time_point pollEnd = deadline == Clock::time_point::max()
                                    ? Clock::now() + 3 * WebStatsManager::kAttemptTimeout + kCheckGrace
                                    : deadline + kCheckGrace;
    // A cancel ends the poll; joining the client then interrupts its transfer.
    const auto cancelled = [cancel] { return cancel && cancel->load(); };
    while (!client->IsCheckFinished() && Clock::now() < pollEnd && !cancelled()) Sleep(50);
    std::string text = cancelled() ? std::string() : client->GetData();
    client->JoinThreads();
    return text;
}

bool InstallStatsReporter::UploadReport(std::string strUrl, std::string strReport, std::string strUploadType,
                                        std::string strFilePath) {
    return Upload(strUrl, strReport, strUploadType, strFilePath, Clock::time_point::max());
}

bool InstallStatsReporter::Upload(const std::string& url, const std::string& report, const std::string& type,
                                  const std::string& filePath, Clock::time_point deadline,
                                  const std::atomic<bool>* cancel) {
    CurlHandle handle;
    if (!handle.curl) return false;
    report_http::TransferGuard guard(UploadLimits(deadline, cancel));
    if (!guard.Apply(handle.curl.get())) {
        WriteLog("InstallStatsReporter: report not sent, time limit reached\n");
        return false;
    }

    handle.form.Add(CURLFORM_COPYNAME, "index", CURLFORM_COPYCONTENTS, "common_soft_install");
    handle.form.Add(CURLFORM_COPYNAME, "json_data", CURLFORM_COPYCONTENTS, report.c_str(), CURLFORM_CONTENTSLENGTH,
                    static_cast<long>(report.size()));
    // The file is read here rather than opened by libcurl, whose narrow open
    // would miss a path outside the ANSI code page's reach.
    std::string attachment, fileName;
    if (ReadAttachment(filePath, attachment, fileName)) {
        handle.form.Add(CURLFORM_COPYNAME, "upload_type", CURLFORM_COPYCONTENTS, type.c_str());
        handle.form.Add(CURLFORM_COPYNAME, "upload_file", CURLFORM_BUFFER, fileName.c_str(), CURLFORM_BUFFERPTR,
                        attachment.data(), CURLFORM_BUFFERLENGTH, static_cast<long>(attachment.size()));
    }

    std::string reply;
    CURLcode result = PostForm(handle, url, reply);
    if (result != CURLE_OK) {
        WriteLog("InstallStatsReporter: report not sent, curl %d: %s\n", static_cast<int>(result),
                 curl_easy_strerror(result));
        return false;
    }
    if (IsAccepted(reply)) return true;
    WriteLog("InstallStatsReporter: report not accepted, reply of %u bytes\n", static_cast<unsigned>(reply.size()));
    return false;
}

bool InstallStatsReporter::UploadUserInfo(UserInfoUpload& info) {
    CJsonObject user;
    user.Add("machine_id", info.strMachineId);
    user.Add("email", info.strEmail);
    user.Add("domain", info.strDomain);
    std::string text = user.ToString();

    CurlHandle handle;
    if (!handle.curl) return false;
    report_http::TransferGuard guard(UploadLimits(Clock::time_point::max()));
    if (!guard.Apply(handle.curl.get())) return false;
    handle.form.Add(CURLFORM_COPYNAME, "json_data", CURLFORM_COPYCONTENTS, text.c_str(), CURLFORM_CONTENTSLENGTH,
                    static_cast<long>(text.size()));
    std::string reply;
    if (PostForm(handle, info.strUrl, reply) != CURLE_OK) return false;
    info.strReply = reply;
    return true;
}
