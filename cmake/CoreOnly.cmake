# The core alone: every library below the window that needs no Qt, and the tests that run
# them. This is what the Windows cross build (cmake/toolchain-mingw64.cmake) compiles; its
# test programs are run under Wine by the native build (tests/wine).
foreach(dir lib platform comport ziplib src)
  if(NOT dir IN_LIST ZEVAVI_SKIP_DIRS)
    add_subdirectory(${dir})
  endif()
endforeach()

# No GoogleTest is packaged for the target: it is built from Debian's sources.
set(ZEVAVI_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built for the core-only build")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${ZEVAVI_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

add_subdirectory(tests/wine)

# Strict warnings for our folders only: GoogleTest's own are not ours to judge.
set(ZEVAVI_WERROR OFF)
include(${CMAKE_CURRENT_LIST_DIR}/Warnings.cmake)
if($CACHE{ZEVAVI_WERROR})
  foreach(dir lib platform comport ziplib src tests/wine)
    if(NOT dir IN_LIST ZEVAVI_SKIP_DIRS)
      zevavi_strict_warnings(${CMAKE_SOURCE_DIR}/${dir})
    endif()
  endforeach()
endif()
