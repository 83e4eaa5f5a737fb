# The main dialog's pages and its software renderer. A real window on the
# harness's display; the pages at another DPI are painted by a child process
# (a process reads its DPI when it starts).
add_library(setup_paint_fixture STATIC paint_fixture.cpp)
target_link_libraries(setup_paint_fixture PUBLIC setup_app skin_test_util)

add_executable(setup_paint_probe paint_probe.cpp)
target_link_libraries(setup_paint_probe PRIVATE setup_paint_fixture setup_resources skin_resources)
target_link_options(setup_paint_probe PRIVATE -municode -mwindows)

orvane_add_gtest(setup_paint_tests SOURCES paint_test.cpp ${CMAKE_SOURCE_DIR}/tests/skin/test_main.cpp
  LIBS setup_paint_fixture setup_resources skin_resources LOCKS display-dpi display-input SERIAL TIMEOUT 300)
add_dependencies(setup_paint_tests setup_paint_probe)
