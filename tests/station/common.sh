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
  for ((i = 0; i < 300; i++)); do
    station_exec pgrep -x 'ifup|ifdown' >/dev/null || return 0
    sleep 0.1
  done
  fail "ifup or ifdown still running after 30 s"
}
