# Paths relative to src/.
set(ENGINE_SOURCES
  engine/state.cpp
  engine/numio.cpp
)
