#!/usr/bin/env bash
# Runs every benchmark program of a build folder. Usage: bench/run.sh [BUILD_DIR] (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
shopt -s nullglob
for program in "$build"/bench/*_bench; do
    echo "== $(basename "$program")"
    "$program" --benchmark_min_time=0.2
done
