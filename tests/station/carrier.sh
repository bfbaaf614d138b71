#!/usr/bin/env bash
# Scenario: links without carrier at enable. The far ends of plc0 and wlan0
# are down before the daemon enables the networks (no powerline peer, no
# WLAN associated), and so is eth0's (cable out). The daemon reaches Enabled
# all the same and reports eth0 disconnected; when eth0's cable comes in, eth0
# is connected with a lease, whatever the two other links do.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
for link in plc0 wlan0 eth0; do station_carrier "$link" down || fail "carrier of $link"; done
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notifications "status $(if_pattern eth0) disconnected" 1 30
station_carrier eth0 up || fail "carrier of eth0"
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 60
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state)"
check_status_matches eth0
echo "carrier: Enabled without carrier; eth0 connected once its cable came in"
