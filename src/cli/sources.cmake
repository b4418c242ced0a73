# Paths relative to src/cli/. The library holds the tool's logic so tests can link it.
set(CLI_LIB_SOURCES
  job_file.cpp
  job_runner.cpp
  svg_plot.cpp
  simulate.cpp
  scan_command.cpp
  crystals_command.cpp
  progress.cpp
  cli.cpp
  fit_command.cpp
  batch_fit.cpp
)
set(CLI_SOURCES
  main.cpp
)
