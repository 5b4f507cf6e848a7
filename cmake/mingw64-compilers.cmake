# The mingw-w64 cross compilers and where they find the target's headers and libraries,
# nothing else. Qt's own build uses this alone: the project's definitions in
# toolchain-mingw64.cmake (WIN32_LEAN_AND_MEAN among them) would take Winsock from its sources.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_MINGW x86_64-w64-mingw32)

# The POSIX thread model, which std::thread and std::mutex need.
set(CMAKE_C_COMPILER ${ZV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
