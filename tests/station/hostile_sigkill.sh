#!/usr/bin/env bash
# Hostile scenario: SIGKILL at random points of the daemon's initialisation,
# of its enabling (the modem's start included) and of bursts of configuration
# changes (LTE settings included). After each kill: no file the daemon writes
# is torn, no temporary file is left beside one, and a new daemon is brought
# to Enabled with no second copy of a program it runs. TARV_PROBE_ROUNDS
# kills (default 3, one per phase), then one while lte0 waits for its lease.
# Prints the table: tried / refused / accepted / crash / hang / data lost.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
rounds=${TARV_PROBE_ROUNDS:-3}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || fail "TARV_PROBE_ROUNDS is a number, not '$rounds'"
station_bring_up 60 || fail "did not reach Enabled"
pidfile=$STATION_STATE/ns/tarv.pid
etc=${STATION_ROOT}etc

# Files the daemon writes whole: each must hold complete lines, a source
# complete JSON.
check_files() { # prints what is wrong, one line each
  local file
  for file in "$etc"/network/interfaces "$etc"/hostapd.conf "$etc"/wpa_supplicant.conf "$etc"/hosts \
    "$etc"/hostname "$etc"/dnsmasq.conf "${STATION_ROOT}"run/resolvconf/interface/*; do
    [[ -f $file && -s $file ]] || continue
    [[ $(tail -c 1 "$file" | od -An -c | tr -d ' ') == '\n' ]] || echo "torn: ${file#"$STATION_ROOT"} ends mid-line"
  done
  for file in "$etc"/config/*.json; do
    python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$file" 2>/dev/null ||
      echo "torn: ${file#"$STATION_ROOT"} is not complete JSON"
  done
  find "$etc" "${STATION_ROOT}run" -xdev -name '.*.tmp*' -printf 'left: /%P\n' 2>/dev/null
}

# Starts a new daemon in the station, as its init would after a crash.
restart() {
  station_exec setsid -f sh -c "exec '$STATION_BUILD/src/tarv' -v >>'$out/tarv.log' 2>&1 </dev/null" || return 1
  local i
  for ((i = 0; i < 50; i++)); do
    station_exec pgrep -r R,S,D -x tarv >"$pidfile.new" 2>/dev/null && mv "$pidfile.new" "$pidfile" && return 0
    sleep 0.1
  done
  return 1
}

# Kills the daemon and waits until it is gone; then checks the files.
kill_and_check() { # WHAT
  local i problems
  station_signal KILL
  for ((i = 0; i < 50; i++)); do station_exec pgrep -r R,S,D -x tarv >/dev/null || break; sleep 0.1; done
  wait # a configuration burst in flight
  # The station's own start of the daemon writes its end code once it has
  # reaped it, which may come after the process is gone: waited for, then
  # removed, so that the waits below do not take it for a new daemon's end.
  if ((own_daemon)); then
    station_wait_line "$out/tarv.rc" '.' 10 || true
    own_daemon=0
  fi
  rm -f "$out/tarv.rc"
  problems=$(check_files)
  [[ -z $problems ]] && return 0
  lost=$((lost + 1))
  echo "kill $tried ($1): $problems"
}

# A burst of changes and validations, the LTE settings among them.
burst() {
  local i
  for ((i = 0; i < 4; i++)); do
    station_ctl config set network NtpServer2 "ntp$i.station.lan" >/dev/null
    station_ctl config set secrets TarvLteApn "internet$((i % 2)).station.test" >/dev/null
    station_ctl config set network TarvApEnable "$( ((i % 2)) && echo false || echo true)" >/dev/null
    station_ctl validate >/dev/null
  done
}

# A program that forks into the background (dnsmasq) shows twice for a
# moment while it starts, and the new daemon may be starting one as it
# reports Enabled: a second copy is one still there 5 s later.
check_no_lasting_duplicates() {
  local i
  for ((i = 0; i < 50; i++)); do
    (check_no_duplicates) >/dev/null && return 0
    sleep 0.1
  done
  check_no_duplicates
}

# Starts a new daemon after a kill and counts whether it reached Enabled;
# non-zero when it did not start or ended.
restart_to_enabled() { # WHAT
  local start
  start=$(date +%s%N)
  restart || { crash=$((crash + 1)); echo "kill $tried: no new daemon"; return 1; }
  if station_bring_up 60 >/dev/null 2>&1; then
    accepted=$((accepted + 1))
    times+=("$(ms_since "$start")")
  elif station_exec kill -0 "$(<"$pidfile")" 2>/dev/null; then
    hang=$((hang + 1))
    echo "kill $tried ($1): not Enabled within 60 s ($(station_ctl state))"
  else
    crash=$((crash + 1))
    echo "kill $tried ($1): the new daemon ended"
    return 1
  fi
  check_no_lasting_duplicates
}

# A kill while lte0's ifup waits for its lease (the modem's router hears
# nothing) leaves that ifup, and the DHCP client it runs, behind with the
# interface's lock: the next daemon must end them, not wait for the lock.
kill_during_lease_wait() {
  local i mute
  [[ -e $STATION_STATE/ns/modem.pid ]] || return 0
  grep -qE 'lte0: [A-Za-z]+ is not supported by this build' "$out/tarv.log" && return 0
  wait_links_settled
  if ! station_ctl disable >/dev/null || ! station_wait_state "2 Disabled" 30; then
    fail "not Disabled before the lease wait"
  fi
  for ((i = 0; i < 100; i++)); do station_exec ip link show lte0 >/dev/null 2>&1 || break; sleep 0.1; done
  station_lte_mute on >"$out/mute.txt" 2>&1 &
  mute=$!
  station_ctl enable >/dev/null
  wait "$mute" || fail "lte0 could not be muted: $(<"$out/mute.txt")"
  wait_dhcp_client lte0 120
  station_exec pgrep -x ifup >/dev/null || fail "no ifup runs during lte0's lease wait"
  tried=$((tried + 1))
  kill_and_check "during lte0's lease wait"
  restart_to_enabled "during lte0's lease wait" || return 0
  station_wait_line "$out/tarv.log" 'Stopped ifup \(pid [0-9]+\) of lte0, left running by an earlier run' 1 ||
    fail "the ifup of lte0 left by the killed daemon was not ended"
  station_lte_mute off || fail "lte0 could not be unmuted"
}

# Each round: a kill while Enabled gives a new daemon, which is killed at a
# random point of one phase; the next one must reach Enabled.
tried=0 accepted=0 crash=0 hang=0 lost=0 times=() own_daemon=1
phases=(initialisation enabling configuration)
for ((round = 0; round < rounds; round++)); do
  wait_links_settled
  kill_and_check "while Enabled"
  restart && station_wait_state "1 Uninitialized" 30 || { crash=$((crash + 1)); echo "no new daemon"; break; }
  phase=${phases[round % 3]}
  delay=$(awk -v r="$RANDOM" 'BEGIN {printf "%.2f", r % 2000 / 1000}')
  case $phase in
    initialisation) station_ctl disable >/dev/null ;;
    enabling) station_ctl disable >/dev/null && station_wait_state "2 Disabled" 30 && station_ctl enable >/dev/null ;;
    configuration) station_bring_up 60 >/dev/null && { burst & } ;;
  esac
  sleep "$delay"
  tried=$((tried + 1))
  kill_and_check "$phase, after $delay s"
  restart_to_enabled "$phase, after $delay s" || break
done
((crash)) || kill_during_lease_wait
printf '%-8s %-8s %-9s %-6s %-5s %-9s\n' tried refused accepted crash hang "data lost"
printf '%-8s %-8s %-9s %-6s %-5s %-9s\n' "$tried" 0 "$accepted" "$crash" "$hang" "$lost"
# A kill during a command's wait leaves it behind (an ifup waiting for its
# lease); the next daemon ends it before its own first command.
echo "commands left by a killed daemon and ended by the next: $(grep -c 'left running by an earlier run' "$out/tarv.log")"
grep -oE '(Stopped|Could not stop) .* left running by an earlier run' "$out/tarv.log" | sed 's/^/  /'
if ((${#times[@]})); then
  echo "restart to Enabled: median $(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}') ms, longest $(printf '%s\n' "${times[@]}" | sort -n | tail -n 1) ms"
fi
((crash == 0 && hang == 0 && lost == 0 && accepted == tried)) ||
  fail "SIGKILL loop: $crash crashes, $hang hangs, $lost with files torn or left"
station_signal INT
echo "hostile sigkill: $tried kills, every restart reached Enabled"
