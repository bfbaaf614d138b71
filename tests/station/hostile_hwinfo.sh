#!/usr/bin/env bash
# Hostile scenario: the hardware description is garbled at start. The daemon
# must not end: it serves, reports FatalError with the "Invalid Config Value
# Error" signal (0x451 = 1105) at the collector, and stops in order on SIGINT.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl state
start_watch
station_wait_state "5 FatalError" 30 || fail "no FatalError with a garbled hwinfo.json"
station_wait_line "$out/diagnostics.txt" ' 1105 true$' 15 || fail "no Invalid Config Value Error at the collector"
station_wait_line "$out/tarv.log" 'Config error occurred: .*hwinfo' 5 || fail "the error does not name hwinfo.json"
station_ctl disable >/dev/null
station_wait_state "5 FatalError" 5 || fail "a disable request took the daemon out of FatalError"
station_signal INT
station_wait_line "$out/tarv.rc" '.' 30 || fail "the daemon did not stop after SIGINT"
[[ $(<"$out/tarv.rc") == 0 ]] || fail "exit code $(<"$out/tarv.rc") after SIGINT"
echo "garbled hardware description at start: FatalError served, orderly stop"
