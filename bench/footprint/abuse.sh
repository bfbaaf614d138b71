#!/usr/bin/env bash
# Memory of the daemon before and after rounds of IPC abuse, in the simulated
# station (root only): brings the station to Enabled, measures the idle
# figures, then runs ROUNDS rounds of bench_ipcabuse (many clients, floods,
# subscribers that never read, oversized and garbage requests, 1 ms
# deadlines, random bytes) and measures again 5 s after each round and 30 s
# after the last. Fails when a round's table shows a hang or an unanswered
# state request, or when RSS stays more than LIMIT MiB (default 4) above idle.
#
# With -d, then prints the mappings that hold the most anonymous memory and
# the RSS after a malloc_trim called through gdb (free heap versus live data).
#
# usage: bench/footprint/abuse.sh [-b BUILD_DIR] [-r ROUNDS] [-l LIMIT_MIB] [-d]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build rounds=4 limit=4 inside=0 diagnose=0
usage="usage: $0 [-b BUILD_DIR] [-r ROUNDS] [-l LIMIT_MIB] [-d]"
while getopts "b:r:l:dS" opt; do
  case $opt in
    b) build=$OPTARG ;;
    r) rounds=$OPTARG ;;
    l) limit=$OPTARG ;;
    d) diagnose=1 ;;
    S) inside=1 ;; # inside the station, as its driver
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
(($# == 0)) || { echo "abuse: unexpected argument '$1'; $usage" >&2; exit 2; }
[[ $rounds =~ ^[1-9][0-9]*$ && $limit =~ ^[1-9][0-9]*$ ]] || { echo "abuse: ROUNDS and LIMIT are whole numbers" >&2; exit 2; }
abuser=$build/bench/ipcabuse/bench_ipcabuse
for program in "$build/src/tarv" "$build/tools/tarvctl/tarvctl" "$abuser"; do
  [[ -x $program ]] || { echo "abuse: $program is missing; build it first" >&2; exit 2; }
done
if ((!inside)); then
  flags=(-b "$build" -r "$rounds" -l "$limit" -S)
  ((diagnose)) && flags+=(-d)
  exec sim/station.sh -b "$build" -- "$0" "${flags[@]}"
fi

# shellcheck source=sim/lib/driver.sh
source sim/lib/driver.sh
station_bring_up 60 || { echo "abuse: the station did not reach Enabled" >&2; exit 1; }
pid=$(pgrep -P "$STATION_PID" -x tarv) || { echo "abuse: no daemon in the station" >&2; exit 1; }
sleep 15 # leases, the modem's registration and the first polls settle first

kib() { awk -v k="$1" '$1 == k":" {print $2}' /proc/"$pid"/smaps_rollup; }
rss() { awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status; }
sample() { printf '%-16s %10s %10s %8s\n' "$1" "$(rss)" "$(kib Anonymous)" "$(ls /proc/"$pid"/task | wc -l)"; }
sockets=("${STATION_ROOT}run/iipc/tarvgenctrl.sock" "${STATION_ROOT}run/iipc/tarv.sock")

idle=$(rss) idle_anon=$(kib Anonymous) idle_threads=$(ls /proc/"$pid"/task | wc -l)
tables=$(mktemp)
trap 'rm -f "$tables"' EXIT
failed=0
for ((round = 1; round <= rounds; round++)); do
  "$abuser" "${sockets[@]}" 1 >>"$tables" 2>&1 || failed=$((failed + 1))
  sleep 5
  rss_after[round]=$(rss) anon_after[round]=$(kib Anonymous) threads_after[round]=$(ls /proc/"$pid"/task | wc -l)
done
sleep 25
cat "$tables"
echo "tarv memory around ${rounds} round(s) of IPC abuse, KiB"
printf '%-16s %10s %10s %8s\n' "" RSS anonymous threads
printf '%-16s %10s %10s %8s\n' idle "$idle" "$idle_anon" "$idle_threads"
for ((round = 1; round <= rounds; round++)); do
  printf '%-16s %10s %10s %8s\n' "after round $round" "${rss_after[round]}" "${anon_after[round]}" "${threads_after[round]}"
done
sample "30 s later"
[[ -e $STATION_STATE/out/tarv.rc ]] && { echo "abuse: the daemon ended (exit $(<"$STATION_STATE/out/tarv.rc"))"; exit 1; }
final=$(rss)
echo "threads: $(cat /proc/"$pid"/task/*/comm | sort | uniq -c | awk '{printf "%s%s x%d", sep, $2, $1; sep = ", "}')"
if ((diagnose)); then
  echo "mappings holding the most anonymous memory (KiB):"
  awk '/^[0-9a-f]+-[0-9a-f]+ / { range = $1; name = (NF >= 6 ? $6 : "[anon]") }
       $1 == "Anonymous:" && $2 > 0 { print "  " range, name, $2 }' /proc/"$pid"/smaps | sort -k3 -nr | head -n 20
  gdb -p "$pid" -batch -ex 'call (int) malloc_trim(0)' -ex 'call (void) malloc_stats()' >/dev/null 2>&1 ||
    echo "(gdb could not attach)"
  sample "after malloc_trim"
  echo "malloc's arenas after the trim (system bytes / in use):"
  grep -E '^(Arena|system bytes|in use bytes|Total)' "$STATION_STATE/out/tarv.log" | tail -n 9 | sed 's/^/  /'
  awk '/^[0-9a-f]+-[0-9a-f]+ / { range = $1; name = (NF >= 6 ? $6 : "[anon]") }
       $1 == "Anonymous:" && $2 > 0 { print "  " range, name, $2 }' /proc/"$pid"/smaps | sort -k3 -nr | head -n 5
fi
echo "RSS 30 s after the last round: $(((final - idle) / 1024)) MiB over idle (limit ${limit} MiB); rounds failed: $failed"
((failed == 0 && final - idle <= limit * 1024))
