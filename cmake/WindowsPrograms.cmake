# The Windows programs, cross-built against Qt for Windows (scripts/qt-mingw.sh), deployed into
# one folder that runs on a PC with nothing else installed, and packed into an installer.
# The suites stay with the native build; what runs here under Wine are the programs
# themselves, driven by tests/windows.
foreach(dir lib platform comport zip ziplib widgets src apps)
  add_subdirectory(${dir})
endforeach()
add_subdirectory(tests/windows)
add_subdirectory(packaging/windows)

include(${CMAKE_CURRENT_LIST_DIR}/Warnings.cmake)
