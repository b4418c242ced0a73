set(RESULTS_TEST_SOURCES
  results/formcalc_test.cpp
  results/measured_curve_test.cpp
  results/output_files_test.cpp
  results/plot_test.cpp
  results/start_run_test.cpp
  results/road_test.cpp
)
