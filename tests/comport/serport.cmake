# The serial port component: settings tables, call sequences on the fake device, and real
# I/O with the event thread over ptys.
zevavi_add_test(test_serport_settings test_serport_settings.cpp LIBS zv_serport)
zevavi_add_test(test_serport_fake test_serport_fake.cpp LIBS zv_serport zv_comm_fake zv_qt_test_main TIMEOUT 120)
zevavi_add_test(test_serport_pty test_serport_pty.cpp LIBS zv_serport zv_test_pty zv_qt_test_main TIMEOUT 120)
# The packet splitter and stored settings need neither a device nor a display.
zevavi_add_test(test_serport_store test_serport_store.cpp test_serport_packet.cpp LIBS zv_serport zv_settingsstore)
