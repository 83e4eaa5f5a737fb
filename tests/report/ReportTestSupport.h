// Helpers of the reporting tests: libcurl's process-wide start, the control
// channel of the loopback services, and the services' view of a JSON text.
#pragma once

#include <string>
#include <vector>

#include "JsonObject.h"

namespace report_test {

// Addresses of the loopback services (see tests/report/reporting.cmake).
std::string UploadStatsUrl();      // base of the statistics service used by the reporter tests
std::string UploadAnalyticsUrl();  // base of the analytics service used by the reporter tests
std::string ClientAnalyticsUrl();  // base of the analytics service used by the client tests
std::string UnusedUrl();           // a loopback port where nothing listens
// The same two services of the reporter tests over HTTPS (self-signed certificate for "localhost").
std::string UploadStatsTlsUrl();
std::string UploadAnalyticsTlsUrl();

// The service's control channel: default behaviour and no records; a new
// behaviour (a JSON object text); every request recorded since the reset.
void ResetService(const std::string& base);
void SetBehaviour(const std::string& base, const std::string& behaviourJson);
std::vector<CJsonObject> Requests(const std::string& base);

// One leaf of a JSON text as the services list it: path ("a.b[0].c"), type
// (s, i, f, b, n; o and a for empty containers) and value text.
struct Leaf {
    std::string path, type, value;
    bool operator==(const Leaf& other) const {
        return path == other.path && type == other.type && value == other.value;
    }
};
std::vector<Leaf> Leaves(const CJsonObject& record);
std::string Text(const CJsonObject& object, const std::string& key);

// The parts of a recorded multipart form, by name.
CJsonObject Part(const CJsonObject& record, const std::string& name);
std::vector<std::string> PartNames(const CJsonObject& record);

}  // namespace report_test

std::ostream& operator<<(std::ostream& out, const report_test::Leaf& leaf);
