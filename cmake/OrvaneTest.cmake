# GoogleTest, cross-built from Debian's sources, and the test helper.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
include(GoogleTest)

# orvane_add_gtest(NAME SOURCES ... [LIBS ...] [LOCK group | LOCKS group...]
#                  [SERIAL] [TIMEOUT s])
# Each test case becomes one CTest test run under Wine. Cases of one
# executable never run at once (they share the prefix's folders and registry);
# executables naming the same lock group (say, "documents" for the user's
# Documents folder) never run at once either. SERIAL runs each case alone,
# with no other test at the same time (real mouse input on the shared display).
function(orvane_add_gtest name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT;LOCK" "SOURCES;LIBS;LOCKS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE orvane_test_support GTest::gtest_main GTest::gmock ${T_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT ${T_TIMEOUT})

  # The discovered tests' properties are passed on unquoted, so a list of
  # locks is set by a script of its own, read after the discovered list.
  set(locks ${name} ${T_LOCK} ${T_LOCKS})
  set(serial "")
  if(T_SERIAL)
    set(serial " RUN_SERIAL TRUE")
  endif()
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
  file(WRITE "${script}"
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${locks}\"${serial})\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
