#!/usr/bin/env bash
# Runs the libFuzzer targets one after the other, single process each (the machine is shared).
#   tests/fuzz/run_fuzzers.sh [seconds per target] [target ...]
# Needs the clang build: cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++
#   -DKELVARIN_FUZZ=ON -DKELVARIN_GUI=OFF -DKELVARIN_BENCH=OFF && cmake --build build-fuzz --target fuzzers
# The growing corpus stays in build-fuzz/corpus/<target>; crashing inputs land in
# build-fuzz/artifacts/<target>/. Copy a fixed finding into tests/fuzz/<target>/ so that the
# corpus replay of `make test` keeps it fixed.
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(profile_pairs ion_list measured_raw measured_resampled dispersion job_file
  scan_xrdml scan_x00 scan_ras scan_uxd scan_text)
build=${FUZZ_BUILD:-build-fuzz}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  echo "== $t: $seconds s ($(date -u +%H:%M:%S))"
  "$build/tests/fuzz/fuzz_$t" -jobs=1 -workers=1 -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=262144 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t/" "$build/corpus/$t" "tests/fuzz/$t" \
    > "$build/fuzz-$t.log" 2>&1
  rc=$?
  [ -f fuzz-0.log ] && cat fuzz-0.log >> "$build/fuzz-$t.log" && rm -f fuzz-0.log
  echo "   exit $rc; $(grep -E 'stat::number_of_executed_units|cov:' "$build/fuzz-$t.log" | tail -2 | tr '\n' ' ')"
  [ $rc -ne 0 ] && status=1
done
exit $status
