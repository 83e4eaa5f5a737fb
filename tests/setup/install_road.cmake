# The install road against stand-ins (no window, no mirrors), and the
# product's dialog object installing the built package over an earlier
# installation. The shortcuts, the uninstall entry and the stand-in product
# are shared with the other install tests.
orvane_local_package_rule()
orvane_add_gtest(setup_install_road_tests SOURCES install_road_test.cpp
  LIBS setup_app LOCKS standins shortcuts uninstall-entry documents TIMEOUT 300)
target_compile_definitions(setup_install_road_tests PRIVATE INSTALL_MIRROR_DIR="${ORVANE_LOCAL_MIRROR_DIR}")
add_dependencies(setup_install_road_tests orvane_local_package)

# The dialog's boxes and the road's control changes on a real window.
orvane_add_gtest(setup_install_choices_tests SOURCES install_choices_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util
  LOCKS display-input uninstall-entry documents TIMEOUT 300)

# The window closed at a step of the package phases, through the product's
# dialog and the road tests' mirrors and statistics service.
orvane_add_gtest(setup_road_close_tests
  SOURCES road_close_test.cpp ${CMAKE_SOURCE_DIR}/setup/ProductConfig.cpp
          $<TARGET_OBJECTS:road_resources> $<TARGET_OBJECTS:skin_resources>
  LIBS road_fixture
  LOCKS install_mirrors road_stats standins documents downloads shortcuts uninstall-entry display-input
  TIMEOUT 600)
target_compile_definitions(setup_road_close_tests PRIVATE
  ORVANE_LOCAL_STATS_URL="${road_stats_base}/api/common_json_post/" ORVANE_LOCAL_WEBSTATS_URL="${road_analytics_base}")
add_dependencies(setup_road_close_tests orvane_local_package)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/setup_road_close_tests_fixtures.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/setup_road_close_tests_fixtures.cmake
  "if(setup_road_close_tests_TESTS)\n"
  "  set_tests_properties(\${setup_road_close_tests_TESTS} PROPERTIES FIXTURES_REQUIRED \"install_mirrors;road_stats\")\n"
  "endif()\n")
