set(SETUP_TEST_SOURCES
  setup/catalogue_test.cpp
  setup/formdata_test.cpp
)
