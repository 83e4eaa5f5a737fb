# The JSON node core and the document class CJsonObject: plain C++ without
# Windows calls, so the fuzz target builds the same sources natively.
add_library(report_json STATIC
  ${CMAKE_CURRENT_LIST_DIR}/JsonNode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonObject.cpp
)
target_include_directories(report_json PUBLIC ${CMAKE_CURRENT_LIST_DIR})
