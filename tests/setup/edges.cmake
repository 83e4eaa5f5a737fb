# The main dialog's edges in a test process with the installer's own
# resources: font faces, the folder browser it owns, the finished page's
# pictures applied again. Its windows share the display ("display-input");
# the dialog writes the install log ("documents").
orvane_add_gtest(setup_edge_ui_tests SOURCES edge_ui_test.cpp ${CMAKE_SOURCE_DIR}/tests/skin/test_main.cpp
  LIBS setup_paint_fixture setup_resources skin_resources LOCKS display-input documents TIMEOUT 300)
