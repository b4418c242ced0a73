set(APP_SOURCES
  app/locale.cpp
  app/controls.cpp
  app/platform.cpp
  app/application.cpp
  app/formmain.cpp
  app/form4cols.cpp
)
