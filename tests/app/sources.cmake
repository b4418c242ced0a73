set(APP_TEST_SOURCES
  app/locale_test.cpp
  app/application_test.cpp
)
