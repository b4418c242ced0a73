# Paths relative to bench/; each file builds an executable named after it.
set(BENCH_SOURCES
  bench_engine.cpp
  bench_start_run.cpp
  bench_refine.cpp
  bench_sample_curve.cpp
  bench_sample.cpp
)
