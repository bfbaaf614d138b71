#!/usr/bin/env bash
# Runs the daemon against a throw-away root directory under /tmp and shows
# its log on the console. Ctrl-C stops it in order.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(mktemp -d /tmp/tarv-root-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc/config" "$root/etc/network" "$root/run"
echo "run: root directory $root (removed on exit); Ctrl-C stops the daemon"
set +e
"$build/src/tarv" -v -r "$root/"
rc=$?
set -e
echo "run: tarv exited with $rc"
exit $rc
