#!/usr/bin/env bash
# Bounded sanitizer run of the JSON classes, natively on Linux with clang:
#   1. the JSON unit tests built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (they use no Windows call);
#   2. the libFuzzer target tests/report/fuzz/json_fuzz.cpp for a fixed time.
# Not part of the default test run. Needs clang and libclang-rt-14-dev.
#
#   tools/fuzz-json.sh [seconds] [build dir]
# seconds defaults to 180, the build dir to build/fuzz-json. The corpus grows
# in the build dir (seeded from tests/report/fuzz/corpus); a crash leaves its
# input there as crash-*. Ends with one line: "fuzz-json: passed ..." or
# "fuzz-json: FAILED ...", and exit status 0 or 1.
set -euo pipefail

seconds="${1:-180}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${2:-$root/build/fuzz-json}"
mkdir -p "$build/corpus"
build="$(cd "$build" && pwd)"

fail() {
    echo "fuzz-json: FAILED: $*"
    exit 1
}

command -v clang++ > /dev/null || fail "clang++ is missing (apt-get install clang libclang-rt-14-dev)"

sanitize=(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
flags=(-std=c++17 -g -O1 -Wall -Wextra -Wno-unused-parameter -I"$root/report")
sources=("$root/report/JsonNode.cpp" "$root/report/JsonObject.cpp")
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# 1. Unit tests under the sanitizers, against a native GoogleTest.
gtest_src=/usr/src/googletest/googletest
if [ ! -f "$build/gtest-all.o" ]; then
    clang++ "${flags[@]}" "${sanitize[@]}" -I"$gtest_src/include" -I"$gtest_src" -w \
        -c "$gtest_src/src/gtest-all.cc" -o "$build/gtest-all.o"
    clang++ "${flags[@]}" "${sanitize[@]}" -I"$gtest_src/include" -w \
        -c "$gtest_src/src/gtest_main.cc" -o "$build/gtest_main.o"
fi
clang++ "${flags[@]}" "${sanitize[@]}" -I"$gtest_src/include" -pthread \
    "$root/tests/report/json_node_test.cpp" "$root/tests/report/json_object_test.cpp" "${sources[@]}" \
    "$build/gtest-all.o" "$build/gtest_main.o" -o "$build/json_tests" || fail "the unit tests do not build"
unit_log="$build/unit-tests.log"
if ! timeout 300 "$build/json_tests" > "$unit_log" 2>&1; then
    tail -n 40 "$unit_log"
    fail "unit tests under the sanitizers (log: $unit_log)"
fi
unit_summary="$(grep -E '^\[  PASSED  \]' "$unit_log" | tail -n 1)"
echo "unit tests under ASan+UBSan: $unit_summary"

# 2. The fuzzer, for a bounded time.
clang++ "${flags[@]}" "${sanitize[@]}" -fsanitize=fuzzer \
    "$root/tests/report/fuzz/json_fuzz.cpp" "${sources[@]}" -o "$build/json_fuzz" || fail "the fuzz target does not build"
cp -n "$root/tests/report/fuzz/corpus/"* "$build/corpus/" 2> /dev/null || true
fuzz_log="$build/fuzz.log"
status=0
# libFuzzer stops itself after max_total_time; timeout is the hard bound.
(cd "$build" && timeout $((seconds + 120)) ./json_fuzz -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 -dict="$root/tests/report/fuzz/json.dict" -print_final_stats=1 corpus \
    > "$fuzz_log" 2>&1) || status=$?
executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$fuzz_log" | tail -n 1)"
corpus_size="$(find "$build/corpus" -type f | wc -l)"
if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$fuzz_log" | head -n 20 || true
    fail "fuzzer exit status $status after ${executions:-?} executions (log: $fuzz_log)"
fi
echo "fuzz-json: passed: $executions executions in ${seconds} s, no crash, leak or undefined behaviour; corpus $corpus_size inputs"
