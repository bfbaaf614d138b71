#!/usr/bin/env bash
# Name servers, eth0 with a DHCP lease and static DNS servers: the static
# servers stand in resolv.conf, in their order, through two renewals of the
# lease that brings other servers, and the last status notified names them.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/station/dns_common.sh
source "$(dirname "$0")/dns_common.sh"
require_ctl validate
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notification 'status eth0 connected ip 192\.168\.50\.1[0-4][0-9] .*dns 192\.168\.50\.1 192\.168\.50\.2' 30
wait_links_settled
for setting in "TarvPreferredDnsServerAddr 192.168.50.2" "TarvAlternativeDnsServerAddr 9.9.9.9" "TarvDnsAuto false"; do
  read -r key value <<<"$setting"
  station_ctl config set network "$key" "$value" >/dev/null || fail "config set $key"
done
station_validate 30 >/dev/null || fail "validate refused static DNS servers"
wait_notification 'status eth0 connected .*dns 192\.168\.50\.2 9\.9\.9\.9' 30
for renewal in 1 2; do
  renew_lease eth0
  [[ $(servers_of "$resolv_dir/eth0.udhcpc") == "192.168.50.1 192.168.50.2" ]] ||
    fail "renewal $renewal: the lease's file has '$(servers_of "$resolv_dir/eth0.udhcpc")'"
  [[ $(servers_of "$resolv_dir/eth0.tarv") == "192.168.50.2 9.9.9.9" ]] ||
    fail "renewal $renewal: eth0's static servers are '$(servers_of "$resolv_dir/eth0.tarv")'"
  expect_resolv_starts 192.168.50.2 9.9.9.9
done
expect_last_status eth0 'connected .*dns 192\.168\.50\.2 9\.9\.9\.9'
echo "name servers: eth0's static servers held through two renewals"
