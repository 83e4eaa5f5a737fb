# The uninstall road against stand-ins (no window, no product), on folders the
# test lays out in a scratch folder of its own.
orvane_add_gtest(setup_uninstall_road_tests SOURCES uninstall_road_test.cpp LIBS setup_app TIMEOUT 120)

# The uninstall page's changes from the worker on a real window of the
# product's dialog.
orvane_add_gtest(setup_uninstall_window_tests SOURCES uninstall_window_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util LOCKS display-input documents TIMEOUT 300)
