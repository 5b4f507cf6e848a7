# The native side: the Windows cross build of the core is built with this build (an
# external project in <build>/win), and its programs run under Wine as CTest tests
# labelled "wine". Needs Debian's mingw-w64 and Wine (scripts/setup.sh installs both).
find_program(ZV_MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(ZV_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(ZV_TFTP_CLIENT tftp)
find_package(Python3 COMPONENTS Interpreter)
option(ZEVAVI_WINE_TESTS "Cross-build the core for Windows and run its tests under Wine" ON)
if(NOT ZEVAVI_WINE_TESTS)
  return()
endif()
if(NOT ZV_MINGW_CXX OR NOT ZV_WINE OR NOT ZV_TFTP_CLIENT OR NOT Python3_Interpreter_FOUND)
  message(FATAL_ERROR "The Wine tests need mingw-w64, Wine, tftp-hpa and Python 3 (scripts/setup.sh installs "
                      "them), or -DZEVAVI_WINE_TESTS=OFF")
endif()

include(ExternalProject)
set(ZV_WIN_DIR ${CMAKE_BINARY_DIR}/win)
set(ZV_WIN_BIN ${ZV_WIN_DIR}/bin)
# Optimised as the native build, but without debug information: static Windows programs
# with it take most of the cross build's time to link, and nobody debugs them here.
set(ZV_WIN_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw64.cmake -DZEVAVI_CORE_ONLY=ON
                -DZEVAVI_BENCH=OFF -DZEVAVI_WERROR=${ZEVAVI_WERROR} -DCMAKE_BUILD_TYPE=RelWithDebInfo
                "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
if(CMAKE_CXX_COMPILER_LAUNCHER)
  list(APPEND ZV_WIN_ARGS -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
       -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER})
endif()
# The console pool keeps the inner build from running beside this build's own jobs: the
# machine's two cores are shared either way.
ExternalProject_Add(zevavi_win
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${ZV_WIN_DIR}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS ${ZV_WIN_ARGS}
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${ZV_WIN_DIR} -j 2
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_CONFIGURE ON
  USES_TERMINAL_BUILD ON)

# The Linux half of the unzip comparison: the same report program over KyUnzip179.so.
add_executable(unzip_report unzip_report.cpp)
target_link_libraries(unzip_report PRIVATE zv_platform)
add_dependencies(unzip_report KyUnzip179)

set(ZV_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run)
set(ZV_WINE_PROPS LABELS wine FIXTURES_REQUIRED WinePrefix RESOURCE_LOCK wineprefix TIMEOUT 300)

# The first run makes the prefix (about half a minute); the others wait for it.
add_test(NAME Wine.Prefix COMMAND ${ZV_WINE_RUN} ${ZV_WIN_BIN}/comm_check.exe --make-prefix)
set_tests_properties(Wine.Prefix PROPERTIES LABELS wine FIXTURES_SETUP WinePrefix RESOURCE_LOCK wineprefix TIMEOUT 300)

# The core's own suites, built for Windows. The port store's registry cases are left out:
# they check the ini files of the registry's stand-in, which Windows does not use; the
# registry itself is tested by test_registry_win.
set(ZV_WINE_SUITES test_log test_tftp_rules test_comm_fake test_consolewatch test_upgrade test_serport_store
                    test_registry_win)
foreach(suite IN LISTS ZV_WINE_SUITES)
  set(args)
  if(suite STREQUAL "test_serport_store")
    set(args --gtest_filter=-PortStore.Registry*)
  endif()
  add_test(NAME Wine.${suite} COMMAND ${ZV_WINE_RUN} ${ZV_WIN_BIN}/${suite}.exe ${args})
  set_tests_properties(Wine.${suite} PROPERTIES ${ZV_WINE_PROPS} SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endforeach()

add_test(NAME Wine.SerialThroughCom5
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/serial_com5.py ${ZV_WINE_RUN}
                 ${ZV_WIN_BIN}/comm_check.exe)
add_test(NAME Wine.TftpServedToTftpHpa
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tftp_hpa.py ${ZV_WINE_RUN}
                 ${ZV_WIN_BIN}/tftp_serve.exe)
add_test(NAME Wine.UnzipSameAsLinux
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/unzip_same.py ${ZV_WINE_RUN}
                 ${ZV_WIN_BIN}/unzip_report.exe $<TARGET_FILE:unzip_report>)
set_tests_properties(Wine.SerialThroughCom5 Wine.TftpServedToTftpHpa Wine.UnzipSameAsLinux PROPERTIES ${ZV_WINE_PROPS})

# Binds UDP port 69: a private network namespace and a prefix of its own, whose wineserver
# (which makes the sockets) starts inside it.
add_test(NAME Wine.test_platform_win
         COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${ZV_WIN_DIR}/wineprefix-netns
                 ${CMAKE_SOURCE_DIR}/scripts/netns-run ${ZV_WINE_RUN} ${ZV_WIN_BIN}/test_platform_win.exe)
set_tests_properties(Wine.test_platform_win PROPERTIES LABELS wine TIMEOUT 300)
