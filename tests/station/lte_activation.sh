#!/usr/bin/env bash
# The network refuses the data context's activation three times: after the
# refusal while the modem is enabled and the first try of the supervision,
# the waits between the tries grow (15 s, then 30 s), and lte0 is connected
# after the fourth.
# Every data-context check meanwhile (AT+QIACT?) carries an SMS indication
# (+CMTI) before its answer: it is not read as the answer, so once lte0 is
# connected no activation is asked again and lte0 does not go down. eth0
# keeps its lease throughout.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
[[ -e $STATION_STATE/ns/modem.pid ]] || { echo "SKIP: the modem simulator is not built"; exit 77; }
station_modem_refuse_qiact 3 || fail "the modem simulator did not take the refusals"
station_modem_fault '{"kind": "unsolicited", "command": "AT+QIACT?", "text": "+CMTI: \"SM\",1"}' ||
  fail "the modem simulator did not take the indication"
start_watch
station_bring_up 60 || fail "did not reach Enabled"
skip_without_lte
# The time each activation request is seen at the modem (ms since the epoch).
tries=()
for ((i = 0; i < 1500 && ${#tries[@]} < 4; i++)); do
  count=$(grep -c 'AT+QIACT=1 ->' "$out/modem.log")
  while ((${#tries[@]} < count)); do tries+=("$(date +%s%N)"); done
  sleep 0.1
done
((${#tries[@]} == 4)) || fail "${#tries[@]} activation request(s) within 150 s, want 4"
supervised=$(((tries[1] - tries[0]) / 1000000))
first=$(((tries[2] - tries[1]) / 1000000)) second=$(((tries[3] - tries[2]) / 1000000))
echo "waits between the activation requests: $supervised ms (enabling to supervision), $first ms, $second ms"
# A try comes with the first data-context check after its wait (every 2 s).
((first >= 14500 && first <= 18500)) || fail "first wait $first ms, want 15 s"
((second >= 29500 && second <= 33500)) || fail "second wait $second ms, want 30 s"
wait_notifications "status $(if_pattern lte0) connected" 1 30
check_status_matches eth0
activations=$(grep -c 'AT+QIACT=1 ->' "$out/modem.log")
grep -q 'AT+QIACT? -> injected unsolicited' "$out/modem.log" || fail "no data-context check with an SMS indication"
sleep 10 # the checks after the connection, and what a misread one would set off
[[ $(grep -c 'AT+QIACT=1 ->' "$out/modem.log") -eq $activations ]] || fail "an activation was asked after an SMS indication"
downs=$(awk '/status (ELte0|lte0) connected/ { up = 1 } up && /status (ELte0|lte0) (disconnected|not set)/ { n++ } END { print n + 0 }' "$out/watch.txt")
((downs == 0)) || fail "lte0 went down $downs time(s) after an SMS indication"
check_status_matches lte0
check_status_matches eth0
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state)"
echo "activation refused three times: waits of 15 s and 30 s; SMS indications in every check: no lte0 flap"
