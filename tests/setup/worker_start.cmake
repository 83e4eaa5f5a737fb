# The worker's start while a previous worker is joined, through the product's
# own dialog: its windows share the display ("display-input") and the dialog
# writes the install log ("documents").
orvane_add_gtest(setup_worker_start_tests SOURCES worker_start_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util LOCKS display-input documents TIMEOUT 300)
