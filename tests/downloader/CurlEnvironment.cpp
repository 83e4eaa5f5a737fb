// libcurl is initialised once per process, before any test starts a thread.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "Log.h"
#include "TestSupport.h"

namespace {

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        curl_global_init(CURL_GLOBAL_ALL);
        // The engine's log lines, kept in the prefix's temporary folder.
        ILog::GetInstance()->Init(testing_support::TempFolder() + L"\\downloader-tests.log");
    }
    void TearDown() override { curl_global_cleanup(); }
};

::testing::Environment* const g_curl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

}  // namespace
