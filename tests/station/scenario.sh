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
[[ -x $build/src/tarv && -x $build/tools/tarvctl/tarvctl ]] || { echo "SKIP: tarv and tarvctl are not built in $build"; exit 77; }
state=$(mktemp -u /tmp/tarv-station-test-XXXXXX)
"$here/../../sim/station.sh" -b "$build" -s "$state" "$@" -- bash "$here/$scenario.sh"
rc=$?
left=()
[[ -e $state ]] && left+=("the state directory $state")
grep -qE "$state| station-(sim|etc|usr|dev|run|class) " /proc/self/mountinfo && left+=("mounts of the station")
ip -o link | grep -qE ' (lan-(eth0|wlan0|plc0)|uap0|ecm0|lte0)[@:]' && left+=("links of the station")
for proc in /proc/[0-9]*; do
  grep -qF "$state" "$proc/cmdline" 2>/dev/null && left+=("process ${proc#/proc/}: $(tr '\0' ' ' <"$proc/cmdline")")
done
if ((${#left[@]})); then
  printf 'scenario %s: left behind: %s\n' "$scenario" "${left[@]}"
  exit 1
fi
exit "$rc"
