# The product steps against the stand-ins: registration, new-install test,
# thank-you page, sibling files, shortcuts, the product's runs, an older
# version's removal and the bounds on every wait. They share the stand-ins'
# settings and the URL handler ("standins"), the debug configuration in
# Documents ("documents") and the machine's shortcuts and uninstall entries.
orvane_add_gtest(setup_product_steps_tests SOURCES product_steps_test.cpp
  LIBS standin_control setup_app LOCKS standins documents shortcuts TIMEOUT 300)

# The base install run's whole poll count (1800 polls of 100 ms) against a
# product that never ends: minutes, so it runs beside the others.
orvane_add_gtest(setup_product_steps_slow_tests SOURCES product_steps_slow_test.cpp
  LIBS standin_control setup_app LOCKS standins TIMEOUT 900)
