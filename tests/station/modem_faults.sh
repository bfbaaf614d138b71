#!/usr/bin/env bash
# Scenario: a slow modem on a reluctant network. Before the daemon first
# powers the modem on, the modem simulator is told to take 10 s to power up,
# to refuse the data context's activation (AT+QIACT=1) twice, and to deliver
# an SMS indication (+CMTI) in the middle of a signal query. lte0 is
# connected all the same, the activation having been asked again after each
# refusal, and the daemon stays Enabled with eth0 connected.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
[[ -e $STATION_STATE/ns/modem.pid ]] || { echo "SKIP: the modem simulator is not built"; exit 77; }
station_modem_powerup_delay 10 || fail "the modem simulator did not take the power-up delay"
station_modem_refuse_qiact 2 || fail "the modem simulator did not take the refusals"
station_modem_unsolicited 'AT+QCSQ' '+CMTI: "ME",1' || fail "the modem simulator did not take the indication"
start_watch
station_bring_up 60 || fail "did not reach Enabled"
skip_without_lte
wait_notifications "status $(if_pattern eth0) connected ip" 1 30
wait_notifications "status $(if_pattern lte0) connected" 1 150
activations=$(grep -c 'AT+QIACT=1' "$out/modem.log")
((activations >= 3)) || fail "$activations activation request(s) at the modem, want the two refused ones and one more"
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state) after the modem's faults"
check_status_matches eth0
echo "modem faults: lte0 connected after a slow power-up and $((activations - 1)) refused activation(s)"
