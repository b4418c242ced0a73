# Paths relative to tests/.
set(CLI_TEST_SOURCES
  cli/job_file_test.cpp
  cli/simulate_test.cpp
  cli/job_runner_test.cpp
  cli/cli_test.cpp
  cli/reliability_test.cpp
  cli/fit_command_test.cpp
  cli/scan_command_test.cpp
  cli/fit_batch_test.cpp
  cli/crystals_command_test.cpp
)
