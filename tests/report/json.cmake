orvane_add_gtest(report_json_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/json_node_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/json_object_test.cpp
  LIBS report_json)
