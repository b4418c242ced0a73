set(RESULTS_SOURCES
  results/canvas.cpp
  results/formcalc.cpp
  results/formerro.cpp
  results/output_files.cpp
  results/plot_axes.cpp
  results/start_run.cpp
)
