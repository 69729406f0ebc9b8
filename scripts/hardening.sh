#!/usr/bin/env bash
# The suite again under the sanitizers, then the fuzz targets, each for a
# bounded time. CI runs this after scripts/test.sh; any sanitizer report, test
# failure or fuzz crash fails it.
#   FUZZ_SECONDS  seconds per fuzz target (default 20)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
install_missing_packages "${HARDENING_PACKAGES[@]}"

FUZZ_SECONDS=${FUZZ_SECONDS:-20}
SUPPRESSIONS="$ROOT/tests/sanitizer"

# Every test program, as registered in tests/CMakeLists.txt.
mapfile -t ALL_TESTS < <(sed -n 's/^talvor_test(\([a-z_0-9]*\) .*/\1/p' "$ROOT/tests/CMakeLists.txt")
# The tests whose threads meet: monitor, hand-over, settings thread, updates
# with the monitor parked, the named mutex, the serial line, line faults and
# two copies of the tool.
TSAN_TESTS=(test_monitor test_settings_link test_update test_main_window test_named_mutex
            test_serial_device test_faults test_two_copies)
FUZZ_TARGETS=(fuzz_update_reply fuzz_monitor_reply fuzz_image_trailer fuzz_settings_reply)

# sanitizer_tree DIR FLAGS TARGET...: configures and builds only the targets given.
sanitizer_tree() {
    local dir=$1 flags=$2
    shift 2
    # -g1: line tables are all the reports need, and they link faster.
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
        "-DCMAKE_CXX_FLAGS=-O1 -fno-omit-frame-pointer $flags" >/dev/null
    cmake --build "$dir" -j2 --target "$@"
}

# run_tests DIR NAME...: runs exactly the named ctest tests.
run_tests() {
    local dir=$1
    shift
    local regex
    regex="^($(IFS='|'; echo "$*"))\$"
    (cd "$dir" && ctest --output-on-failure -R "$regex")
}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
sanitizer_tree "$ROOT/build-ci-asan" "-fsanitize=address,undefined -fno-sanitize-recover=undefined" \
    "${ALL_TESTS[@]}"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
LSAN_OPTIONS=suppressions=$SUPPRESSIONS/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_tests "$ROOT/build-ci-asan" "${ALL_TESTS[@]}"

echo "== ThreadSanitizer: the threaded tests"
sanitizer_tree "$ROOT/build-ci-tsan" "-fsanitize=thread" "${TSAN_TESTS[@]}"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$SUPPRESSIONS/tsan.supp" \
    run_tests "$ROOT/build-ci-tsan" "${TSAN_TESTS[@]}"

echo "== libFuzzer: ${FUZZ_SECONDS} s per target"
CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$ROOT/build-ci-fuzz" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DBUILD_TESTING=OFF -DTALVOR_FUZZ=ON \
    "-DCMAKE_CXX_FLAGS=-O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    >/dev/null
cmake --build "$ROOT/build-ci-fuzz" -j2 --target "${FUZZ_TARGETS[@]}"
for target in "${FUZZ_TARGETS[@]}"; do
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    scratch="$ROOT/build-ci-fuzz/corpus/$target"
    log="$ROOT/build-ci-fuzz/$target.log"
    mkdir -p "$scratch"
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
