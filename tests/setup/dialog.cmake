# The main dialog in a test process, with the installer's own resources.
# Its windows share the display ("display-input", real pointer clicks), the DPI
# cases change the prefix's DPI ("display-dpi"), the links replace the web
# handlers ("standins") and the dialog writes the install log ("documents").
orvane_add_gtest(setup_dialog_tests SOURCES dialog_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util standin_control
  LOCKS display-input display-dpi standins documents SERIAL TIMEOUT 900)

# The system checks once more on a 32-bit Windows, where a 64-bit product is
# refused: a prefix of its own, beside the harness's 64-bit one, with nothing
# else on the display.
add_test(NAME setup_dialog_checks_win32_prefix
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run_in_win32_prefix.sh ${CMAKE_BINARY_DIR}/harness/prefix-win32
          $<TARGET_FILE:setup_dialog_tests> --gtest_filter=SetupDialogTest.SystemChecksRefuseWithTheirMessage)
set_tests_properties(setup_dialog_checks_win32_prefix PROPERTIES
  TIMEOUT 600 RESOURCE_LOCK "prefix-win32;display-input;documents" RUN_SERIAL TRUE
  ENVIRONMENT "ORVANE_EXPECT_WINDOWS_BITS=32")

# The shared-memory progress channel, opened the way a peer's mapping is.
orvane_add_gtest(setup_shared_memory_tests SOURCES shared_memory_test.cpp LIBS setup_app)
