#!/usr/bin/env bash
# Scenario 5: mains lost. The board controller sends its notification; the
# daemon logs its warning and pulses the modem's fast-shutdown line (GPIO
# 75), which the modem simulator reports.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
[[ -e $STATION_STATE/ns/boardcontrol.pid ]] || { echo "SKIP: the board controller stand-in is not built"; exit 77; }
station_bring_up 60 || fail "did not reach Enabled"
station_wait_line "$out/tarv.log" 'Subscribed to .BoardControl' 15 || fail "the daemon did not subscribe to the board controller"
station_signal USR1 boardcontrol
station_wait_line "$out/tarv.log" '\[warning\].*Mainslost, LTE modem fast shutdown\.' 10 || fail "no mains-lost warning"
[[ -e $STATION_STATE/ns/modem.pid ]] || { echo "SKIP: no modem simulator to see the GPIO 75 pulse"; exit 77; }
skip_without_lte
station_wait_line "$out/modem.log" 'fast(-| )shutdown' 10 || fail "no pulse on GPIO 75 at the modem"
echo "mains lost: warning and fast-shutdown pulse"
