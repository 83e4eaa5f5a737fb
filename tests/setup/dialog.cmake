# The main dialog in a test process, with the installer's own resources.
# Its windows share the display ("display-input", real pointer clicks), the DPI
# cases change the prefix's DPI ("display-dpi"), the links replace the web
# handlers ("standins") and the dialog writes the install log ("documents").
orvane_add_gtest(setup_dialog_tests SOURCES dialog_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util standin_control
  LOCKS display-input display-dpi standins documents SERIAL TIMEOUT 900)
