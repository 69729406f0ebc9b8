#!/usr/bin/env bash
# What CI runs besides scripts/test.sh (which already runs every test under
# AddressSanitizer and UndefinedBehaviorSanitizer): the tests labelled
# "threads" under ThreadSanitizer, then the fuzz targets, each for a bounded
# time. Any sanitizer report, test failure or fuzz crash fails it. The trees
# and their options are the tsan and fuzz presets of CMakePresets.json.
#   FUZZ_SECONDS  seconds per fuzz target (default 10)
#   PREBUILD      presets of CMakePresets.json that the script run next needs,
#                 built in the background meanwhile (CI: asan)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
mark "hardening: packages"
install_missing_packages
install_missing_packages "${HARDENING_PACKAGES[@]}"

FUZZ_SECONDS=${FUZZ_SECONDS:-10}
SUPPRESSIONS="$ROOT/tests/sanitizer"
cd "$ROOT"

mark "ThreadSanitizer: build the threaded tests"
build_preset tsan
# The fuzz targets, and the trees asked for (PREBUILD, split into presets),
# build while the tests run.
build_in_background fuzz ${PREBUILD:-}
mark "ThreadSanitizer: the threaded tests"
ctest --preset tsan

mark "libFuzzer: the rest of the build"
wait_for_tree fuzz
mark "libFuzzer: ${FUZZ_SECONDS} s per target"
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
mark "hardening: the rest of the background builds"
wait_for_background
mark "hardening: all passed"
