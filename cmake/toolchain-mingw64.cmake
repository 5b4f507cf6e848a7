# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread and std::mutex need). Use with -DZEVAVI_CORE_ONLY=ON:
# Qt for Windows is not at hand here, so only the libraries below the window are built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL carries its runtime (libstdc++, winpthread, zlib) inside, so a
# program runs from its folder with nothing else copied beside it.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Windows 7 and later: the calls used here (CancelIoEx, GetTickCount64, inet_ntop) exist there.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# localtime_r and gmtime_r, which mingw-w64 declares on request.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS)

# Programs built here run on this machine under Wine (tests, and the build-time generators).
find_program(ZV_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(ZV_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
endif()
