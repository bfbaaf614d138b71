#!/usr/bin/env bash
# Scenario 4: the modem's serial device is lost (serial_lost.json makes it
# vanish after ten registration queries): recovery power-cycles the modem and
# lte0 is connected again. An SMS "reboot <password>" (after one with a wrong
# password) makes the board controller record exactly one reboot request.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
bring_up_with_modem
station_wait_line "$out/modem.log" 'vanish|hung up|device gone' 90 || fail "the modem's device never vanished"
wait_notifications 'status lte0 (disconnected|not set)' 1 30
wait_notifications 'status lte0 connected' 2 120
[[ $(grep -c 'APP RDY' "$out/modem.log") -ge 2 ]] || fail "the modem was not power-cycled"
# Enabling the modem deletes the stored messages: they arrive again now.
station_signal USR1 modem
station_wait_line "$out/reboots.txt" 'reboot requested' 30 || fail "no reboot request at the board controller"
sleep 3
[[ $(grep -c 'reboot requested' "$out/reboots.txt") -eq 1 ]] || fail "reboot requests: $(cat "$out/reboots.txt")"
echo "serial lost: recovered, connected again; one reboot request by SMS"
