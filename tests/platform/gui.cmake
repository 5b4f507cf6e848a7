zevavi_add_test(test_gui test_gui.cpp LIBS zv_gui zv_qt_test_main)
zevavi_add_test(test_paths test_paths.cpp LIBS zv_platform)
zevavi_add_test(test_files test_files.cpp LIBS zv_platform)
