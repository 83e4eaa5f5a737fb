# The install road against stand-ins (no window, no mirrors), and the
# product's dialog object installing the built package over an earlier
# installation. The shortcuts, the uninstall entry and the stand-in product
# are shared with the other install tests.
orvane_local_package_rule()
orvane_add_gtest(setup_install_road_tests SOURCES install_road_test.cpp
  LIBS setup_app LOCKS standins shortcuts uninstall-entry documents TIMEOUT 300)
target_compile_definitions(setup_install_road_tests PRIVATE INSTALL_MIRROR_DIR="${ORVANE_LOCAL_MIRROR_DIR}")
add_dependencies(setup_install_road_tests orvane_local_package)

# The dialog's boxes and the road's control changes on a real window.
orvane_add_gtest(setup_install_choices_tests SOURCES install_choices_test.cpp
  LIBS setup_app setup_resources skin_resources skin_test_util
  LOCKS display-input uninstall-entry documents TIMEOUT 300)

