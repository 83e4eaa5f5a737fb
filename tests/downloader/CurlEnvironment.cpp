// libcurl is initialised once per process, before any test starts a thread.
#include <curl/curl.h>
#include <gtest/gtest.h>

namespace {

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { curl_global_init(CURL_GLOBAL_ALL); }
    void TearDown() override { curl_global_cleanup(); }
};

::testing::Environment* const g_curl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

}  // namespace
