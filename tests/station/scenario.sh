#!/usr/bin/env bash
# Runs one station scenario (SCENARIO.sh beside this file) as the driver of
# the simulated station, then checks that the station left nothing behind on
# the host: no process, mount or state directory. Exit 77 skips.
# usage: scenario.sh BUILD SCENARIO [station.sh options...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 scenario=$2
shift 2
[[ $(id -u) -eq 0 ]] || { echo "SKIP: the simulated station needs root"; exit 77; }
[[ -x $build/src/tarv && -x $build/tools/tarvctl/tarvctl && -x $build/tools/standin/tarv-standin ]] ||
  { echo "SKIP: tarv, tarvctl and tarv-standin are not built in $build"; exit 77; }
state=$(mktemp -u /tmp/tarv-station-test-XXXXXX)
namespaces=$(mktemp /tmp/tarv-station-left-XXXXXX)
trap 'rm -f "$namespaces"' EXIT
"$here/../../sim/station.sh" -b "$build" -s "$state" -n "$namespaces" "$@" -- bash "$here/$scenario.sh"
rc=$?
left=()
[[ -e $state ]] && left+=("the state directory $state")
grep -qE "$state| station-(sim|etc|usr|dev|run|class) " /proc/self/mountinfo && left+=("mounts of the station")
ip -o link | grep -qE ' (lan-(eth0|wlan0|plc0)|uap0|ecm0|lte0)[@:]' && left+=("links of the station")
# station.sh lists every process still in one of the station's, the LAN's,
# the modem router's or the driver's namespaces, whatever its command line.
[[ -s $namespaces ]] && mapfile -t -O "${#left[@]}" left <"$namespaces"
if ((${#left[@]})); then
  echo "scenario $scenario: left behind:"
  printf '  %s\n' "${left[@]}"
  exit 1
fi
exit "$rc"
