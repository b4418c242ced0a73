set(REFINE_TEST_SOURCES
  refine/population_test.cpp
  refine/refinement_run_test.cpp
  refine/recovery_test.cpp
  refine/formrefinedata_test.cpp
  refine/run_driver_test.cpp
  refine/parallel_test.cpp
)
