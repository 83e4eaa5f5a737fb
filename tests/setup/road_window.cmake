# The install road's window on its own thread: the road's boxes and the
# working page's controls, through the main dialog in a test process with the
# installer's own resources. Its windows share the display ("display-input");
# the dialog writes the install log ("documents").
orvane_add_gtest(setup_road_window_tests SOURCES road_window_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util LOCKS display-input documents TIMEOUT 300)
