# The serial port component: settings, lifecycle, I/O, events and links, event thread,
# errors, stored settings, and the packet splitter (which needs no windowing).
add_library(zv_serport STATIC
  serporttypes.cpp
  serporterror.cpp
  serportsettings.cpp
  serport.cpp
  serport_io.cpp
  serport_events.cpp
  serport_debug.h
  serportthread.cpp
  serportstore.cpp
  serportpacket.h
  serportpacket.cpp)
zevavi_headers_from_root(zv_serport)
target_link_libraries(zv_serport PUBLIC zv_comm zv_gui zv_log zv_settingsstore Threads::Threads)
