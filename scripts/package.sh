#!/usr/bin/env bash
# Builds the Debian package of tarv (daemon, tarvctl, start-up files, manual
# pages, completion, example scripts, default IPC configuration) in its own
# build tree, from the daemon and tarvctl alone: the install rules name no
# other program.
# usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-pkg}
scripts/build.sh "$dir" -DTARV_BUILD_TESTS=OFF -DTARV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=MinSizeRel -- tarv tarvctl
rm -f "$dir"/*.deb
if ! (cd "$dir" && cpack -G DEB >cpack.log 2>&1); then
  cat "$dir/cpack.log" >&2
  echo "package: cpack failed (log: $dir/cpack.log)" >&2
  exit 1
fi
ls "$dir"/*.deb
