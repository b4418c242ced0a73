#!/usr/bin/env bash
# Soak run of the refinement: builds the benchmarks' programs and runs GENERATIONS generations
# (default 10000) of a 50-candidate refinement with restarts on THREADS threads (default: one
# per core), printing resident memory and speed every 500 generations and a summary at the end.
#   tools/soak.sh [GENERATIONS] [THREADS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
make deps
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target soak_refine
exec "$build/bench/soak_refine" "${1:-10000}" "${2:-0}" 500
