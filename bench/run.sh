#!/usr/bin/env bash
# Builds the benchmarks in a release build (no sanitizers) and runs them.
#   bench/run.sh [bench_workbook arguments]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${QUARLEX_BENCH_BUILD_DIR:-$root/build/bench}
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARLEX_TESTS=OFF -DQUARLEX_GUI=OFF >/dev/null
cmake --build "$dir" --target bench_workbook -- -j2
"$dir/bench/bench_workbook" "$@"
