#!/usr/bin/env bash
# wlan0 without carrier at enable (no network associated yet): the daemon
# reaches Enabled with eth0 connected; when the carrier comes, wlan0 gets a
# lease on its own, with no lifecycle request.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
station_carrier wlan0 down || fail "carrier of wlan0"
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 30
wait_links_settled
sleep 5 # the supplicant and the DHCP client try without carrier
station_exec ip -4 -o addr show dev wlan0 | grep -q ' inet ' && fail "wlan0 has an address without carrier"
station_exec pgrep -x wpa_supplicant >/dev/null || fail "no supplicant on wlan0"
mac=$(station_exec cat /sys/class/net/wlan0/address)
acks=$(grep -c "DHCPACK(br0) [0-9.]* $mac" "$out/lan.log")
start=$(date +%s%N)
station_carrier wlan0 up || fail "carrier of wlan0"
wait_address wlan0 90
echo "wlan0 got its lease $(ms_since "$start") ms after its carrier came"
[[ $(grep -c "DHCPACK(br0) [0-9.]* $mac" "$out/lan.log") -gt $acks ]] || fail "no lease of the LAN for wlan0 ($mac)"
check_status_matches wlan0
check_status_matches eth0
wait_access_point 30
[[ $(grep -cE 'state 3 Enabled' "$out/watch.txt") -eq 1 ]] || fail "the lifecycle moved: $(grep -E 'state ' "$out/watch.txt")"
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state)"
echo "wlan0 late carrier: a lease followed without a lifecycle request"
