# Paths relative to tests/.
set(ENGINE_TEST_SOURCES
  engine/state_test.cpp
  engine/numio_test.cpp
)
