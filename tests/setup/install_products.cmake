# The discovered cases of a test program wait for the install tests' mirrors.
function(install_products_need_mirrors name)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_mirrors.cmake)
  file(WRITE ${script}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES FIXTURES_REQUIRED install_mirrors)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# Whole installs of each product from the install tests' loopback mirrors:
# the program carries the manifests of a build for the local mirrors (501 the
# 32-bit package, 502 the 64-bit one). The installs write the uninstall
# entries, the shortcuts, the Downloads folder and the drivers folder.
set(install_products_rc ${CMAKE_CURRENT_BINARY_DIR}/install_products/manifests.rc)
orvane_manifest_rc(${install_products_rc} ${install_mirror_dir}/manifest_local.xml
  ${install_mirror_dir}/manifest_local_x64.xml)
set_source_files_properties(${install_products_rc} PROPERTIES
  OBJECT_DEPENDS "${install_mirror_dir}/manifest_local.xml;${install_mirror_dir}/manifest_local_x64.xml")
orvane_add_gtest(setup_install_products_tests
  SOURCES install_products_test.cpp ${install_products_rc} $<TARGET_OBJECTS:skin_resources>
  LIBS setup_app standin_control
  LOCKS install_mirrors standins documents downloads shortcuts uninstall-entry display-input TIMEOUT 600)
target_compile_definitions(setup_install_products_tests PRIVATE INSTALL_MIRROR_DIR="${install_mirror_dir}")
add_dependencies(setup_install_products_tests orvane_local_package)
install_products_need_mirrors(setup_install_products_tests)

# The 32-bit product's own branches on a 32-bit Windows: a prefix of its own,
# beside the harness's 64-bit one (the drivers' sub-folder "x86", no library
# registration).
add_test(NAME setup_install_products_win32_prefix
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run_in_win32_prefix.sh ${CMAKE_BINARY_DIR}/harness/prefix-win32
          $<TARGET_FILE:setup_install_products_tests>
          --gtest_filter=ProductInstallTest.EachProductDownloadsItsOwnPackageAndRegistersUnderItsOwnNames)
set_tests_properties(setup_install_products_win32_prefix PROPERTIES
  TIMEOUT 600 FIXTURES_REQUIRED install_mirrors RESOURCE_LOCK "prefix-win32;install_mirrors"
  ENVIRONMENT "ORVANE_EXPECT_WINDOWS_BITS=32"
  PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] 1 test" FAIL_REGULAR_EXPRESSION "SKIPPED|FAILED")

# The fallback mirror's reasons: a program whose manifest names three regular
# mirrors (the mirrors' own server on NET.6, .7 and .9, which the scenario
# file steers; three, so the fallback carries no range of its own) and the
# fallback on NET.8, serving the 32-bit package.
set(mirror_switch_dir ${CMAKE_CURRENT_BINARY_DIR}/mirror_switch)
add_custom_command(OUTPUT ${mirror_switch_dir}/manifest_steered_three.xml
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/manifests/make_manifest.py
          --package ${install_mirror_dir}/www/download/orvane_setup.exe --name orvane_setup.exe
          --url https://${ORVANE_MIRROR_NET}.6/download/orvane_setup.exe
          --url https://${ORVANE_MIRROR_NET}.7/download/orvane_setup.exe
          --url https://${ORVANE_MIRROR_NET}.9/download/orvane_setup.exe
          --url https://${ORVANE_MIRROR_NET}.8/download/dl.tarvex.com/orvane_setup.exe
          --out ${mirror_switch_dir}/manifest_steered_three.xml
  DEPENDS ${install_mirror_dir}/www/download/orvane_setup.exe ${CMAKE_SOURCE_DIR}/tools/manifests/make_manifest.py
  COMMENT "Mirror switch tests: manifest of three steered mirrors and the fallback"
  VERBATIM)
add_custom_target(mirror_switch_manifest DEPENDS ${mirror_switch_dir}/manifest_steered_three.xml)
add_dependencies(mirror_switch_manifest orvane_local_package)
orvane_manifest_rc(${mirror_switch_dir}/manifests.rc ${mirror_switch_dir}/manifest_steered_three.xml
  ${mirror_switch_dir}/manifest_steered_three.xml)
set_source_files_properties(${mirror_switch_dir}/manifests.rc PROPERTIES
  OBJECT_DEPENDS ${mirror_switch_dir}/manifest_steered_three.xml)
orvane_add_gtest(setup_mirror_switch_tests
  SOURCES mirror_switch_test.cpp ${mirror_switch_dir}/manifests.rc $<TARGET_OBJECTS:skin_resources>
  LIBS setup_app standin_control
  LOCKS install_mirrors standins documents downloads shortcuts uninstall-entry display-input TIMEOUT 600)
target_compile_definitions(setup_mirror_switch_tests PRIVATE INSTALL_MIRROR_DIR="${install_mirror_dir}"
  INSTALL_MIRROR_NET="${ORVANE_MIRROR_NET}")
add_dependencies(setup_mirror_switch_tests mirror_switch_manifest)
install_products_need_mirrors(setup_mirror_switch_tests)
