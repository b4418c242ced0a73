# Paths relative to src/cli/.
set(CLI_SOURCES
  main.cpp
)
