#include "HttpTransfer.h"

#include <algorithm>
#include <climits>

namespace report_http {

long RemainingMs(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return LONG_MAX;
    auto now = Clock::now();
    if (now >= deadline) return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    return left > LONG_MAX ? LONG_MAX : std::max<long>(1, static_cast<long>(left));
}

bool TransferGuard::Apply(CURL* curl) {
    long left = RemainingMs(limits_.deadline);
    if (left == 0) return false;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min(limits_.connectTimeoutMs, left));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, std::min(limits_.totalTimeoutMs, left));
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TransferGuard::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    return true;
}

int TransferGuard::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* guard = static_cast<TransferGuard*>(self);
    if (guard->limits_.cancel && guard->limits_.cancel->load()) return 1;
    if (guard->limits_.deadline != Clock::time_point::max() && Clock::now() >= guard->limits_.deadline) return 1;
    return 0;
}

}  // namespace report_http

size_t AppendToString(char* data, size_t size, size_t count, void* userdata) {
    auto* reply = static_cast<std::string*>(userdata);
    size_t bytes = size * count;
    if (bytes > report_http::kMaxReplyBytes - std::min(reply->size(), report_http::kMaxReplyBytes)) return 0;
    reply->append(data, bytes);
    return bytes;
}
