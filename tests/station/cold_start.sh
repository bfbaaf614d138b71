#!/usr/bin/env bash
# Scenario 1: cold start to Enabled. State notifications 1, 2, 3; eth0
# connected with the address, gateway and DNS servers of its DHCP lease; lte0
# connected with the modem's DNS servers and its router in resolv.conf; the
# access point address on uap0; the interfaces file as expected; the host
# name in the UTS namespace and files; after a lease renewal, every
# interface's last status as the station really is.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
expected=$(dirname "$0")/expected
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notification 'state 1 Uninitialized' 5
wait_notification 'state 2 Disabled' 5
wait_notification 'state 3 Enabled' 5
lease='status eth0 connected ip 192\.168\.50\.1[0-4][0-9] mask 255\.255\.255\.0 gateway 192\.168\.50\.1 dns 192\.168\.50\.1 192\.168\.50\.2'
wait_notification "$lease" 30
# The modem registers on its own time (a scaled scenario would hide the real pace).
wait_notification 'status lte0 connected.* dns 10\.0\.0\.1 10\.0\.0\.2' 60
grep -qx 'nameserver 192.168.225.1' "$STATION_ROOT/etc/resolv.conf" || fail "resolv.conf without the modem's router: $(<"$STATION_ROOT/etc/resolv.conf")"
station_exec ip -4 -br addr show dev uap0 | grep -qE '^uap0\S* +UP +172\.16\.0\.1/24' ||
  fail "uap0: $(station_exec ip -4 -br addr show dev uap0)"
name=$(<"$expected/hostname")
[[ $(station_exec hostname) == "$name" ]] || fail "host name '$(station_exec hostname)', want '$name'"
[[ $(<"$STATION_ROOT/etc/hostname") == "$name" ]] || fail "/etc/hostname: $(<"$STATION_ROOT/etc/hostname")"
grep -qxE "127\.0\.1\.1[[:space:]]+$name" "$STATION_ROOT/etc/hosts" || fail "/etc/hosts: $(<"$STATION_ROOT/etc/hosts")"
for line in "ssid=$name" "wpa_passphrase=commission-2107"; do
  grep -qx "$line" "$STATION_ROOT/etc/hostapd.conf" || fail "no '$line' in hostapd.conf"
done
grep -qx 'nameserver 192.168.50.1' "$STATION_ROOT/etc/resolv.conf" || fail "resolv.conf: $(<"$STATION_ROOT/etc/resolv.conf")"
cmp -s "$expected/interfaces" "$STATION_ROOT/etc/network/interfaces" ||
  fail "interfaces file: $(diff "$expected/interfaces" "$STATION_ROOT/etc/network/interfaces")"
# What a station needs at the end, not a first notification: through one
# renewal of eth0's lease, every interface's last status matches the
# sandbox's real addresses, routes and name servers, and no daemon of the
# station runs twice.
station_wait_renewal eth0 90 || fail "eth0's lease was not renewed"
sleep 3 # the next status poll (1 s) sees the renewed lease
for link in eth0 wlan0 uap0 lte0 plc0; do check_status_matches "$link"; done
grep -qx 'nameserver 192.168.50.1' "$STATION_ROOT/etc/resolv.conf" || fail "resolv.conf after the renewal: $(<"$STATION_ROOT/etc/resolv.conf")"
grep -qx 'nameserver 192.168.225.1' "$STATION_ROOT/etc/resolv.conf" || fail "resolv.conf after the renewal: $(<"$STATION_ROOT/etc/resolv.conf")"
check_no_duplicates
echo "cold start: Enabled with a DHCP lease on eth0, statuses match the station after a renewal"
