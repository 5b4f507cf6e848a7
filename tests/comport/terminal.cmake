# The console terminal: parsers and screen buffer need no display.
zevavi_add_test(test_term_core
  ${CMAKE_CURRENT_LIST_DIR}/test_term_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_term_buffer.cpp
  LIBS zv_termcore)
