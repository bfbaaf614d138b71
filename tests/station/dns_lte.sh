#!/usr/bin/env bash
# Name servers, lte0: the modem's relay and the mobile network's servers stay
# in force for lte0 through two renewals of lte0's lease, which names the
# relay only, and the last status notified names the network's servers.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/station/dns_common.sh
source "$(dirname "$0")/dns_common.sh"
start_watch
station_bring_up 60 || fail "did not reach Enabled"
skip_without_lte
wait_notification 'status lte0 connected.* dns 10\.0\.0\.1 10\.0\.0\.2' 60
for renewal in 1 2; do
  renew_lease lte0
  [[ $(servers_of "$resolv_dir/lte0.tarv") == "192.168.225.1 10.0.0.1 10.0.0.2" ]] ||
    fail "renewal $renewal: lte0's servers are '$(servers_of "$resolv_dir/lte0.tarv")'"
  # resolv.conf keeps three servers: eth0's lease's two come first, then the relay.
  expect_resolv_has 192.168.225.1
done
expect_last_status lte0 'connected.* dns 10\.0\.0\.1 10\.0\.0\.2'
echo "name servers: lte0's relay and network servers held through two renewals"
