#!/usr/bin/env bash
# LTE switched off (validated) while the modem powers up (its device appears
# only 15 s after the power key): the modem ends powered off and stays off,
# and eth0 keeps its lease.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl validate
[[ -e $STATION_STATE/ns/modem.pid ]] || { echo "SKIP: the modem simulator is not built"; exit 77; }
station_modem_powerup_delay 15 || fail "the modem simulator did not take the power-up delay"
start_watch
station_bring_up 60 || fail "did not reach Enabled"
skip_without_lte
station_wait_line "$out/modem.log" 'power key: powering on' 60 || fail "the modem was not powered on"
grep -q 'device .* -> ' "$out/modem.log" && fail "the modem's device is there already"
wait_notifications "status $(if_pattern eth0) connected ip 192\.168\.50\." 1 30
station_ctl config set network TarvLteEnable false >/dev/null || fail "config set TarvLteEnable"
start=$(date +%s%N)
station_validate 30 >/dev/null || fail "validate refused"
echo "validate with LTE off answered in $(ms_since "$start") ms"
grep -q 'device .* -> ' "$out/modem.log" && echo "(the device appeared before the validation ended)"
# Booting (15 s) and shutting down take their time; then the modem is off for good.
for ((i = 0; i < 400; i++)); do
  [[ $(grep -oE 'power [a-z ]+ -> [a-z ]+$' "$out/modem.log" | tail -n 1) == *'-> off' ]] && break
  sleep 0.1
done
last=$(grep -oE 'power [a-z ]+ -> [a-z ]+$' "$out/modem.log" | tail -n 1)
[[ $last == *'-> off' ]] || fail "the modem is not powered off: last change '$last'"
sleep 20 # longer than a power-up: nothing switches it on again
last=$(grep -oE 'power [a-z ]+ -> [a-z ]+$' "$out/modem.log" | tail -n 1)
[[ $last == *'-> off' ]] || fail "the modem was powered on again: last change '$last'"
[[ ! -e $STATION_ROOT/dev/ttyATSERIAL2 ]] || fail "the modem's device is there"
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state)"
check_status_matches eth0
wait_access_point 30
echo "LTE off during the modem's power-up: the modem ended powered off"
