# The install road against loopback mirrors serving the package built from
# the stand-in product (cmake/LocalMirrors.cmake makes it and its manifests).
# The mirrors are started once for these tests as a CTest fixture and take the
# lock "install_mirrors": each case sets the mirrors' behaviour for itself.
orvane_local_package_rule()
set(install_mirror_dir ${ORVANE_LOCAL_MIRROR_DIR})

# The cases' program carries manifest 501 (the live mirrors) and 502
# (addresses nobody serves); the second program carries none.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/install_test.rc.in
  "501 xml \"${install_mirror_dir}/manifest_local.xml\"\n502 xml \"${install_mirror_dir}/manifest_dead.xml\"\n")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/install_test.rc.in ${CMAKE_CURRENT_BINARY_DIR}/install_test.rc COPYONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/install_test.rc PROPERTIES
  OBJECT_DEPENDS "${install_mirror_dir}/manifest_local.xml;${install_mirror_dir}/manifest_dead.xml")

foreach(variant "setup_install_tests;WITH" "setup_install_nomanifest_tests;WITHOUT")
  list(GET variant 0 name)
  list(GET variant 1 kind)
  set(sources install_test.cpp)
  if(kind STREQUAL "WITH")
    list(APPEND sources ${CMAKE_CURRENT_BINARY_DIR}/install_test.rc)
  endif()
  orvane_add_gtest(${name} SOURCES ${sources} $<TARGET_OBJECTS:skin_resources>
    LIBS setup_app LOCKS install_mirrors standins display-input TIMEOUT 900)
  target_compile_definitions(${name} PRIVATE INSTALL_MIRROR_DIR="${install_mirror_dir}"
    INSTALL_MIRROR_NET="${ORVANE_MIRROR_NET}")
  add_dependencies(${name} orvane_local_package)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}_mirrors.cmake)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_mirrors.cmake
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES FIXTURES_REQUIRED install_mirrors)\n"
    "endif()\n")
endforeach()

add_test(NAME setup_install_mirrors_start
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/downloader/mirror_fixture.py start ${install_mirror_dir}
          --net ${ORVANE_MIRROR_NET} --lifetime 3600 --big-size 5)
add_test(NAME setup_install_mirrors_stop
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/downloader/mirror_fixture.py stop ${install_mirror_dir})
set_tests_properties(setup_install_mirrors_start PROPERTIES FIXTURES_SETUP install_mirrors
  RESOURCE_LOCK install_mirrors TIMEOUT 60)
set_tests_properties(setup_install_mirrors_stop PROPERTIES FIXTURES_CLEANUP install_mirrors
  RESOURCE_LOCK install_mirrors TIMEOUT 60)


# The clean install once more in a prefix of its own whose user is named in
# Cyrillic, under the harness's Western code page: the downloaded package,
# the install folder and the log all live in a profile that code page cannot
# spell.
add_test(NAME ProfileOutsideTheCodePage.InstallTest.CleanInstallDownloadsVerifiesAndExtracts
  COMMAND env USER=Иван LOGNAME=Иван ORVANE_PROFILE_OUTSIDE_CODE_PAGE=1
          bash ${CMAKE_SOURCE_DIR}/tests/common/own_prefix.sh win64 ${CMAKE_CURRENT_BINARY_DIR}/cyrillic_profile
          wine $<TARGET_FILE:setup_install_tests> --gtest_filter=InstallTest.CleanInstallDownloadsVerifiesAndExtracts)
set_tests_properties(ProfileOutsideTheCodePage.InstallTest.CleanInstallDownloadsVerifiesAndExtracts PROPERTIES
  TIMEOUT 600 FIXTURES_REQUIRED install_mirrors RESOURCE_LOCK "setup_install_tests;install_mirrors;standins;display-input"
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test" FAIL_REGULAR_EXPRESSION "SKIPPED|FAILED")
