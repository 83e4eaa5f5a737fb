# GoogleTest, cross-built from Debian's sources, and the test helper.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
include(GoogleTest)

# orvane_add_gtest(NAME SOURCES ... [LIBS ...] [LOCKS ...] [TIMEOUT s])
# Each test case becomes one CTest test run under Wine. Cases of one
# executable never run at once (they share the prefix's folders and registry);
# LOCKS adds locks shared with other executables that touch the same things.
function(orvane_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE orvane_test_support GTest::gtest_main GTest::gmock ${T_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES
      TIMEOUT ${T_TIMEOUT}
      RESOURCE_LOCK "${name};${T_LOCKS}"
      ENVIRONMENT "ORVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR};ORVANE_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()
