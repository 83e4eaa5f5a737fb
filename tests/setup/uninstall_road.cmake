# The uninstall road against stand-ins (no window, no product), on folders the
# test lays out in a scratch folder of its own.
orvane_add_gtest(setup_uninstall_road_tests SOURCES uninstall_road_test.cpp LIBS setup_app TIMEOUT 120)
