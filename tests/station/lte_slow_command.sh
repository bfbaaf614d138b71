#!/usr/bin/env bash
# A modem command that takes minutes (the data context's activation answered
# after 120 s): a disable while it runs is answered within 5 s and lte0 stays
# down; SIGINT, with the command still in flight, ends the daemon within
# 10 s. eth0 and the access point work until the disable.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
[[ -e $STATION_STATE/ns/modem.pid ]] || { echo "SKIP: the modem simulator is not built"; exit 77; }
station_modem_slow 'AT+QIACT=1' 120 1 || fail "the modem simulator did not take the delay"
start_watch
station_bring_up 60 || fail "did not reach Enabled"
skip_without_lte
station_wait_line "$out/modem.log" 'AT\+QIACT=1 -> injected delay' 90 || fail "no activation asked"
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 30
check_status_matches eth0
wait_access_point 30
request_within_5s disable "2 Disabled" "during a slow modem command"
check_stays_down lte0 10
sigint_within_10s "during a slow modem command"
echo "slow modem command: disable and SIGINT answered in time, lte0 stayed down"
