# The debug window and the uninstall worker.

# The debug window's template comes with the installer's resources. Its tests
# write the debug configuration in Documents and show windows on the display.
orvane_add_gtest(setup_infoview_tests SOURCES infoview_test.cpp
  LIBS setup_app setup_resources skin_test_util LOCKS documents display-input)

# The uninstall worker runs on a tree the test lays out, with the stand-in
# product, the uninstall entry and the application-data folder of the prefix.
orvane_add_gtest(setup_uninstall_tests SOURCES uninstall_test.cpp
  LIBS standin_control setup_app LOCKS documents standins uninstall-entry TIMEOUT 300)

# Which folders the uninstall deletes, on folders of the prefix (the shared
# ones included) laid out by the test.
orvane_add_gtest(setup_uninstall_folder_tests SOURCES uninstall_folder_test.cpp
  LIBS setup_app LOCKS documents standins uninstall-entry TIMEOUT 120)

# The debug window beside the installer's main dialog during a real download
# from the install tests' loopback mirrors: the installer's resources with
# both manifests naming those mirrors, as a build for the local mirrors has
# them (the product's description picks the 64-bit one).
set(infoview_manifests ${CMAKE_CURRENT_BINARY_DIR}/infoview_manifests)
orvane_manifest_rc(${infoview_manifests}/manifests.rc ${install_mirror_dir}/manifest_local.xml
  ${install_mirror_dir}/manifest_local.xml)
add_library(setup_resources_local_mirrors OBJECT ${CMAKE_SOURCE_DIR}/setup/res/setup.rc)
target_include_directories(setup_resources_local_mirrors PRIVATE "${ORVANE_ART_DIR}" ${CMAKE_SOURCE_DIR}/setup/res
  ${infoview_manifests})
add_dependencies(setup_resources_local_mirrors orvane_art orvane_local_package)
set_source_files_properties(${CMAKE_SOURCE_DIR}/setup/res/setup.rc PROPERTIES OBJECT_DEPENDS
  "${infoview_manifests}/manifests.rc;${install_mirror_dir}/manifest_local.xml;${CMAKE_SOURCE_DIR}/setup/res/version.txt;${CMAKE_SOURCE_DIR}/setup/res/setup.manifest;${ORVANE_ART_FILES}")

orvane_add_gtest(setup_infoview_download_tests SOURCES infoview_download_test.cpp
  $<TARGET_OBJECTS:setup_resources_local_mirrors> $<TARGET_OBJECTS:skin_resources>
  LIBS setup_app skin_test_util LOCKS install_mirrors standins documents display-input SERIAL TIMEOUT 600)
target_compile_definitions(setup_infoview_download_tests PRIVATE INSTALL_MIRROR_DIR="${install_mirror_dir}"
  INSTALL_MIRROR_NET="${ORVANE_MIRROR_NET}")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/setup_infoview_download_mirrors.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/setup_infoview_download_mirrors.cmake
  "if(setup_infoview_download_tests_TESTS)\n"
  "  set_tests_properties(\${setup_infoview_download_tests_TESTS} PROPERTIES FIXTURES_REQUIRED install_mirrors)\n"
  "endif()\n")
