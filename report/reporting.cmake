# Statistics reporter, analytics client and related-product parsers.
add_library(report STATIC
  ${CMAKE_CURRENT_LIST_DIR}/HttpTransfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstallStatsReporter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstallStatsDocuments.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstallStatsUpload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebStatsManager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RelatedProductParser.cpp
)
target_include_directories(report PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(report PUBLIC report_json common orvane::curl shlwapi)
# The multipart form API is the one the statistics upload is written for.
target_compile_definitions(report PRIVATE CURL_DISABLE_DEPRECATION)
