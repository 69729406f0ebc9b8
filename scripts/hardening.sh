#!/usr/bin/env bash
# The suite again under the sanitizers, then the fuzz targets, each for a
# bounded time. CI runs this before scripts/test.sh; any sanitizer report, test
# failure or fuzz crash fails it. The trees and their options are the asan,
# tsan and fuzz presets of CMakePresets.json; the tests ThreadSanitizer runs
# are those labelled "threads".
#   FUZZ_SECONDS  seconds per fuzz target (default 10)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
install_missing_packages "${HARDENING_PACKAGES[@]}"

FUZZ_SECONDS=${FUZZ_SECONDS:-10}
SUPPRESSIONS="$ROOT/tests/sanitizer"
cd "$ROOT"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
build_preset asan
ctest --preset asan

echo "== ThreadSanitizer: the threaded tests"
build_preset tsan
ctest --preset tsan

echo "== libFuzzer: ${FUZZ_SECONDS} s per target"
build_preset fuzz
for source in "$ROOT"/tests/fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    scratch="$ROOT/build-ci-fuzz/corpus/$target"
    log="$ROOT/build-ci-fuzz/$target.log"
    mkdir -p "$scratch" "$ROOT/tests/fuzz/corpus/$target"
    echo "-- $target"
    if ! ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$SUPPRESSIONS/lsan.supp \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$ROOT/build-ci-fuzz/tests/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$ROOT/build-ci-fuzz/$target-" \
            "$scratch" "$ROOT/tests/fuzz/corpus/$target" >"$log" 2>&1; then
        tail -n 80 "$log"
        echo "$target: failed, input kept as $ROOT/build-ci-fuzz/$target-*"
        exit 1
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log"
done
echo "hardening: all passed"
