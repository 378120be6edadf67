#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each of them.
# Usage: fuzz/run.sh [TOTAL_SECONDS]  (default 480). The total bounds the whole step, build
# included: what the build leaves, less a few seconds per target for start and merge, is shared
# equally among the targets (at least 5 seconds each). Exits non-zero when a target finds a
# crash; the crashing input is left in build-fuzz/findings/ to be added to the corpus as a test
# input. FUZZ_SECONDS_EACH, when set, gives every target that many seconds instead; FUZZ_TARGETS
# names the targets to build and run (all of them by default); JOBS bounds the build's jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
total="${1:-480}"
started=$SECONDS
build=build-fuzz
targets=(dbf_fuzz expression_fuzz filter_fuzz text_fuzz statement_fuzz params_fuzz json_fuzz
    kdt_values_fuzz xbase_index_fuzz xbase_table_fuzz kdt_crypt_fuzz journal_fuzz dictionary_fuzz
    alias_fuzz)
# FUZZ_TARGETS, when set, names the targets to build and run instead (separated by blanks).
if [[ -n "${FUZZ_TARGETS:-}" ]]; then
    read -r -a targets <<<"$FUZZ_TARGETS"
fi
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DUPDATEBANK_FUZZ=ON -DUPDATEBANK_TESTS=OFF -DUPDATEBANK_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "${JOBS:-$(nproc)}"
if [[ -n "${FUZZ_SECONDS_EACH:-}" ]]; then
    seconds=$FUZZ_SECONDS_EACH
else
    left=$((total - (SECONDS - started) - 5 * ${#targets[@]}))
    seconds=$((left / ${#targets[@]}))
    ((seconds >= 5)) || seconds=5
fi
echo "build took $((SECONDS - started))s; fuzzing each target for ${seconds}s"
mkdir -p "$build/findings"
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds="fuzz/corpus/${target%_fuzz}"
    echo "fuzzing $target for ${seconds}s"
    max_len=4096
    # A table, its index and its memo file together.
    [[ $target == xbase_table_fuzz ]] && max_len=8192
    "$build/fuzz/$target" "$corpus" "$seeds" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" 2>"$build/$target.log" || {
        tail -n 40 "$build/$target.log"
        echo "$target found a failure; input saved under $build/findings/" >&2
        exit 1
    }
    grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
done
echo "fuzzing done in $((SECONDS - started))s"
