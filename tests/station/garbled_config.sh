#!/usr/bin/env bash
# Scenario 6: a garbled configuration file at start: the daemon reports
# FatalError and the "Invalid Config Value Error" signal (0x451 = 1105)
# reaches the diagnostics collector.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl status
start_watch
station_wait_state "5 FatalError" 30 || fail "no FatalError"
station_wait_line "$out/diagnostics.txt" ' 1105 true$' 15 || fail "no Invalid Config Value Error at the collector"
echo "garbled configuration: FatalError and the signal at the collector"
