# Tests of the statistics reporter, the analytics client and the
# related-product parsers. The network tests talk to the loopback services of
# report_services.py, started once for them as a CTest fixture.
# Several build trees may run their suites at once on one machine: each gets
# loopback addresses of its own, 127.X.Y.109 and 127.X.Y.110, X and Y taken
# from a digest of the build tree's path.
string(MD5 report_tree_digest "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${report_tree_digest}" 0 2 report_x)
string(SUBSTRING "${report_tree_digest}" 2 2 report_y)
math(EXPR report_x "0x${report_x} % 254 + 1")
math(EXPR report_y "0x${report_y} % 254 + 1")
set(report_upload_host 127.${report_x}.${report_y}.109)
set(report_client_host 127.${report_x}.${report_y}.110)
set(report_stats_port 18091)
set(report_analytics_port 18092)
set(report_stats_tls_port 18093)
set(report_analytics_tls_port 18094)
set(report_unused_port 18099)
set(report_services_dir ${CMAKE_CURRENT_BINARY_DIR}/report-services)
set(report_services ${CMAKE_CURRENT_LIST_DIR}/report_services.py)

add_library(report_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/ReportTestSupport.cpp)
target_link_libraries(report_test_support PUBLIC report GTest::gtest)
target_compile_definitions(report_test_support PRIVATE
  REPORT_UPLOAD_HOST="${report_upload_host}" REPORT_CLIENT_HOST="${report_client_host}"
  REPORT_STATS_PORT="${report_stats_port}" REPORT_ANALYTICS_PORT="${report_analytics_port}"
  REPORT_STATS_TLS_PORT="${report_stats_tls_port}" REPORT_ANALYTICS_TLS_PORT="${report_analytics_tls_port}"
  REPORT_UNUSED_PORT="${report_unused_port}")

orvane_add_gtest(report_documents_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/documents_test.cpp
  LIBS report report_test_support)
orvane_add_gtest(report_related_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/related_test.cpp
  LIBS report report_test_support)
orvane_add_gtest(report_upload_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/upload_test.cpp
  LIBS report report_test_support
  TIMEOUT 90)
orvane_add_gtest(report_webstats_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/webstats_test.cpp
  LIBS report report_test_support
  TIMEOUT 90)

add_test(NAME report_services_start
  COMMAND python3 ${report_services} start --state-dir ${report_services_dir} --lifetime 1800
    --listen upload_stats=stats@${report_upload_host}:${report_stats_port}
    --listen upload_analytics=analytics@${report_upload_host}:${report_analytics_port}
    --listen client_analytics=analytics@${report_client_host}:${report_analytics_port}
    --listen upload_stats_tls=stats+tls@${report_upload_host}:${report_stats_tls_port}
    --listen upload_analytics_tls=analytics+tls@${report_upload_host}:${report_analytics_tls_port})
set_tests_properties(report_services_start PROPERTIES FIXTURES_SETUP report_services TIMEOUT 30)
add_test(NAME report_services_stop COMMAND python3 ${report_services} stop --state-dir ${report_services_dir})
set_tests_properties(report_services_stop PROPERTIES FIXTURES_CLEANUP report_services TIMEOUT 30)

# The test cases are discovered when ctest runs; this script, read after the
# discovered lists, makes the network cases wait for the services.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/report_fixtures.cmake
  "foreach(test IN LISTS report_upload_test_TESTS report_webstats_test_TESTS)\n"
  "  set_tests_properties(\"\${test}\" PROPERTIES FIXTURES_REQUIRED report_services)\n"
  "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/report_fixtures.cmake)
