#!/usr/bin/env bash
# Memory of the daemon under churn, in the simulated station (root only):
# brings the station to Enabled, then for MINUTES runs a cycle every 5 s (a
# disable and an enable, a configuration change and its validation) and takes
# eth0's carrier off or back on every other cycle (off/on every 10 s). The
# daemon's anonymous and private memory is sampled each minute; the growth
# per hour is extrapolated from the samples after the first WARMUP minutes
# (a least-squares line). With -i nothing is churned: the idle control.
#
# usage: bench/footprint/churn.sh [-b BUILD_DIR] [-m MINUTES] [-w WARMUP] [-i]
# With -a, heaptrack is attached to the daemon after the warm-up (its report
# is left in the current directory): what the churn allocated and kept.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build minutes=12 warmup=3 idle=0 inside=0 attach=0
usage="usage: $0 [-b BUILD_DIR] [-m MINUTES] [-w WARMUP_MINUTES] [-i] [-a]"
while getopts "b:m:w:iaS" opt; do
  case $opt in
    b) build=$OPTARG ;;
    m) minutes=$OPTARG ;;
    w) warmup=$OPTARG ;;
    i) idle=1 ;;
    a) attach=1 ;;
    S) inside=1 ;; # inside the station, as its driver
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
(($# == 0)) || { echo "churn: unexpected argument '$1'; $usage" >&2; exit 2; }
[[ $minutes =~ ^[1-9][0-9]*$ && $warmup =~ ^[0-9]+$ ]] && ((warmup + 2 <= minutes)) ||
  { echo "churn: MINUTES and WARMUP are whole numbers, with at least 2 samples after the warm-up" >&2; exit 2; }
for program in "$build/src/tarv" "$build/tools/tarvctl/tarvctl"; do
  [[ -x $program ]] || { echo "churn: $program is missing; build it first" >&2; exit 2; }
done
if ((!inside)); then
  flags=(-b "$build" -m "$minutes" -w "$warmup" -S)
  ((idle)) && flags+=(-i)
  ((attach)) && flags+=(-a)
  exec sim/station.sh -b "$build" -- "$0" "${flags[@]}"
fi

# shellcheck source=sim/lib/driver.sh
source sim/lib/driver.sh
station_bring_up 60 || { echo "churn: the station did not reach Enabled" >&2; exit 1; }
pid=$(pgrep -P "$STATION_PID" -x tarv) || { echo "churn: no daemon in the station" >&2; exit 1; }
sleep 15 # leases, the modem's registration and the first polls settle first

kib() { awk -v k="$1" '$1 == k":" {print $2}' /proc/"$pid"/smaps_rollup; }
sample() { # MINUTE CYCLES
  local anon private rss
  anon=$(kib Anonymous)
  private=$(($(kib Private_Clean) + $(kib Private_Dirty)))
  rss=$(awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status)
  printf '%6s %8s %12s %12s %10s\n' "$1" "$2" "$anon" "$private" "$rss"
  echo "$1 $anon" >>"$STATION_STATE/samples"
}

# One cycle: disable, enable, a configuration change and its validation.
ntp=("" "ntp2.station.lan")
cycle() { # N
  station_ctl disable >/dev/null && station_wait_state "2 Disabled" 20 &&
    station_ctl enable >/dev/null && station_wait_state "3 Enabled" 30 &&
    station_ctl config set network NtpServer2 "${ntp[$(($1 % 2))]}" >/dev/null &&
    station_ctl validate >/dev/null
}

# "start-end name anonymous_kib" of each mapping: what grew is told apart
# (the heap, malloc's other arena, thread stacks, gRPC's mappings).
anon_by_mapping() {
  awk '/^[0-9a-f]+-[0-9a-f]+ / { range = $1; name = (NF >= 6 ? $6 : "[anon]") }
       $1 == "Anonymous:" && $2 > 0 { print range, name, $2 }' /proc/"$pid"/smaps
}
tracker=
if ((attach)); then
  command -v heaptrack >/dev/null || { echo "churn: heaptrack is not installed" >&2; exit 2; }
fi
echo "tarv memory $( ((idle)) && echo "idle (control)" || echo "under churn"), ${minutes} min, KiB"
printf '%6s %8s %12s %12s %10s\n' minute cycles anonymous private RSS
sample 0 0
if ((warmup == 0)); then anon_by_mapping >"$STATION_STATE/mappings.before"; fi
cycles=0 failed=0 start=$SECONDS
for ((minute = 1; minute <= minutes; minute++)); do
  if ((attach && minute == warmup + 1)); then
    # Inside the station's namespaces, so that it sees the daemon's files.
    station_exec sh -c "cd /run && exec heaptrack -p $(<"$STATION_STATE/ns/tarv.pid")" >"$STATION_STATE/heaptrack.log" 2>&1 &
    tracker=$!
    sleep 5
  fi
  while ((SECONDS - start < minute * 60)); do
    next=$((SECONDS + 5))
    if ((!idle)); then
      cycles=$((cycles + 1))
      cycle "$cycles" || { failed=$((failed + 1)); echo "cycle $cycles failed at $(date +%T.%N)" >&2; }
      station_carrier eth0 "$( ((cycles % 2)) && echo down || echo up)" || true
    fi
    while ((SECONDS < next)); do sleep 0.2; done
  done
  sample "$minute" "$cycles"
  if ((minute == warmup)); then anon_by_mapping >"$STATION_STATE/mappings.before"; fi
done
anon_by_mapping >"$STATION_STATE/mappings.after"
((idle)) || station_carrier eth0 up || true
[[ -e $STATION_STATE/out/tarv.rc ]] && { echo "churn: the daemon ended (exit $(<"$STATION_STATE/out/tarv.rc"))" >&2; exit 1; }
if [[ -n $tracker ]]; then
  # Killed outright, the daemon frees nothing more: what the report calls
  # leaked is all that the churn allocated and still held.
  station_signal KILL || true
  wait "$tracker" || true
  cp "$STATION_ROOT"/run/heaptrack.tarv.* . 2>/dev/null || cat "$STATION_STATE/heaptrack.log"
fi
echo "mappings whose anonymous memory grew after minute $warmup (KiB; new ones count whole):"
awk 'NR == FNR { before[$1] = $3; next }
     { grown = $3 - before[$1]; if (grown > 0) printf "  %-36s %-24s %+6d\n", $1, $2, grown }' \
  "$STATION_STATE/mappings.before" "$STATION_STATE/mappings.after" | sort -k3 -nr | head -n 8
awk -v warmup="$warmup" -v cycles="$cycles" -v failed="$failed" -v minutes="$minutes" '
  $1 >= warmup { n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2 }
  END {
    slope = (n * sxy - sx * sy) / (n * sxx - sx * sx)
    printf "growth after minute %d: %.0f KiB per hour (%.1f KiB per minute)", warmup, slope * 60, slope
    if (cycles) printf ", %.2f KiB per cycle; %d cycles, %d failed", slope / (cycles / minutes), cycles, failed
    printf "\n"
  }' "$STATION_STATE/samples"
