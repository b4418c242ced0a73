# Paths relative to src/gui/.
set(GUI_SOURCES
  qt_platform.cpp
)
