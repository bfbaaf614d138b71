#!/usr/bin/env bash
# Scenario: the network configuration is cut in the middle while the daemon
# runs (a write interrupted by a power loss). The daemon keeps running and
# answering (a configuration error may take it to FatalError), and eth0 keeps
# its lease.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl validate
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 30
wait_links_settled
station_garble_config network || fail "could not garble network.json"
station_ctl validate >/dev/null # refused or not: the daemon must come through it
station_wait_line "$out/tarv.log" 'Invalid config file /etc/config/network\.json' 15 || fail "the daemon did not notice the garbled file"
sleep 2 # what the error sets off on the other threads
[[ ! -e $out/tarv.rc ]] || fail "the daemon ended (exit code $(<"$out/tarv.rc")) on a garbled configuration"
state=$(station_ctl state) || fail "the daemon does not answer after the garbled configuration"
[[ $state == "3 Enabled" || $state == "5 FatalError" ]] || fail "state '$state' after the garbled configuration"
station_exec ip -4 -o addr show dev eth0 | grep -q ' inet 192\.168\.50\.' || fail "eth0 lost its lease"
echo "garbled while running: the daemon came through ($state)"
