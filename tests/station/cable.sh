#!/usr/bin/env bash
# Scenario 2: the Ethernet cable pulled and plugged back (the LAN side of the
# link down, then up): disconnected, then connected again, a connectivity
# event at the diagnostics collector, and a fresh DHCP exchange.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
start_watch
station_bring_up 60 || fail "did not reach Enabled"
connected='status eth0 connected ip 192\.168\.50\.'
wait_notifications "$connected" 1 30
wait_links_settled
acks=$(grep -c 'DHCPACK(br0)' "$out/lan.log")
station_carrier eth0 down || fail "carrier of eth0"
wait_notifications 'status eth0 disconnected' 2 15
# The event's summary asks every handler again after the poll: with the cable
# back that soon, it could already list eth0 as connected.
station_wait_line "$out/diagnostics.txt" ' 20503 .*Disconnected net interfaces [^"]*EEth0' 15 ||
  fail "no connectivity event with eth0 disconnected at the collector"
station_carrier eth0 up || fail "carrier of eth0"
wait_notifications "$connected" 2 30
for ((i = 0; i < 300; i++)); do
  [[ $(grep -c 'DHCPACK(br0)' "$out/lan.log") -gt $acks ]] && break
  sleep 0.1
done
[[ $(grep -c 'DHCPACK(br0)' "$out/lan.log") -gt $acks ]] || fail "no fresh DHCP lease after the cable came back"
echo "cable: disconnected, connected again, lease renewed"
