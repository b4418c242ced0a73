# Paths relative to src/.
set(ENGINE_SOURCES
  engine/state.cpp
  engine/numio.cpp
  engine/geometry.cpp
  engine/strain.cpp
  engine/layered.cpp
  engine/broadening.cpp
  engine/evaluation.cpp
  engine/scattering.cpp
  engine/scattering_catalogue.cpp
  engine/dispersion.cpp
  engine/measured_curve.cpp
)
