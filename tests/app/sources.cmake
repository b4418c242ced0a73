set(APP_TEST_SOURCES
  app/locale_test.cpp
  app/application_test.cpp
  app/formmain_test.cpp
  app/profile_import_test.cpp
  app/form4cols_test.cpp
)
