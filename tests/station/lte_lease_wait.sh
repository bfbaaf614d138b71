#!/usr/bin/env bash
# A disable while lte0 waits for its lease (the modem's router hears nothing
# from the station): Disabled within 5 s, lte0 stays down once the router
# answers again, and SIGINT then ends the daemon within 10 s. Before the
# disable, eth0, wlan0 and the access point work.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
[[ -e $STATION_STATE/ns/modem.pid ]] || { echo "SKIP: the modem simulator is not built"; exit 77; }
start_watch
# lte0 appears when the modem has powered on, before its lease is asked for.
station_lte_mute on >"$out/mute.txt" 2>&1 &
mute=$!
station_bring_up 60 || fail "did not reach Enabled"
skip_without_lte
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 30
wait_address wlan0 30
wait_access_point 30
wait "$mute" || fail "lte0 could not be muted: $(<"$out/mute.txt")"
wait_dhcp_client lte0 120
sleep 2 # into the wait for the lease
check_status_matches eth0
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state) while lte0 waits for its lease"
request_within_5s disable "2 Disabled" "during lte0's lease wait"
station_lte_mute off || fail "lte0 could not be unmuted"
check_stays_down lte0 10
sigint_within_10s "after a disable during lte0's lease wait"
echo "disable during lte0's lease wait: Disabled in time, lte0 stayed down"
