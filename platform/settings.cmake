# Stored settings: ini files everywhere; the registry's stand-in where the system has none.
add_library(zv_settingsstore STATIC ${CMAKE_CURRENT_LIST_DIR}/settingsstore.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/registry_posix.cpp)
zevavi_headers_from_root(zv_settingsstore)
