# Paths relative to tests/.
set(ENGINE_TEST_SOURCES
  engine/state_test.cpp
  engine/numio_test.cpp
  engine/scan_test.cpp
  engine/geometry_test.cpp
  engine/strain_test.cpp
  engine/layered_test.cpp
  engine/layered_simd_test.cpp
  engine/broadening_test.cpp
  engine/instrument_function_test.cpp
  engine/evaluation_test.cpp
  engine/scattering_test.cpp
  engine/dispersion_test.cpp
  engine/golden_test.cpp
)
