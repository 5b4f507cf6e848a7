# The console terminal. The screen buffer and the escape parsers need no windowing, so they
# form their own library that benchmarks and tests can use without a display.
add_library(zv_termcore STATIC
  ${CMAKE_CURRENT_LIST_DIR}/serportesc.h
  ${CMAKE_CURRENT_LIST_DIR}/serportesc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_buffer.h
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_buffer.cpp)
