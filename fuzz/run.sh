#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a fixed budget.
# Usage: fuzz/run.sh [SECONDS_EACH]  (default 50, so that every target together stays within
# eight minutes). Exits non-zero when a target finds a crash; the crashing input is left in
# build-fuzz/findings/ to be added to the corpus as a test input.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-50}"
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DUPDATEBANK_FUZZ=ON -DUPDATEBANK_TESTS=OFF -DUPDATEBANK_BENCH=OFF >/dev/null
cmake --build "$build" --target dbf_fuzz expression_fuzz filter_fuzz text_fuzz statement_fuzz json_fuzz kdt_values_fuzz xbase_index_fuzz -j "$(nproc)"
mkdir -p "$build/findings"
for target in dbf_fuzz expression_fuzz filter_fuzz text_fuzz statement_fuzz json_fuzz \
    kdt_values_fuzz xbase_index_fuzz; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds="fuzz/corpus/${target%_fuzz}"
    echo "fuzzing $target for ${seconds}s"
    "$build/fuzz/$target" "$corpus" "$seeds" -max_total_time="$seconds" -max_len=4096 \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" 2>"$build/$target.log" || {
        tail -n 40 "$build/$target.log"
        echo "$target found a failure; input saved under $build/findings/" >&2
        exit 1
    }
    grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
done
echo "fuzzing done"
