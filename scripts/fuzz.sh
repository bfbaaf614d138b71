#!/usr/bin/env bash
# Builds the AT answer fuzz target with clang and libFuzzer and runs it for a
# bounded time (default 60 s); exits non-zero when it finds a crash.
# usage: scripts/fuzz.sh [SECONDS] [BUILD_DIR]
# Needs clang-14 and libclang-rt-14-dev (scripts/bootstrap.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
dir=${2:-build-fuzz}
cxx=$(command -v clang++-14 || command -v clang++)
mkdir -p "$dir/corpus" "$dir/artifacts"

"$cxx" -std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=undefined -I. \
  tests/fuzz/atanswerfuzz.cpp src/components/ltemodem/atanswer.cpp src/components/ltemodem/atresponseparser.cpp \
  -o "$dir/atanswerfuzz"

# The seeds are real-looking answers; the corpus directory keeps what the
# fuzzer found between runs.
"$dir/atanswerfuzz" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=1024 \
  -artifact_prefix="$dir/artifacts/" -print_final_stats=1 "$dir/corpus" tests/fuzz/corpus/atanswer
