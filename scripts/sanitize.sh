#!/usr/bin/env bash
# Builds the test suite with AddressSanitizer, LeakSanitizer and UBSan into build-sanitize/ and runs
# it. Any report fails, also one from a program a test starts (Brindlemark, Brindlehost, the
# command-line tool, fake servers): every process writes its ASan and leak reports into one folder,
# checked at the end. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SANITIZE_BUILD_DIR:-$root/build-sanitize}"

if [ ! -f "$build/build.ninja" ]; then
    nice cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBRINDLE_SANITIZE=ON -DBRINDLE_BENCH=OFF
fi
nice cmake --build "$build" --parallel "$(nproc)"

reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:log_path=$reports/asan"
export LSAN_OPTIONS="suppressions=$root/tests/sanitize/lsan.supp:print_suppressions=0"
# Next to ASan, gcc's UBSan ignores log_path and prints to stderr; it aborts the process, which fails
# the test (or, in a child, the test that expected its output).
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
export QT_QPA_PLATFORM=offscreen

status=0
(cd "$build" && nice ctest --output-on-failure -j "${CTEST_JOBS:-2}" "$@") || status=$?

if compgen -G "$reports/*" > /dev/null; then
    for report in "$reports"/*; do
        echo "==== $report"
        cat "$report"
    done
    echo "Sanitizer reports above."
    status=1
fi
exit $status
