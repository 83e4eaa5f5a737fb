# The main dialog's start against the reporter tests' loopback statistics and
# analytics services (tests/report/reporting.cmake; the same addresses, from
# the same digest of the build tree): the program carries its own copy of the
# product definition, reporting there. It shares those services' records with
# the reporter tests, writes the uninstall entry's settings flag and shows the
# dialog on the display.
orvane_loopback_net(dialog_start_net "${CMAKE_BINARY_DIR}")
set(dialog_start_host ${dialog_start_net}.109)

orvane_add_gtest(setup_dialog_start_tests
  SOURCES dialog_start_test.cpp ${CMAKE_SOURCE_DIR}/setup/ProductConfig.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util report_test_support
  LOCKS report_upload_test report_webstats_test documents uninstall-entry display-input TIMEOUT 300)
target_include_directories(setup_dialog_start_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/report)
target_compile_definitions(setup_dialog_start_tests PRIVATE
  ORVANE_LOCAL_STATS_URL="http://${dialog_start_host}:18091/api/common_json_post/"
  ORVANE_LOCAL_WEBSTATS_URL="http://${dialog_start_host}:18092")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/dialog_start_fixtures.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/dialog_start_fixtures.cmake
  "if(setup_dialog_start_tests_TESTS)\n"
  "  set_tests_properties(\${setup_dialog_start_tests_TESTS} PROPERTIES FIXTURES_REQUIRED report_services)\n"
  "endif()\n")
