#!/usr/bin/env bash
# Configures (once) and builds one build tree.
# usage: scripts/build.sh BUILD_DIR [extra cmake -D options...] [-- ninja targets...]
set -euo pipefail
# Lets ccache share results between clones of the repository in other folders.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd "$(dirname "$0")/.." && pwd)}
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
