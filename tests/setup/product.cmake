# The product definition.
orvane_add_gtest(setup_product_tests SOURCES product_test.cpp LIBS setup_app)

# The bitness choice once more on a 32-bit Windows: a prefix of its own,
# beside the harness's 64-bit one.
add_test(NAME setup_product_win32_prefix
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run_in_win32_prefix.sh ${CMAKE_BINARY_DIR}/harness/prefix-win32
          $<TARGET_FILE:setup_product_tests> --gtest_filter=ProductInfoTest.ProcessWideDescriptionFollowsWindowsBitness)
set_tests_properties(setup_product_win32_prefix PROPERTIES
  TIMEOUT 480 RESOURCE_LOCK prefix-win32 ENVIRONMENT "ORVANE_EXPECT_WINDOWS_BITS=32")
