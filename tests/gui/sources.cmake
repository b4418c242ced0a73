# Paths relative to tests/.
set(GUI_TEST_SOURCES
  gui/gui_test_main.cpp
  gui/binding_test.cpp
  gui/windows_test.cpp
  gui/plot_test.cpp
  gui/workbench_window_test.cpp
)
