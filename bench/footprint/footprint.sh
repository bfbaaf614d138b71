#!/usr/bin/env bash
# Idle footprint of the daemon: starts it against a throw-away root (as
# scripts/run.sh does) inside a private network namespace, drives it to
# Enabled with tarvctl (disable, then enable), then measures an idle window.
#
# With -s the daemon runs in the simulated station instead (sim/station.sh,
# root only): the same figures with every interface of the station up.
#
# usage: bench/footprint/footprint.sh [-b BUILD_DIR] [-w WINDOW_SECONDS] [-s]
# Reports RSS, PSS, private memory (anonymous plus private file pages),
# threads, CPU as % of one core and voluntary context switches (wake-ups)
# per minute per thread name.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build
window=60
station=0
while getopts "b:w:sS" opt; do
  case $opt in
    b) build=$OPTARG ;;
    w) window=$OPTARG ;;
    s) station=1 ;;
    S) station=2 ;; # inside the station, as its driver
    *) echo "usage: $0 [-b BUILD_DIR] [-w WINDOW_SECONDS] [-s]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
(($# == 0)) || { echo "footprint: unexpected argument '$1'; usage: $0 [-b BUILD_DIR] [-w WINDOW_SECONDS] [-s]" >&2; exit 2; }
[[ $window =~ ^[1-9][0-9]*$ ]] || { echo "footprint: the window must be a whole number of seconds" >&2; exit 2; }
tarv=$build/src/tarv
ctl=$build/tools/tarvctl/tarvctl
for program in "$tarv" "$ctl"; do
  [[ -x $program ]] || { echo "footprint: $program is missing; build it first" >&2; exit 2; }
done

if ((station == 1)); then
  exec sim/station.sh -b "$build" -- "$0" -b "$build" -w "$window" -S
fi
pid=
if ((station == 2)); then
  # shellcheck source=sim/lib/driver.sh
  source sim/lib/driver.sh
  station_bring_up 60 || { echo "footprint: the station did not reach Enabled" >&2; exit 1; }
  pid=$(pgrep -P "$STATION_PID" -x tarv) || { echo "footprint: no daemon in the station" >&2; exit 1; }
  sleep 15 # leases, the modem's registration and the first polls settle first
  mode="in the simulated station"
else
root=$(mktemp -d /tmp/tarv-footprint-XXXXXX)
sandbox=
# The daemon ends on every way out: SIGTERM, then SIGKILL after 5 s. In the
# sandbox (PID namespace) it also ends when this script is killed outright.
cleanup() {
  if [[ -n $sandbox ]] && kill -0 "$sandbox" 2>/dev/null; then
    kill -TERM "$sandbox" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$sandbox" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$sandbox" 2>/dev/null || true
  fi
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
# The first process named NAME below PID (the daemon below the sandbox's script).
descendant_named() { # PID NAME
  local child
  for child in $(pgrep -P "$1"); do
    [[ $(cat "/proc/$child/comm" 2>/dev/null) == "$2" ]] && { echo "$child"; return 0; }
    descendant_named "$child" "$2" && return 0
  done
  return 1
}
mkdir -p "$root/etc/config" "$root/etc/network" "$root/run"
cat > "$root/etc/iipc.json" <<'JSON'
{
  "TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock",
  "Tarv": "unix:/run/iipc/tarv.sock",
  "TarvLog": "unix:/run/iipc/tarvlog.sock",
  "BoardControl": "unix:/run/iipc/boardcontrol.sock",
  "Diagnostics": "unix:/run/iipc/diagnostics.sock"
}
JSON

# The daemon test's sandbox (namespaces with a station's WLAN links, its own
# processes, /run and /etc) keeps the host's interfaces, host name and
# processes out of reach (the daemon sets the host name when it initialises).
netns=()
if [[ ${FOOTPRINT_NETNS:-1} == 1 ]]; then netns=(tests/daemon/station_sandbox.sh); fi
"${netns[@]}" "$tarv" -r "$root/" >"$root/tarv.log" 2>&1 &
sandbox=$!
pid=$sandbox
if ((${#netns[@]})); then
  pid=
  for _ in $(seq 100); do pid=$(descendant_named "$sandbox" tarv) && break; sleep 0.05; done
  [[ -n $pid ]] || { echo "footprint: no daemon in the sandbox:" >&2; tail "$root/tarv.log" >&2; exit 1; }
fi

ctl() { timeout 40 "$ctl" --root "$root/" "$@"; }
for _ in $(seq 100); do [[ -S $root/run/iipc/tarvgenctrl.sock ]] && break; sleep 0.1; done
[[ -S $root/run/iipc/tarvgenctrl.sock ]] || { echo "footprint: the daemon did not start:" >&2; tail "$root/tarv.log" >&2; exit 1; }
ctl disable >/dev/null || true
# An enable that arrives while the daemon still initialises is answered
# "Illegal" and has no effect: wait for Disabled first.
for _ in $(seq 100); do
  [[ $(ctl state 2>/dev/null || true) == *Disabled* ]] && break
  sleep 0.2
done
ctl enable >/dev/null || true
state=
for _ in $(seq 60); do
  state=$(ctl state 2>/dev/null || true)
  [[ $state == *Enabled* ]] && break
  sleep 0.5
done
[[ $state == *Enabled* ]] || { echo "footprint: the daemon did not reach Enabled (state: $state)" >&2; exit 1; }
sleep 2 # let the enable settle before the window starts
mode="state Enabled"
fi

# "name switches" for every thread, and the process's CPU ticks.
threads() {
  for task in /proc/"$pid"/task/*; do
    printf '%s\t%s\n' "$(cat "$task/comm")" "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status")"
  done 2>/dev/null
}
ticks() { awk '{print $14 + $15}' /proc/"$pid"/stat; }

before=$(threads); ticks0=$(ticks)
sleep "$window"
after=$(threads); ticks1=$(ticks)

kib() { awk -v k="$1" '$1 == k":" {print $2}' /proc/"$pid"/smaps_rollup; }
rss=$(awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status)
pss=$(kib Pss); anon=$(kib Anonymous)
private=$(( $(kib Private_Clean) + $(kib Private_Dirty) ))
hz=$(getconf CLK_TCK)
mib() { awk -v k="$1" 'BEGIN {printf "%.1f MiB", k / 1024}'; }

echo "tarv idle footprint over ${window} s ($mode)"
printf '  %-22s %s\n' "RSS" "$(mib "$rss")" "PSS" "$(mib "$pss")" \
  "private (anon + file)" "$(mib "$private") (anonymous $(mib "$anon"))" \
  "threads" "$(ls /proc/"$pid"/task | wc -l)" \
  "CPU" "$(awk -v t=$((ticks1 - ticks0)) -v hz="$hz" -v w="$window" 'BEGIN {printf "%.2f %% of one core", 100 * t / hz / w}')"
echo "  wake-ups per minute by thread name (voluntary context switches):"
# Threads are matched by name and order of appearance; a thread that came or
# went during the window counts from zero.
awk -F'\t' -v w="$window" '
  NR == FNR { seen[$1]++; start[$1, seen[$1]] = $2; next }
  { n[$1]++; count[$1]++; total[$1] += $2 - ((($1, n[$1]) in start) ? start[$1, n[$1]] : 0) }
  END {
    for (name in total) { sum += total[name]; printf "    %-18s %2d thread(s) %8.0f\n", name, count[name], total[name] * 60 / w }
    printf "    %-18s %12s %8.0f\n", "all", "", sum * 60 / w
  }' <(echo "$before") <(echo "$after") | sort -k1,1
