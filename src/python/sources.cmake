# Paths relative to src/python.
set(PYTHON_SOURCES
  module.cpp
  errors.cpp
  project_binding.cpp
)
