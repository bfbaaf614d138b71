#!/usr/bin/env bash
# Builds the Debian package of tarv (daemon, tarvctl, init script, systemd
# unit, default IPC configuration) in its own build tree.
# usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-pkg}
scripts/build.sh "$dir" -DTARV_BUILD_TESTS=OFF -DTARV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=MinSizeRel -- tarv tarvctl
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/*.deb
