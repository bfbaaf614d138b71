#!/usr/bin/env bash
# Configures (once) and builds one build tree.
# usage: scripts/build.sh BUILD_DIR [extra cmake -D options...] [-- ninja targets...]
set -euo pipefail
# ccache must see absolute paths: with a base directory it would rewrite them
# to relative ones and defeat the -ffile-prefix-map that makes log positions
# repository-relative.
unset CCACHE_BASEDIR
cd "$(dirname "$0")/.."

dir=${1:-build}
shift || true
cmake_args=()
targets=()
while [[ $# -gt 0 ]]; do
  if [[ $1 == "--" ]]; then shift; targets=("$@"); break; fi
  cmake_args+=("$1"); shift
done

if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARV_WERROR=ON "${cmake_args[@]}" >/dev/null
elif [[ ${#cmake_args[@]} -gt 0 ]]; then
  cmake "$dir" "${cmake_args[@]}" >/dev/null
fi
cmake --build "$dir" ${targets:+--target "${targets[@]}"}
