#!/usr/bin/env bash
# Builds the libFuzzer programs into build-fuzz/ (clang) and runs each in turn.
#   scripts/fuzz.sh [SECONDS]     each for SECONDS (default 300)
#   scripts/fuzz.sh --runs N      each for N executions (what CI does)
# Seeds come from tests/fuzz/corpus/<name>/; inputs found on the way collect in
# build-fuzz/corpus/<name>/, crashing inputs in build-fuzz/findings/. Exits 1 on any finding.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
fuzzers=(fuzz_yolo fuzz_voc fuzz_pending fuzz_parse fuzz_envelope)

limit=(-max_total_time="${1:-300}")
if [ "${1:-}" = "--runs" ]; then
    limit=(-runs="${2:?--runs needs a number}")
fi

if [ ! -f "$build/build.ninja" ]; then
    nice cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DBRINDLE_FUZZ=ON
fi
nice cmake --build "$build" --target fuzzers

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen
# The scratch files are rewritten for every input; in memory that costs no disk syncs.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
mkdir -p "$build/findings"
failed=()
for name in "${fuzzers[@]}"; do
    mkdir -p "$build/corpus/$name"
    echo "== $name ${limit[*]}"
    # The first folder receives new inputs; the committed seeds stay as they are.
    if ! nice "$build/tests/fuzz/$name" "${limit[@]}" -max_len=65536 -timeout=30 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$name-" \
        "$build/corpus/$name" "$root/tests/fuzz/corpus/$name" 2>"$build/$name.log"; then
        failed+=("$name")
    fi
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+ *DONE)|ERROR|FUZZ_CHECK|SUMMARY' \
        "$build/$name.log" || true
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "Findings in: ${failed[*]} (logs in $build/*.log, inputs in $build/findings/)"
    exit 1
fi
