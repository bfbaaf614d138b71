#!/usr/bin/env bash
# Name servers, eth0 with a DHCP lease and automatic DNS, after static
# servers were set and taken back: the lease's servers stand in resolv.conf
# through two renewals, and the last status notified names them.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/station/dns_common.sh
source "$(dirname "$0")/dns_common.sh"
require_ctl validate
start_watch
station_bring_up 60 || fail "did not reach Enabled"
lease='status eth0 connected ip 192\.168\.50\.1[0-4][0-9] .*dns 192\.168\.50\.1 192\.168\.50\.2'
wait_notification "$lease" 30
wait_links_settled
station_ctl config set network TarvPreferredDnsServerAddr 9.9.9.9 >/dev/null || fail "config set"
station_ctl config set network TarvDnsAuto false >/dev/null || fail "config set TarvDnsAuto"
station_validate 30 >/dev/null || fail "validate refused static DNS"
wait_notification 'status eth0 connected .*dns 9\.9\.9\.9' 30
expect_resolv_starts 9.9.9.9
station_ctl config set network TarvDnsAuto true >/dev/null || fail "config set TarvDnsAuto"
station_validate 30 >/dev/null || fail "validate refused automatic DNS"
wait_notifications "$lease" 2 30
for renewal in 1 2; do
  renew_lease eth0
  [[ ! -e $resolv_dir/eth0.tarv ]] || fail "renewal $renewal: static servers still set: $(<"$resolv_dir/eth0.tarv")"
  expect_resolv_starts 192.168.50.1 192.168.50.2
  grep -qx 'nameserver 9.9.9.9' "$STATION_ROOT/etc/resolv.conf" && fail "the withdrawn server is still in resolv.conf"
done
expect_last_status eth0 'connected .*dns 192\.168\.50\.1 192\.168\.50\.2'
echo "name servers: eth0's lease servers held through two renewals"
