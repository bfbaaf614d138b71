#!/usr/bin/env bash
# Scenario: the modem switches itself off while enabled (as after a fast
# shutdown on a short mains dip). Its device now takes 8 s to appear after the
# power key, so a second pulse before it enumerated would switch the booting
# modem off again. The daemon's recovery switches it on with one pulse, waits
# for the device, and lte0 is connected again without a fatal error; eth0
# stays connected and the daemon Enabled.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
bring_up_with_modem
station_modem_powerup_delay 8 || fail "the modem simulator did not take the power-up delay"
pulses_before=$(grep -c 'power key:' "$out/modem.log")
start=$SECONDS
station_modem_control '{"event": "switch-off"}' || fail "the modem simulator did not take the switch-off"
station_wait_line "$out/modem.log" 'switched itself off' 10 || fail "the modem did not switch itself off"
wait_notifications "status $(if_pattern lte0) (disconnected|not set)" 1 30
wait_notifications "status $(if_pattern lte0) connected" 2 150
took=$((SECONDS - start))
! grep -q 'Modem fatal error' "$out/tarv.log" || fail "the daemon gave the modem up"
pulses=$(grep 'power key:' "$out/modem.log" | tail -n +$((pulses_before + 1)))
[[ $pulses == *'power key: powering on' ]] && [[ $(wc -l <<<"$pulses") -eq 1 ]] ||
  fail "power key after the switch-off: $(tr '\n' ';' <<<"$pulses"), want one 'powering on'"
[[ $(station_ctl state) == "3 Enabled" ]] || fail "state $(station_ctl state) after the modem's switch-off"
check_status_matches eth0
echo "modem self off: switched on again with one pulse, lte0 connected again after ${took}s; eth0 kept"
