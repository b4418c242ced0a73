# Paths relative to src/.
set(FIT_SOURCES
  fit/parameter_table.cpp
  fit/profile_model.cpp
  fit/fit_problem.cpp
  fit/optimizer.cpp
  fit/evolutionary.cpp
  fit/problem_evaluator.cpp
  fit/worker_pool.cpp
  fit/project_file.cpp
  fit/parallel_scorer.cpp
  fit/differential_evolution.cpp
  fit/least_squares_polish.cpp
  fit/uncertainty.cpp
  fit/fit_statistics.cpp
  fit/fit_report.cpp
  fit/profile_band.cpp
)
