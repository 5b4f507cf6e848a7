# The port-bound controls (selectors and the signal LED, with its artwork drawn in code) and
# the two setup dialogs: everything of the serial component set that needs Qt Widgets.
add_library(zv_comctl STATIC
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_select.h
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_select.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_led.h
  ${CMAKE_CURRENT_LIST_DIR}/serportctl_led.cpp)
zevavi_headers_from_root(zv_comctl)
zevavi_moc(zv_comctl)
target_link_libraries(zv_comctl PUBLIC zv_serport zv_gui Qt6::Core Qt6::Gui Qt6::Widgets)

add_library(zv_comdialogs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/serportdialog.h
  ${CMAKE_CURRENT_LIST_DIR}/serportdialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serportsetup.h
  ${CMAKE_CURRENT_LIST_DIR}/serportsetup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serporttrmset.h
  ${CMAKE_CURRENT_LIST_DIR}/serporttrmset.cpp)
zevavi_headers_from_root(zv_comdialogs)
zevavi_moc(zv_comdialogs)
target_link_libraries(zv_comdialogs PUBLIC zv_comctl zv_terminal zv_serport zv_skin Qt6::Core Qt6::Gui Qt6::Widgets)
