set(SETUP_SOURCES
  setup/formdata.cpp
)
