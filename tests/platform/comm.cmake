# The serial device layer over real ptys, port names and the port list.
add_library(zv_test_pty STATIC pty_pair.cpp line_settings.cpp)
zevavi_headers_from_root(zv_test_pty)
target_link_libraries(zv_test_pty PUBLIC util)
zevavi_add_test(test_comm_posix test_comm_posix.cpp LIBS zv_comm zv_test_pty TIMEOUT 120)
zevavi_add_test(test_comm_fake test_comm_fake.cpp LIBS zv_comm_fake)
