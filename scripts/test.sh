#!/usr/bin/env bash
# The whole test run. The optimised build holds the product, the tools, the
# benchmarks and the tests that drive the built programs (daemon, packaging,
# simulated station); the unit tests run in the sanitizer builds: all of them
# under AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests
# under ThreadSanitizer. The optimised build's tests mostly wait on other
# processes, so the sanitizer builds compile beside them at low priority. The
# station scenarios labelled "long" are left to "make reliability".
# Fails on the first failing test or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$(date +%s)

echo "== optimised build (product, tools, benchmarks, tests of the built programs)"
scripts/build.sh build -DTARV_UNIT_TESTS=OFF

echo "== tests of the built programs, beside the sanitizer builds"
log=build/Testing/programs.log
mkdir -p build/Testing
# The long station scenarios are "make reliability"'s.
(cd build && ctest --output-on-failure -j "$jobs" -LE long) >"$log" 2>&1 &
programs=$!
# Whatever happens to the builds, the tests' processes are not left behind.
trap 'kill "$programs" 2>/dev/null || true' EXIT
tsan_status=0
nice -n 10 scripts/build.sh build-tsan -DTARV_SANITIZE=thread -DTARV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
  -- concurrency_tests || tsan_status=$?
asan_status=0
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
nice -n 10 scripts/build.sh build-asan "-DTARV_SANITIZE=address;undefined" -DTARV_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug || asan_status=$?
programs_status=0
wait "$programs" || programs_status=$?
trap - EXIT
cat "$log"
[[ $programs_status -eq 0 ]] || { echo "== tests of the built programs failed"; exit "$programs_status"; }
[[ $tsan_status -eq 0 ]] || { echo "== ThreadSanitizer build failed"; exit "$tsan_status"; }
[[ $asan_status -eq 0 ]] || { echo "== AddressSanitizer + UndefinedBehaviorSanitizer build failed"; exit "$asan_status"; }

echo "== AddressSanitizer + UndefinedBehaviorSanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer tests"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -j "$jobs" -L concurrency)

echo "== all test runs passed in $(( $(date +%s) - start )) s"
