# The debug window and the uninstall worker.

# The debug window's template comes with the installer's resources. Its tests
# write the debug configuration in Documents and show windows on the display.
orvane_add_gtest(setup_infoview_tests SOURCES infoview_test.cpp
  LIBS setup_app setup_resources skin_test_util LOCKS documents display-input)

# The uninstall worker runs on a tree the test lays out, with the stand-in
# product, the uninstall entry and the application-data folder of the prefix.
orvane_add_gtest(setup_uninstall_tests SOURCES uninstall_test.cpp
  LIBS standin_control setup_app LOCKS documents standins uninstall-entry TIMEOUT 300)
