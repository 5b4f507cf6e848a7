# The native side: the Windows programs cross-built against the cached Qt for Windows (an
# external project in <build>/win-programs) and the Wine tests of the installer and of the
# installed programs. ZEVAVI_QT_MINGW names the Qt prefix and then must be there (CI sets it);
# without it the cache of scripts/qt-mingw.sh is used when built, and the tests are left out
# with a note when not.
option(ZEVAVI_WINDOWS_PROGRAMS "Cross-build the Windows programs and run them under Wine when Qt for Windows is at hand" ON)
if(NOT ZEVAVI_WINDOWS_PROGRAMS OR NOT ZEVAVI_WINE_TESTS)
  return()
endif()
set(ZEVAVI_QT_MINGW "" CACHE PATH "Qt for Windows (made by scripts/qt-mingw.sh); empty: its cache, when built")
set(ZV_QT_MINGW ${ZEVAVI_QT_MINGW})
if(ZV_QT_MINGW)
  if(NOT EXISTS ${ZV_QT_MINGW}/lib/cmake/Qt6/Qt6Config.cmake)
    message(FATAL_ERROR "ZEVAVI_QT_MINGW=${ZV_QT_MINGW} holds no Qt for Windows (scripts/qt-mingw.sh builds it)")
  endif()
else()
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/qt-mingw.sh --check OUTPUT_VARIABLE ZV_QT_MINGW
                  RESULT_VARIABLE built OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT built EQUAL 0)
    message(STATUS "Qt for Windows is not built: the Windows programs and their tests are left out "
                   "(scripts/qt-mingw.sh builds it once)")
    return()
  endif()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(ZV_MAKENSIS makensis)
find_program(ZV_XVFB_RUN xvfb-run)
if(NOT ZV_MAKENSIS OR NOT ZV_XVFB_RUN)
  message(FATAL_ERROR "The Windows programs' tests need nsis and xvfb (scripts/setup.sh installs them)")
endif()

include(ExternalProject)
set(ZV_WINP_DIR ${CMAKE_BINARY_DIR}/win-programs)
# Optimised as the native build (-O3 wakes a false -Wrestrict in gcc 12's string code), without
# debug information: the Windows programs are not debugged here, and it would take most of
# the cross build's time to link.
set(ZV_WINP_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw64.cmake
                 -DZEVAVI_QT_MINGW=${ZV_QT_MINGW} -DZEVAVI_WERROR=${ZEVAVI_WERROR}
                 -DZEVAVI_SAMPLE_THEME=${CMAKE_BINARY_DIR}/share/zevavi/themes/sample.skn
                 -DZEVAVI_HOST_TOOLS=${CMAKE_BINARY_DIR}/bin -DCMAKE_BUILD_TYPE=Release
                 "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG")
if(CMAKE_CXX_COMPILER_LAUNCHER)
  list(APPEND ZV_WINP_ARGS -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
       -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER})
endif()
# Not part of the default build, so ./run stays as fast with the cache as without it: ./test
# builds it before the suite.
ExternalProject_Add(zevavi_win_programs
  EXCLUDE_FROM_ALL TRUE
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${ZV_WINP_DIR}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS ${ZV_WINP_ARGS}
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${ZV_WINP_DIR} -j 2
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_CONFIGURE ON
  USES_TERMINAL_BUILD ON)
add_dependencies(zevavi_win_programs zevavi-sample-theme zv_skin_artgen zamsggen)
# After the core's cross build, not beside it: both want the two cores.
if(TARGET zevavi_win)
  add_dependencies(zevavi_win_programs zevavi_win)
endif()

set(ZV_WINP_PY ${CMAKE_CURRENT_SOURCE_DIR}/wine_programs.py)
set(ZV_WINP_COMMON --build ${ZV_WINP_DIR})
add_test(NAME Windows.SilentInstall
         COMMAND ${Python3_EXECUTABLE} ${ZV_WINP_PY} install ${ZV_WINP_COMMON}
                 --installer ${ZV_WINP_DIR}/ZeVavi-${PROJECT_VERSION}-setup.exe)
set_tests_properties(Windows.SilentInstall PROPERTIES FIXTURES_SETUP WinInstalled)
add_test(NAME Windows.WindowUpgrade
         COMMAND ${Python3_EXECUTABLE} ${ZV_WINP_PY} window ${ZV_WINP_COMMON}
                 --windrive ${ZV_WINP_DIR}/bin/zevavi-windrive.exe --boxsim $<TARGET_FILE:boxsim>)
add_test(NAME Windows.FlashJson
         COMMAND ${Python3_EXECUTABLE} ${ZV_WINP_PY} flash ${ZV_WINP_COMMON} --boxsim $<TARGET_FILE:boxsim>)
add_test(NAME Windows.FlashLineLost
         COMMAND ${Python3_EXECUTABLE} ${ZV_WINP_PY} flash-lost ${ZV_WINP_COMMON} --boxsim $<TARGET_FILE:boxsim>)
set_tests_properties(Windows.WindowUpgrade Windows.FlashJson Windows.FlashLineLost PROPERTIES
                     FIXTURES_REQUIRED WinInstalled)
set_tests_properties(Windows.SilentInstall Windows.WindowUpgrade Windows.FlashJson Windows.FlashLineLost
                     PROPERTIES LABELS wine RESOURCE_LOCK winprograms TIMEOUT 600)

# The installer on its own, in a fresh prefix of its own: silent install, the installed
# programs starting (ZeVavi.exe's window seen on an X server), reinstall, silent uninstall.
add_test(NAME Windows.Installer
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/installer.py
                 --gui-check "${Python3_EXECUTABLE} ${ZV_WINP_PY} window-appears --build ${ZV_WINP_DIR}"
                 ${CMAKE_SOURCE_DIR}/scripts/wine-run ${ZV_WINP_DIR}/ZeVavi-${PROJECT_VERSION}-setup.exe
                 ${ZV_WINP_DIR}/deploy/ZeVavi)
set_tests_properties(Windows.Installer PROPERTIES LABELS wine TIMEOUT 900)
