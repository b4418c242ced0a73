set(REFINE_SOURCES
  refine/refine_state.cpp
  refine/formrefinedata.cpp
  refine/formrefine.cpp
)
