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

# A screenshot of the replayed boot-loader session under Xvfb, kept in the build tree
# (artifacts/terminal_session.png) for a person to look at.
add_executable(term_replay ${CMAKE_CURRENT_LIST_DIR}/term_replay.cpp)
target_link_libraries(term_replay PRIVATE zv_terminal zv_comm_fake Qt6::Widgets Qt6::Test)
find_program(ZV_XVFB_RUN xvfb-run)
find_program(ZV_IMPORT import)
if(ZV_XVFB_RUN AND ZV_IMPORT)
  add_test(NAME term_screenshot
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/term_screenshot.sh $<TARGET_FILE:term_replay>
            ${CMAKE_CURRENT_LIST_DIR}/data/cfe_session.log ${CMAKE_BINARY_DIR}/artifacts/terminal_session.png)
  set_tests_properties(term_screenshot PROPERTIES TIMEOUT 240)
endif()

# The selectors, the signal LED and the two setup dialogs, bound to a port on the fake line.
zevavi_add_test(test_comctl ${CMAKE_CURRENT_LIST_DIR}/test_comctl.cpp
  LIBS zv_comdialogs zv_comctl zv_comm_fake zv_qt_test_main)
