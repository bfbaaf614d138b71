#!/usr/bin/env bash
# Sourced by the scenarios: the station's driver functions, a watcher that
# records every notification, and a failure report with the daemon's log.
set -uo pipefail
# shellcheck source=/dev/null
source "$(dirname "$0")/../../sim/lib/driver.sh"
out=$STATION_STATE/out
# Skips the scenario (exit 77) when this build's tarvctl lacks COMMAND: the
# scenario needs a daemon that has it.
require_ctl() {
  local usage
  usage=$("$STATION_BUILD/tools/tarvctl/tarvctl" 2>&1)
  grep -qE "^  $1 " <<<"$usage" && return 0
  echo "SKIP: needs the complete daemon and a tarvctl with '$1'"
  exit 77
}
fail() {
  echo "FAIL: $*"
  # STATION_FAIL_LOG=FILE keeps the whole log of a failed run.
  [[ -z ${STATION_FAIL_LOG:-} ]] || cp "$out/tarv.log" "$STATION_FAIL_LOG"
  echo "--- daemon log (last 60 lines)"
  tail -n 60 "$out/tarv.log"
  echo "--- notifications"
  cat "$out/watch.txt" 2>/dev/null
  exit 1
}
# Records every notification in out/watch.txt, once the daemon serves.
start_watch() {
  local i
  for ((i = 0; i < 300; i++)); do
    [[ -S $STATION_ROOT/run/iipc/tarvgenctrl.sock && -S $STATION_ROOT/run/iipc/tarv.sock ]] && break
    sleep 0.1
  done
  "$STATION_BUILD/tools/tarvctl/tarvctl" --root "$STATION_ROOT" watch >"$out/watch.txt" 2>&1 &
}
# Skips when the daemon's LTE handler is a stand-in (it says so in its log).
skip_without_lte() {
  if grep -qE 'lte0: [A-Za-z]+ is not supported by this build' "$out/tarv.log"; then
    echo "SKIP: this daemon has no LTE handler"
    exit 77
  fi
}
# Waits up to SECONDS for a notification line matching the extended regex.
wait_notification() { station_wait_line "$out/watch.txt" "$1" "$2" || fail "no notification '$1'"; }
# Waits up to SECONDS until at least COUNT notification lines match the regex.
wait_notifications() { # REGEX COUNT SECONDS
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    [[ $(grep -cE -- "$1" "$out/watch.txt") -ge $2 ]] && return 0
    sleep 0.1
  done
  fail "fewer than $2 notifications '$1'"
}
# Waits until no ifup or ifdown runs in the station: the daemon's own work on
# the links (its enabling of eth0) is over before a scenario changes them.
wait_links_settled() {
  local i
  # Enabled is reported before the interfaces' work ends: wait for the last
  # enabling begun to have ended (or been ended by a disable or an error),
  # then for its commands.
  for ((i = 0; i < 300; i++)); do
    awk '/Configuring supported interfaces\./ { open = 1 }
         /All supported interfaces configured|Not all interfaces were enabled|ExtErrorRsp|ExtDisabledRsp|ExtFatalErrorRsp/ { open = 0 }
         END { exit open }' "$out/tarv.log" && break
    sleep 0.1
  done
  for ((i = 0; i < 300; i++)); do
    station_exec pgrep -x 'ifup|ifdown' >/dev/null || return 0
    sleep 0.1
  done
  fail "ifup or ifdown still running after 30 s"
}
# The pattern of INTERFACE's name in tarvctl's lines ("EEth0" or "eth0").
if_pattern() { echo "(E${1^}|$1)"; }
# The last status notification of INTERFACE, empty when none came.
last_status() { grep -E "^([0-9:]+ )?status $(if_pattern "$1") " "$out/watch.txt" | tail -n 1; }
# The word after KEY in a status line ("" when absent).
status_field() { # LINE KEY
  local words word next=0
  read -ra words <<<"$1"
  for word in "${words[@]}"; do
    ((next)) && { echo "$word"; return; }
    [[ $word == "$2" ]] && next=1
  done
}
# Fails unless INTERFACE's last status matches the station's real state. A
# connected interface's link is up. Where the status has an address: eth0 and
# wlan0 have it on the link, the reported gateway is the link's default route
# (and there is none when none is reported), and the name servers are those
# in force for it (the daemon's own resolver file while it exists, else the
# DHCP client's); lte0 reports its data context's address and the network's
# name servers, which follow the modem's router in its resolver file.
check_status_matches() { # INTERFACE
  local line ip gateway routes servers dns file=$STATION_ROOT/run/resolvconf/interface/$1.tarv
  [[ -e $file ]] || file=${file%.tarv}.udhcpc
  line=$(last_status "$1")
  [[ -n $line ]] || fail "no status notification of $1"
  [[ $line =~ $(if_pattern "$1")\ connected ]] || return 0
  station_exec ip -br link show dev "$1" | grep -qE '[<,]UP[,>]| UP ' || fail "$1 reported connected, its link: $(station_exec ip -br link show dev "$1")"
  [[ $line == *" ip "* ]] || return 0
  ip=$(status_field "$line" ip) gateway=$(status_field "$line" gateway)
  dns=$(sed -nE 's/.* dns ([^ ]+) ([^ ]+).*/\1 \2/p' <<<"$line")
  servers=$(awk '$1 == "nameserver" {print $2}' "$file" 2>/dev/null | xargs)
  if [[ $1 == lte0 ]]; then
    [[ $servers == "192.168.225.1 $dns" ]] || fail "lte0 reports name servers '$dns', its resolver file has '$servers'"
    return 0
  fi
  station_exec ip -4 -o addr show dev "$1" | grep -qF " inet $ip/" ||
    fail "$1 reports address '$ip', the link has: $(station_exec ip -4 -o addr show dev "$1")"
  routes=$(station_exec ip -4 route show default dev "$1")
  if [[ -n $gateway && $gateway != 0.0.0.0 ]]; then
    grep -qF "via $gateway " <<<"$routes " || fail "$1 reports gateway $gateway, its default routes: '$routes'"
  else
    [[ -z $routes ]] || fail "$1 reports no gateway, but has the default route '$routes'"
  fi
  [[ -z $dns || ! -e $file || $dns == "$(cut -d' ' -f1-2 <<<"$servers")" ]] ||
    fail "$1 reports name servers '$dns', its resolver file has '$servers'"
}
# Fails when a daemon the station runs once runs more than once (a second
# supplicant, access point or DHCP client of one interface).
check_no_duplicates() {
  local name count
  for name in hostapd wpa_supplicant dnsmasq ntpd; do
    count=$(station_exec pidof "$name" | wc -w)
    ((count <= 1)) || fail "$count processes $name: $(station_exec ps -o pid,args -C "$name")"
  done
  for name in eth0 wlan0 lte0; do
    count=$(station_exec pgrep -fc -- "udhcpc.* -i $name( |$)")
    ((count <= 1)) || fail "$count DHCP clients of $name: $(station_exec pgrep -fa udhcpc)"
  done
}
# Brings the station up as the modem scenarios need it: the modem simulator
# and the board controller present (else the scenario is skipped), Enabled,
# eth0 connected and its links settled, lte0 connected.
bring_up_with_modem() {
  require_ctl status
  [[ -e $STATION_STATE/ns/modem.pid && -e $STATION_STATE/ns/boardcontrol.pid ]] ||
    { echo "SKIP: the modem simulator or the board controller stand-in is not built"; exit 77; }
  start_watch
  station_bring_up 60 || fail "did not reach Enabled"
  wait_notifications 'status eth0 connected ip' 1 30
  wait_links_settled
  skip_without_lte
  wait_notifications 'status lte0 connected' 1 90
}
# Milliseconds since START (a value of date +%s%N).
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }
# Sends a lifecycle request (disable, enable) and fails unless the daemon
# reports STATE within 5 s; prints how long it took.
request_within_5s() { # REQUEST STATE WHAT
  local start
  start=$(date +%s%N)
  station_ctl "$1" >/dev/null || fail "$1 refused $3"
  station_wait_state "$2" 5 || fail "not '$2' within 5 s of a $1 $3"
  echo "$1 $3 answered in $(ms_since "$start") ms"
}
# SIGINT: the daemon must end in order (exit code 0) within 10 s.
sigint_within_10s() { # WHAT
  local start
  start=$(date +%s%N)
  station_signal INT
  station_wait_line "$out/tarv.rc" '.' 10 || fail "the daemon did not end within 10 s of SIGINT $1"
  [[ $(<"$out/tarv.rc") == 0 ]] || fail "exit code $(<"$out/tarv.rc") after SIGINT $1"
  echo "SIGINT $1 ended the daemon in $(ms_since "$start") ms"
}
# Fails when, within SECONDS, INTERFACE is up, has an IPv4 address or a DHCP
# client: a disabled interface stays down until it is enabled again.
check_stays_down() { # INTERFACE SECONDS
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    station_exec ip -o link show dev "$1" 2>/dev/null | grep -qE '[<,]UP[,>]' && fail "$1 is up after the disable"
    station_exec ip -4 -o addr show dev "$1" 2>/dev/null | grep -q ' inet ' && fail "$1 has an address after the disable"
    station_exec pgrep -f -- "udhcpc.* -i $1( |$)" >/dev/null && fail "a DHCP client runs on $1 after the disable"
    sleep 0.1
  done
}
# Waits up to SECONDS for a DHCP client on INTERFACE.
wait_dhcp_client() { # INTERFACE SECONDS
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    station_exec pgrep -f -- "udhcpc.* -i $1( |$)" >/dev/null && return 0
    sleep 0.1
  done
  fail "no DHCP client on $1 within $2 s"
}
# Waits up to SECONDS for the access point: uap0 up with its address, hostapd running.
wait_access_point() { # SECONDS
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    station_exec ip -4 -br addr show dev uap0 | grep -qE '^uap0\S* +UP +172\.16\.0\.1/24' &&
      station_exec pgrep -x hostapd >/dev/null && return 0
    sleep 0.1
  done
  fail "the access point is not up: $(station_exec ip -4 -br addr show dev uap0), hostapd: $(station_exec pgrep -x hostapd)"
}
# Waits up to SECONDS for an IPv4 address on INTERFACE.
wait_address() { # INTERFACE SECONDS
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    station_exec ip -4 -o addr show dev "$1" 2>/dev/null | grep -q ' inet ' && return 0
    sleep 0.1
  done
  fail "no address on $1 within $2 s"
}
