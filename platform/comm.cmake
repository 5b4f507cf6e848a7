# The serial device layer: the OS backend and the fake that tests hand to the port component.
if(WIN32)
  set(ZV_COMM_OS_SOURCES comm_win.cpp)
else()
  set(ZV_COMM_OS_SOURCES comm_event_posix.cpp comm_posix.cpp comm_enum_posix.cpp)
endif()
add_library(zv_comm STATIC comm.cpp comm_errors.cpp comm_events.cpp comm_ports.cpp ${ZV_COMM_OS_SOURCES})
zevavi_headers_from_root(zv_comm)
target_link_libraries(zv_comm PUBLIC Threads::Threads)

add_library(zv_comm_fake STATIC comm_fake.cpp)
target_link_libraries(zv_comm_fake PUBLIC zv_comm)
