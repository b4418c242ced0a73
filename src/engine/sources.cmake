# Paths relative to src/.
set(ENGINE_SOURCES
  engine/state.cpp
  engine/numio.cpp
  engine/geometry.cpp
  engine/strain.cpp
  engine/layered.cpp
  engine/layered_simd.cpp
  engine/layered_full.cpp
  engine/physics.cpp
  engine/broadening.cpp
  engine/instrument_function.cpp
  engine/evaluation.cpp
  engine/scattering.cpp
  engine/scattering_catalogue.cpp
  engine/dispersion.cpp
  engine/measured_curve.cpp
  engine/catalogue.cpp
  engine/sample.cpp
  engine/element_data.cpp
  engine/crystal_structure.cpp
  engine/material_scattering.cpp
  engine/crystal_catalogue.cpp
  engine/alloy.cpp
  engine/io/scan.cpp
  engine/io/scan_text.cpp
  engine/io/xrdml_reader.cpp
  engine/io/x00_reader.cpp
  engine/io/ras_reader.cpp
  engine/io/uxd_reader.cpp
  engine/io/text_scan_reader.cpp
  engine/io/rocking_curve.cpp
  engine/sample_curve.cpp
  engine/simd/layered_kernel_sse2.cpp
  engine/simd/layered_kernel_avx2.cpp
  engine/simd/layered_kernel_avx512.cpp
)
# The vectorised angle loop is compiled once per instruction set and picked at run time. Those
# units are always optimised: an inline function left out of line in one of them could otherwise
# be taken by the linker for every caller, wider instructions and all.
set_source_files_properties(engine/simd/layered_kernel_sse2.cpp PROPERTIES
  COMPILE_OPTIONS "-O2")
set_source_files_properties(engine/simd/layered_kernel_avx2.cpp PROPERTIES
  COMPILE_OPTIONS "-O2;-mavx2;-mfma")
# GCC 12's own AVX-512 header trips -Wmaybe-uninitialized on its deliberately undefined vectors.
set_source_files_properties(engine/simd/layered_kernel_avx512.cpp PROPERTIES
  COMPILE_OPTIONS "-O2;-mavx512f;-mavx2;-mfma;-Wno-maybe-uninitialized")
