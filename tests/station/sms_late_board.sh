#!/usr/bin/env bash
# An SMS reboot while the board controller does not answer yet (stopped, as
# one still starting): the request fails, is asked again on every update, and
# is taken once the board controller runs; the daemon logs each outcome once.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
bring_up_with_modem
station_signal STOP boardcontrol
station_signal USR1 modem
station_wait_line "$out/tarv.log" 'Reboot request to the board controller failed, asking again' 60 ||
  { station_signal CONT boardcontrol; fail "the failed reboot request was not reported"; }
sleep 5
station_signal CONT boardcontrol
station_wait_line "$out/tarv.log" 'SMS reboot: the board controller took the reboot request' 60 ||
  fail "the reboot request was never taken"
station_wait_line "$out/reboots.txt" 'reboot requested' 30 || fail "no reboot request at the board controller"
sleep 3
[[ $(grep -c 'Reboot request to the board controller failed, asking again' "$out/tarv.log") -eq 1 ]] ||
  fail "the failure was logged more than once"
[[ $(grep -c 'SMS reboot: the board controller took the reboot request' "$out/tarv.log") -eq 1 ]] ||
  fail "the request was taken more than once"
echo "SMS reboot with a late board controller: asked again until taken, one reboot"
