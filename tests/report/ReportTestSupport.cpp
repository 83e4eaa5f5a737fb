#include <winsock2.h>

#include "ReportTestSupport.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

namespace {

// libcurl's process-wide start, once, before any test starts a thread.
class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};
const auto* const g_curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

size_t Collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// One control call; fails the test when the service does not answer 200.
std::string Call(const std::string& url, const std::string* body) {
    CURL* curl = curl_easy_init();
    std::string reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    }
    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    EXPECT_EQ(result, CURLE_OK) << url << ": " << curl_easy_strerror(result)
                                << " (are the loopback services running?)";
    EXPECT_EQ(status, 200) << url;
    return reply;
}

}  // namespace

namespace report_test {

std::string UploadStatsUrl() { return "http://" REPORT_UPLOAD_HOST ":" REPORT_STATS_PORT; }
std::string UploadAnalyticsUrl() { return "http://" REPORT_UPLOAD_HOST ":" REPORT_ANALYTICS_PORT; }
std::string ClientAnalyticsUrl() { return "http://" REPORT_CLIENT_HOST ":" REPORT_ANALYTICS_PORT; }
std::string UnusedUrl() { return "http://" REPORT_UPLOAD_HOST ":" REPORT_UNUSED_PORT; }
std::string UploadStatsTlsUrl() { return "https://" REPORT_UPLOAD_HOST ":" REPORT_STATS_TLS_PORT; }
std::string UploadAnalyticsTlsUrl() { return "https://" REPORT_UPLOAD_HOST ":" REPORT_ANALYTICS_TLS_PORT; }

void ResetService(const std::string& base) {
    std::string empty;
    Call(base + "/_control/reset", &empty);
}

void SetBehaviour(const std::string& base, const std::string& behaviourJson) {
    Call(base + "/_control/behaviour", &behaviourJson);
}

std::vector<CJsonObject> Requests(const std::string& base) {
    CJsonObject all(Call(base + "/_control/requests", nullptr));
    CJsonObject list;
    all.Get("requests", list);
    std::vector<CJsonObject> records;
    for (int i = 0; i < list.GetArraySize(); ++i) {
        CJsonObject record;
        list.Get(i, record);
        records.push_back(record);
    }
    return records;
}

std::string Text(const CJsonObject& object, const std::string& key) {
    std::string value;
    object.Get(key, value);
    return value;
}

std::vector<Leaf> Leaves(const CJsonObject& record) {
    std::vector<Leaf> leaves;
    std::istringstream lines(Text(record, "flat"));
    std::string line;
    while (std::getline(lines, line)) {
        Leaf leaf;
        size_t first = line.find('\t'), second = line.find('\t', first + 1);
        leaf.path = line.substr(0, first);
        leaf.type = line.substr(first + 1, second - first - 1);
        leaf.value = line.substr(second + 1);
        leaves.push_back(leaf);
    }
    return leaves;
}

CJsonObject Part(const CJsonObject& record, const std::string& name) {
    CJsonObject parts;
    record.Get("parts", parts);
    for (int i = 0; i < parts.GetArraySize(); ++i) {
        CJsonObject part;
        parts.Get(i, part);
        if (Text(part, "name") == name) return part;
    }
    return CJsonObject();
}

std::vector<std::string> PartNames(const CJsonObject& record) {
    CJsonObject parts;
    record.Get("parts", parts);
    std::vector<std::string> names;
    for (int i = 0; i < parts.GetArraySize(); ++i) {
        CJsonObject part;
        parts.Get(i, part);
        names.push_back(Text(part, "name"));
    }
    return names;
}

}  // namespace report_test

std::ostream& operator<<(std::ostream& out, const report_test::Leaf& leaf) {
    return out << leaf.path << " " << leaf.type << " " << leaf.value;
}
