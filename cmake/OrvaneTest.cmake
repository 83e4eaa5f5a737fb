# GoogleTest, cross-built from Debian's sources, and the test helper.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
include(GoogleTest)

# orvane_add_gtest(NAME SOURCES ... [LIBS ...] [LOCK group] [TIMEOUT s])
# Each test case becomes one CTest test run under Wine. Cases of one
# executable never run at once (they share the prefix's folders and registry);
# executables naming the same LOCK group (say, "documents" for the user's
# Documents folder) never run at once either.
function(orvane_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT;LOCK" "SOURCES;LIBS;LOCKS" ${ARGN})
  if(T_LOCKS AND NOT T_LOCK)
    list(GET T_LOCKS 0 T_LOCK)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE orvane_test_support GTest::gtest_main GTest::gmock ${T_LIBS})
  # One lock per test: the discovered tests' properties are passed on
  # unquoted, so a list of locks would not survive.
  if(T_LOCK)
    set(lock ${T_LOCK})
  else()
    set(lock ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${T_TIMEOUT} RESOURCE_LOCK ${lock})
endfunction()
