# Paths relative to src/.
set(WORKBENCH_SOURCES
  workbench/workbench.cpp
)
