#!/usr/bin/env bash
# Scenario: the network configuration is cut in the middle while the daemon
# runs (a write interrupted by a power loss). The daemon keeps running and
# answering, keeps eth0's lease, and takes the configuration again once the
# file is whole: a validation then succeeds.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl validate
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 30
wait_links_settled
whole=$(<"$STATION_ROOT/etc/config/network.json")
station_garble_config network || fail "could not garble network.json"
station_ctl validate >/dev/null # refused or not: the daemon must come through it
sleep 2
[[ ! -e $out/tarv.rc ]] || fail "the daemon ended (exit code $(<"$out/tarv.rc")) on a garbled configuration"
station_ctl state >/dev/null || fail "the daemon does not answer after the garbled configuration"
printf '%s\n' "$whole" >"$STATION_ROOT/etc/config/network.json"
for ((i = 0; i < 50; i++)); do
  [[ $(station_ctl validate) == Ok ]] && break
  sleep 0.2
done
[[ $(station_ctl validate) == Ok ]] || fail "validation refused with the whole configuration back"
check_status_matches eth0
echo "garbled while running: the daemon came through and took the whole file again"
