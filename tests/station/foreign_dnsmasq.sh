#!/usr/bin/env bash
# Scenario: another dnsmasq runs beside the access point's (a service of the
# station bound to eth0). Enabling starts the access point's own dnsmasq even
# so; disabling is answered within 5 s, stops it, leaves the other one running
# and eth0 (not under fault) up.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
station_foreign_dnsmasq eth0 || fail "could not start the other dnsmasq"
foreign=$(<"$STATION_ROOT/run/foreign-dnsmasq.pid")
station_bring_up 60 || fail "did not reach Enabled"
wait_links_settled
ap=$(cat "$STATION_ROOT/run/dnsmasq/dnsmasq.pid" 2>/dev/null)
[[ -n $ap && $ap != "$foreign" ]] && station_exec kill -0 "$ap" || fail "the access point's dnsmasq was not started"
start=$(date +%s%N)
station_ctl disable >/dev/null || fail "disable refused"
station_wait_state "2 Disabled" 5 || fail "not Disabled within 5 s"
echo "disable answered in $((($(date +%s%N) - start) / 1000000)) ms"
station_exec kill -0 "$ap" 2>/dev/null && fail "the access point's dnsmasq still runs after disable"
station_exec kill -0 "$foreign" || fail "disabling the access point ended the other dnsmasq"
station_exec ip -o link show eth0 | grep -q 'state UP' || fail "eth0 went down"
echo "foreign dnsmasq: the access point's started and stopped, the other one left alone"
