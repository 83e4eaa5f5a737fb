# Whole installs through the product's own dialog (road_fixture.h). The
# program's manifest names the mirrors' own server only (NET.6, .7, .9, .11
# and the fallback on .8), whose behaviour each case sets in the scenario
# file, so a case can take every mirror down or throttle it and make it good
# again. The mirrors are the install tests' fixture; the statistics reports go
# to loopback statistics and analytics services of these tests: the programs
# carry the product definition of a local-mirrors installer, which reports
# there.
set(road_dir ${CMAKE_CURRENT_BINARY_DIR}/road)
set(road_package ${ORVANE_LOCAL_MIRROR_DIR}/www/download/orvane_setup.exe)
set(road_stats_base http://${ORVANE_MIRROR_NET}.111:18195)
set(road_analytics_base http://${ORVANE_MIRROR_NET}.112:18195)

set(road_urls)
foreach(host 6 7 9 11)
  list(APPEND road_urls --url https://${ORVANE_MIRROR_NET}.${host}/download/orvane_setup.exe)
endforeach()
list(APPEND road_urls --url https://${ORVANE_MIRROR_NET}.8/download/dl.tarvex.com/orvane_setup.exe)
add_custom_command(OUTPUT ${road_dir}/manifest_steered.xml
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/manifests/make_manifest.py --package ${road_package}
          --name orvane_setup.exe ${road_urls} --out ${road_dir}/manifest_steered.xml
  DEPENDS ${road_package} ${CMAKE_SOURCE_DIR}/tools/manifests/make_manifest.py
  COMMENT "Road tests: manifest of the steered mirrors"
  VERBATIM)
add_custom_target(road_manifest DEPENDS ${road_dir}/manifest_steered.xml)
add_dependencies(road_manifest orvane_local_package)

# The installer's resources with that manifest for both products (a 64-bit
# Windows, as the harness's, takes the 64-bit product's).
file(WRITE ${road_dir}/manifests.rc.in
  "501 xml \"${road_dir}/manifest_steered.xml\"\n502 xml \"${road_dir}/manifest_steered.xml\"\n")
configure_file(${road_dir}/manifests.rc.in ${road_dir}/manifests.rc COPYONLY)
add_library(road_resources OBJECT ${CMAKE_SOURCE_DIR}/setup/res/setup.rc)
target_include_directories(road_resources PRIVATE ${road_dir} "${ORVANE_ART_DIR}" ${CMAKE_SOURCE_DIR}/setup/res)
add_dependencies(road_resources orvane_art road_manifest)
set_source_files_properties(${CMAKE_SOURCE_DIR}/setup/res/setup.rc PROPERTIES
  OBJECT_DEPENDS "${road_dir}/manifest_steered.xml;${road_dir}/manifests.rc;${ORVANE_ART_FILES}")

add_library(road_fixture STATIC road_fixture.cpp)
target_link_libraries(road_fixture PUBLIC setup_app standin_control skin_test_util report_test_support
  orvane_test_support GTest::gtest)
target_include_directories(road_fixture PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/report)
target_compile_definitions(road_fixture PRIVATE INSTALL_MIRROR_DIR="${ORVANE_LOCAL_MIRROR_DIR}"
  INSTALL_MIRROR_NET="${ORVANE_MIRROR_NET}" ROAD_STATS_BASE="${road_stats_base}")

# road_tests: the countdown, window messages and no pointer, beside other
# tests; road_click_tests: real clicks with the pointer, alone;
# report_close_tests: closes of the ready page while the start report is out.
foreach(variant "setup_road_tests;road_test.cpp;" "setup_road_click_tests;road_click_test.cpp;SERIAL"
    "setup_report_close_tests;report_close_test.cpp;")
  list(GET variant 0 name)
  list(GET variant 1 source)
  list(GET variant 2 serial)
  orvane_add_gtest(${name}
    SOURCES ${source} ${CMAKE_SOURCE_DIR}/setup/ProductConfig.cpp
            $<TARGET_OBJECTS:road_resources> $<TARGET_OBJECTS:skin_resources>
    LIBS road_fixture
    LOCKS install_mirrors road_stats standins documents downloads shortcuts uninstall-entry display-input
    ${serial} TIMEOUT 600)
  # Its own copy of the product definition takes the place of the library's.
  target_compile_definitions(${name} PRIVATE ORVANE_LOCAL_STATS_URL="${road_stats_base}/api/common_json_post/"
    ORVANE_LOCAL_WEBSTATS_URL="${road_analytics_base}")
  add_dependencies(${name} orvane_local_package)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}_fixtures.cmake)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_fixtures.cmake
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES FIXTURES_REQUIRED \"install_mirrors;road_stats\")\n"
    "endif()\n")
endforeach()

# The close test sets the analytics service's behaviour too.
target_compile_definitions(setup_report_close_tests PRIVATE ROAD_STATS_BASE="${road_stats_base}"
  ROAD_ANALYTICS_BASE="${road_analytics_base}")

string(REGEX REPLACE "^http://([^:]+):([0-9]+)$" "\\1:\\2" road_stats_address "${road_stats_base}")
string(REGEX REPLACE "^http://([^:]+):([0-9]+)$" "\\1:\\2" road_analytics_address "${road_analytics_base}")
add_test(NAME setup_road_stats_start
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/report/report_services.py start --state-dir ${road_dir}/stats
          --lifetime 3600 --listen stats=stats@${road_stats_address} --listen analytics=analytics@${road_analytics_address})
add_test(NAME setup_road_stats_stop
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/report/report_services.py stop --state-dir ${road_dir}/stats)
set_tests_properties(setup_road_stats_start PROPERTIES FIXTURES_SETUP road_stats RESOURCE_LOCK road_stats TIMEOUT 60)
set_tests_properties(setup_road_stats_stop PROPERTIES FIXTURES_CLEANUP road_stats RESOURCE_LOCK road_stats TIMEOUT 60)
