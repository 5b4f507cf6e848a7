# Test programs of the cross build. Paths compiled in are Wine's view of this machine's
# files: drive Z: is the Linux root in every prefix.
function(zevavi_wine_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_options(${name} PRIVATE -include ${CMAKE_CURRENT_SOURCE_DIR}/posix_shim.h)
  target_compile_definitions(${name} PRIVATE ZEVAVI_SOURCE_DIR="Z:${CMAKE_SOURCE_DIR}"
                                             ZEVAVI_BIN_DIR="Z:${CMAKE_BINARY_DIR}/bin")
endfunction()

set(T ${CMAKE_SOURCE_DIR}/tests)
zevavi_wine_test(test_log ${T}/lib/test_log.cpp LIBS zv_log)
zevavi_wine_test(test_tftp_rules ${T}/lib/test_tftp_rules.cpp LIBS zv_tftp_rules)
zevavi_wine_test(test_upgrade ${T}/src/test_upgrade.cpp LIBS zv_upgrade)
zevavi_wine_test(test_consolewatch ${T}/src/test_consolewatch.cpp LIBS zv_upgrade)
zevavi_wine_test(test_comm_fake ${T}/platform/test_comm_fake.cpp LIBS zv_comm_fake)
zevavi_wine_test(test_serport_store ${T}/comport/test_serport_store.cpp ${T}/comport/test_serport_packet.cpp
                 LIBS zv_serport zv_settingsstore)

# The Windows halves of the interop checks, driven by scripts on the Linux side.
add_executable(comm_check comm_check.cpp)
target_link_libraries(comm_check PRIVATE zv_serport zv_comm)
add_executable(tftp_serve tftp_serve.cpp)
target_link_libraries(tftp_serve PRIVATE zv_tftp zv_log)
add_executable(unzip_report unzip_report.cpp)
target_link_libraries(unzip_report PRIVATE zv_platform)
add_dependencies(unzip_report KyUnzip179)
zevavi_wine_test(test_registry_win test_registry_win.cpp LIBS zv_serport zv_settingsstore)
zevavi_wine_test(test_platform_win test_platform_win.cpp LIBS zv_upgrade zv_platform)
