# Stored settings: ini files everywhere; the registry's stand-in where the system has none.
if(WIN32)
  set(ZV_REGISTRY_SOURCE ${CMAKE_CURRENT_LIST_DIR}/registry_win.cpp)
else()
  set(ZV_REGISTRY_SOURCE ${CMAKE_CURRENT_LIST_DIR}/registry_posix.cpp)
endif()
add_library(zv_settingsstore STATIC ${CMAKE_CURRENT_LIST_DIR}/settingsstore.cpp ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
                                     ${ZV_REGISTRY_SOURCE})
zevavi_headers_from_root(zv_settingsstore)
target_link_libraries(zv_settingsstore PUBLIC zv_platform)
