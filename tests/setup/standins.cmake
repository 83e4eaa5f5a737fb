# Stand-ins for what lies outside the installer: the product's executable
# "orvane.exe", its library "orvane32.dll", an older version's "unins000.exe"
# and a recorder for the web pages the installer opens. Test programs only,
# built into <build>/standins and never packaged.
set(standins_dir ${CMAKE_SOURCE_DIR}/tests/standins)
add_library(standin_log STATIC ${standins_dir}/StandInLog.cpp)
target_include_directories(standin_log PUBLIC ${standins_dir} ${CMAKE_SOURCE_DIR}/common)
target_link_libraries(standin_log PUBLIC advapi32)

foreach(program orvane:StandInProduct unins000:StandInUninstaller urlrecorder:StandInUrlRecorder)
  string(REPLACE ":" ";" parts ${program})
  list(GET parts 0 name)
  list(GET parts 1 source)
  add_executable(standin_${name} WIN32 ${standins_dir}/${source}.cpp)
  target_link_libraries(standin_${name} PRIVATE standin_log user32 shell32)
  target_link_options(standin_${name} PRIVATE -municode)
  set_target_properties(standin_${name} PROPERTIES OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standins)
endforeach()

add_library(standin_orvane32 SHARED ${standins_dir}/StandInDll.cpp ${standins_dir}/orvane32.def)
target_link_libraries(standin_orvane32 PRIVATE standin_log)
target_link_options(standin_orvane32 PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(standin_orvane32 PROPERTIES PREFIX "" OUTPUT_NAME orvane32
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standins)

# The tests' side: paths, settings and the log of the stand-ins.
add_library(standin_control STATIC ${standins_dir}/StandInControl.cpp)
target_include_directories(standin_control PUBLIC ${standins_dir})
target_link_libraries(standin_control PUBLIC orvane_test_support advapi32)
add_dependencies(standin_control standin_orvane standin_unins000 standin_urlrecorder standin_orvane32)

orvane_add_gtest(setup_standins_tests SOURCES standins_test.cpp LIBS standin_control setup_app LOCK standins)
