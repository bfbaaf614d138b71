#!/usr/bin/env bash
# eth0 set to a static address that is refused (DHCP off, the address empty)
# at start: the refusal costs eth0 only. The daemon reaches Disabled and then
# Enabled, the "Invalid Config Value Error" signal (0x451 = 1105) reaches the
# diagnostics collector, eth0 is left unconfigured, and the access point,
# wlan0 and lte0 come up.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
start_watch
station_wait_state "1 Uninitialized" 60 || fail "did not reach Uninitialized"
request_within_5s disable "2 Disabled" "with eth0's address refused"
request_within_5s enable "3 Enabled" "with eth0's address refused"
station_wait_line "$out/diagnostics.txt" ' 1105 true$' 15 || fail "no Invalid Config Value Error at the collector"
grep -q 'eth0' "$STATION_ROOT/etc/network/interfaces" &&
  fail "eth0 configured all the same: $(<"$STATION_ROOT/etc/network/interfaces")"
grep -qx 'iface wlan0 inet dhcp' "$STATION_ROOT/etc/network/interfaces" || fail "no wlan0 stanza"
wait_access_point 30
wait_address wlan0 60
station_exec pgrep -x wpa_supplicant >/dev/null || fail "no supplicant on wlan0"
skip_without_lte
wait_notifications "status $(if_pattern lte0) connected" 1 90
station_exec ip -4 -o addr show dev eth0 | grep -q ' inet ' && fail "eth0 has an address: $(station_exec ip -4 -o addr show dev eth0)"
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state)"
echo "refused static address: Disabled, Enabled, eth0 unconfigured, access point, wlan0 and lte0 up"
