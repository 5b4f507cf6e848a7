# The console terminal: parsers and screen buffer need no display.
zevavi_add_test(test_term_core
  ${CMAKE_CURRENT_LIST_DIR}/test_term_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_term_buffer.cpp
  LIBS zv_termcore)

# The terminal control on Qt's offscreen platform, alone and bound to a port on the fake line.
zevavi_add_test(test_term_widget
  ${CMAKE_CURRENT_LIST_DIR}/test_term_terminal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_term_display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_term_port.cpp
  LIBS zv_terminal zv_comm_fake zv_qt_test_main)
