set(HARDENING_TEST_SOURCES
  hardening/bad_input_catalogue_test.cpp
)
