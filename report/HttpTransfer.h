// Bounds shared by the reporting transfers: connect and total time limits, an
// overall deadline, a cancel flag and a cap on the reply size.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace report_http {

using Clock = std::chrono::steady_clock;

// Replies larger than this fail the transfer: the services answer with small JSON objects.
constexpr size_t kMaxReplyBytes = 1024 * 1024;

struct TransferLimits {
    long connectTimeoutMs = 10000;
    long totalTimeoutMs = 20000;
    Clock::time_point deadline = Clock::time_point::max();  // no attempt runs past it
    const std::atomic<bool>* cancel = nullptr;              // set: the transfer stops within a second
};

// Milliseconds left until deadline; 0 when it has passed, LONG_MAX for no deadline.
long RemainingMs(Clock::time_point deadline);

// Applies the limits to a handle. The guard must outlive curl_easy_perform on
// that handle. False when the deadline has already passed: do not perform.
class TransferGuard {
public:
    explicit TransferGuard(const TransferLimits& limits) : limits_(limits) {}
    bool Apply(CURL* curl);

private:
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    TransferLimits limits_;
};

}  // namespace report_http

// libcurl write callback: appends size x count bytes to the std::string at
// userdata and returns that count; 0 (a failed transfer) once the reply would
// grow past report_http::kMaxReplyBytes.
size_t AppendToString(char* data, size_t size, size_t count, void* userdata);
