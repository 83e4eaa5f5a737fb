# The folder judged at the Install press and the worker the press starts,
# through the road's dialog (road_fixture.h, road.cmake): whole installs into
# the shared prefix from the install tests' mirrors, so the same locks as the
# road tests; presses are the window's own mouse messages.
orvane_add_gtest(setup_install_folder_choice_tests
  SOURCES install_folder_choice_test.cpp ${CMAKE_SOURCE_DIR}/setup/ProductConfig.cpp
          $<TARGET_OBJECTS:road_resources> $<TARGET_OBJECTS:skin_resources>
  LIBS road_fixture
  LOCKS install_mirrors road_stats standins documents downloads shortcuts uninstall-entry display-input
  TIMEOUT 600)
target_compile_definitions(setup_install_folder_choice_tests PRIVATE
  ORVANE_LOCAL_STATS_URL="${road_stats_base}/api/common_json_post/"
  ORVANE_LOCAL_WEBSTATS_URL="${road_analytics_base}")
add_dependencies(setup_install_folder_choice_tests orvane_local_package)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
  ${CMAKE_CURRENT_BINARY_DIR}/setup_install_folder_choice_tests_fixtures.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/setup_install_folder_choice_tests_fixtures.cmake
  "if(setup_install_folder_choice_tests_TESTS)\n"
  "  set_tests_properties(\${setup_install_folder_choice_tests_TESTS} PROPERTIES FIXTURES_REQUIRED \"install_mirrors;road_stats\")\n"
  "endif()\n")
