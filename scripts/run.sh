#!/usr/bin/env bash
# Runs the daemon against a throw-away root directory under /tmp and shows
# its log on the console. Ctrl-C stops it in order.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=$(mktemp -d /tmp/tarv-root-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc/config" "$root/etc/network" "$root/run"
# Every service and peer on its own Unix socket under the root's /run/iipc.
cat > "$root/etc/iipc.json" <<'JSON'
{
  "TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock",
  "Tarv": "unix:/run/iipc/tarv.sock",
  "TarvLog": "unix:/run/iipc/tarvlog.sock",
  "BoardControl": "unix:/run/iipc/boardcontrol.sock",
  "Diagnostics": "unix:/run/iipc/diagnostics.sock"
}
JSON
echo "run: root directory $root (removed on exit); Ctrl-C stops the daemon"
echo "run: in another terminal:"
echo "run:   $build/tools/tarvctl/tarvctl --root $root/ watch"
echo "run:   $build/tools/tarvctl/tarvctl --root $root/ disable    # initialise, then:"
echo "run:   $build/tools/tarvctl/tarvctl --root $root/ enable     # also: state, log-level [LEVEL]"
# As root, in namespaces of its own with a station's WLAN links: initialising
# sets the host name and MAC addresses, which must not reach this machine.
sandbox=()
if [[ $(id -u) == 0 ]]; then sandbox=(tests/daemon/station_sandbox.sh); fi
set +e
"${sandbox[@]}" "$build/src/tarv" -v -r "$root/"
rc=$?
set -e
echo "run: tarv exited with $rc"
exit $rc
