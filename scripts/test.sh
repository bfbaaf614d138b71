#!/usr/bin/env bash
# The whole test run: normal build, ASan+UBSan build, TSan build of the
# concurrency tests. Fails on the first failing test or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$(date +%s)

echo "== normal build"
scripts/build.sh build
echo "== normal tests"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/build.sh build-asan "-DTARV_SANITIZE=address;undefined" -DTARV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
echo "== AddressSanitizer + UndefinedBehaviorSanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer build (concurrency tests)"
scripts/build.sh build-tsan -DTARV_SANITIZE=thread -DTARV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug -- concurrency_tests
echo "== ThreadSanitizer tests"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -j "$jobs" -L concurrency)

echo "== all test runs passed in $(( $(date +%s) - start )) s"
