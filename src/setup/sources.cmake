set(SETUP_SOURCES
  setup/catalogue.cpp
  setup/formdata.cpp
)
