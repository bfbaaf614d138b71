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
namespaces=$(mktemp /tmp/tarv-station-ns-XXXXXX)
trap 'rm -f "$namespaces"' EXIT
"$here/../../sim/station.sh" -b "$build" -s "$state" -n "$namespaces" "$@" -- bash "$here/$scenario.sh"
rc=$?
left=()
[[ -e $state ]] && left+=("the state directory $state")
grep -qE "$state| station-(sim|etc|usr|dev|run|class) " /proc/self/mountinfo && left+=("mounts of the station")
ip -o link | grep -qE ' (lan-(eth0|wlan0|plc0)|uap0|ecm0|lte0)[@:]' && left+=("links of the station")
# A process is the station's by its namespaces (the station's and the LAN's
# PID, network and mount namespaces, the driver's UTS namespace), whatever its
# command line says.
declare -A theirs=()
while read -r ns; do theirs[$ns]=1; done <"$namespaces"
for kind in pid net mnt uts; do # never the host's
  ns=$(readlink "/proc/self/ns/$kind") && unset 'theirs[$ns]'
done
# The namespaces' processes go with their init, but a process that entered
# one from outside (nsenter) is reaped by its parent on the host: a few
# seconds are allowed for that.
their_processes() {
  local pids pid
  # One pass over every process's namespace links: "PID KIND:[INODE]".
  pids=$(find /proc/[0-9]*/ns -maxdepth 1 \( -name pid -o -name net -o -name mnt -o -name uts \) \
    -printf '%h %l\n' 2>/dev/null | awk -v list="${!theirs[*]}" '
      BEGIN { n = split(list, ns, " "); for (i = 1; i <= n; i++) mine[ns[i]] = 1 }
      ($2 in mine) { split($1, p, "/"); if (!seen[p[3]]++) print p[3] }')
  for pid in $pids; do
    echo "process $pid: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
}
if ((${#theirs[@]})); then
  for ((i = 0; i < 50; i++)); do
    processes=$(their_processes)
    [[ -z $processes ]] && break
    sleep 0.1
  done
  [[ -z $processes ]] || mapfile -t -O "${#left[@]}" left <<<"$processes"
fi
if ((${#left[@]})); then
  echo "scenario $scenario: left behind:"
  printf '  %s\n' "${left[@]}"
  exit 1
fi
exit "$rc"
