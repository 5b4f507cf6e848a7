# The Windows programs, cross-built against Qt for Windows (scripts/qt-mingw.sh), deployed into
# one folder that runs on a PC with nothing else installed, and packed into an installer.
# The suites stay with the native build; what runs here under Wine are the programs
# themselves, driven by tests/windows.
# The generators that run during the build (the skin artwork, the archive component's message
# table) are the native build's: their output is the same for every system.
set(ZEVAVI_HOST_TOOLS "" CACHE PATH "The native build's bin/ folder, with zv_skin_artgen and zamsggen")
foreach(tool zv_skin_artgen zamsggen)
  if(NOT EXISTS "${ZEVAVI_HOST_TOOLS}/${tool}")
    message(FATAL_ERROR "The Windows programs need the native build's ${tool}: build it, then give "
                        "-DZEVAVI_HOST_TOOLS=<native build>/bin")
  endif()
endforeach()
foreach(dir lib platform comport zip ziplib widgets src apps)
  add_subdirectory(${dir})
endforeach()
add_subdirectory(tests/windows)
add_subdirectory(packaging/windows)

include(${CMAKE_CURRENT_LIST_DIR}/Warnings.cmake)
