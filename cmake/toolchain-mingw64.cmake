# Cross build for 64-bit Windows with Debian's mingw-w64. With -DZEVAVI_CORE_ONLY=ON only the
# libraries below the window are built; with -DZEVAVI_QT_MINGW=<prefix> (Qt for Windows, made by
# scripts/qt-mingw.sh) the programs and their installer are.
include(${CMAKE_CURRENT_LIST_DIR}/mingw64-compilers.cmake)

if(ZEVAVI_QT_MINGW)
  # Qt's target libraries come from its prefix; moc, rcc and uic are the host's, of the same
  # version.
  list(APPEND CMAKE_FIND_ROOT_PATH ${ZEVAVI_QT_MINGW})
  set(QT_HOST_PATH /usr CACHE PATH "")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
else()
  # The core's test programs carry their runtime (libstdc++, winpthread, zlib) inside, so each
  # runs from its folder with nothing copied beside it. With Qt the runtime DLLs are deployed
  # beside the programs anyway, and one copy of it in the process is what Qt's DLLs expect.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
endif()
set(ZLIB_USE_STATIC_LIBS ON)
# Windows 7 and later: the calls used here (CancelIoEx, GetTickCount64, inet_ntop) exist there.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# localtime_r and gmtime_r, which mingw-w64 declares on request.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS)

# Programs built here run on this machine under Wine (tests, and the build-time generators).
find_program(ZV_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(ZV_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()
