# Paths relative to src/gui/.
set(GUI_SOURCES
  binding.cpp
  qt_platform.cpp
  plot_painter.cpp
  gui.cpp
  main_view.cpp
  formdata_view.cpp
  formcalc_view.cpp
  formerro_view.cpp
  form4cols_view.cpp
  formrefinedata_view.cpp
  formrefine_view.cpp
  readout_chart_view.cpp
  workbench_plots.cpp
  workbench_window.cpp
)
