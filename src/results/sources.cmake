set(RESULTS_SOURCES
  results/formcalc.cpp
  results/formerro.cpp
)
