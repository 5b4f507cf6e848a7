# The serial port component: settings, lifecycle and I/O, event thread, links, errors.
add_library(zv_serport STATIC serporttypes.cpp serporterror.cpp serportsettings.cpp serport.cpp serportthread.cpp)
zevavi_headers_from_root(zv_serport)
target_link_libraries(zv_serport PUBLIC zv_comm zv_gui zv_log Threads::Threads)
