# The console terminal. The screen buffer and the escape parsers need no windowing, so they
# form their own library that benchmarks and tests can use without a display.
add_library(zv_termcore STATIC
  ${CMAKE_CURRENT_LIST_DIR}/serportesc.h
  ${CMAKE_CURRENT_LIST_DIR}/serportesc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_buffer.h
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_buffer.cpp)
zevavi_headers_from_root(zv_termcore)

# The terminal control: a Qt widget bound to a serial port through a link.
add_library(zv_terminal STATIC
  ${CMAKE_CURRENT_LIST_DIR}/serportctl.h
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_terminal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_display.cpp)
zevavi_moc(zv_terminal)
target_link_libraries(zv_terminal PUBLIC zv_termcore zv_serport Qt6::Core Qt6::Gui Qt6::Widgets)
