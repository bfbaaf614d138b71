#!/usr/bin/env bash
# Scenario 3: static Ethernet set with tarvctl config set and validate: a
# static stanza, the interface restarted and the new address reported; then
# back to DHCP the same way, with a lease from the LAN again.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl validate
start_watch
station_bring_up 60 || fail "did not reach Enabled"
dhcp='status eth0 connected ip 192\.168\.50\.1[0-4][0-9] mask 255\.255\.255\.0 gateway 192\.168\.50\.1 '
wait_notifications "$dhcp" 1 30
wait_links_settled
# key value
settings=(
  "TarvEthIpv4Addr 192.168.50.20"
  "TarvEthIpv4Netmask 255.255.255.0"
  "TarvEthGatewayAddr 192.168.50.1"
  "TarvEthDhcpEnable false"
)
for setting in "${settings[@]}"; do
  read -r key value <<<"$setting"
  station_ctl config set network "$key" "$value" >/dev/null || fail "config set $key"
done
station_validate 30 >/dev/null || fail "validate (static) refused"
wait_notifications 'status eth0 connected ip 192\.168\.50\.20 mask 255\.255\.255\.0 gateway 192\.168\.50\.1 ' 1 30
stanza=$(sed -n '/^auto eth0$/,/^$/p' "$STATION_ROOT/etc/network/interfaces")
for line in 'iface eth0 inet static' 'address 192.168.50.20' 'netmask 255.255.255.0' 'gateway 192.168.50.1'; do
  grep -qx "$line" <<<"$stanza" || fail "no '$line' in the eth0 stanza: $stanza"
done

station_ctl config set network TarvEthDhcpEnable true >/dev/null || fail "config set TarvEthDhcpEnable"
station_validate 30 >/dev/null || fail "validate (DHCP) refused"
wait_notifications "$dhcp" 2 30
grep -qx 'iface eth0 inet dhcp' "$STATION_ROOT/etc/network/interfaces" || fail "no DHCP stanza again"
echo "static ethernet: static address reported, then a DHCP lease again"
