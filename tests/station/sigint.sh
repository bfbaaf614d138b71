#!/usr/bin/env bash
# Scenario 7: SIGINT while Enabled: the daemon stops in order with exit code
# 0 (scenario.sh then checks that nothing is left on the host); the daemon ran
# without the capability to set the clock.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
station_bring_up 60 || fail "did not reach Enabled"
# The daemon could set the host's clock (not namespaced) with CAP_SYS_TIME (25).
# shellcheck disable=SC2016 # awk program
bounding=$(station_exec awk '/^CapBnd:/ {print $2}' "/proc/$(<"$STATION_STATE/ns/tarv.pid")/status")
(((0x$bounding >> 25) & 1)) && fail "the daemon may set the system clock (CapBnd $bounding)"
station_signal INT
station_wait_line "$out/tarv.rc" '.' 30 || fail "the daemon did not stop after SIGINT"
[[ $(<"$out/tarv.rc") == 0 ]] || fail "exit code $(<"$out/tarv.rc") after SIGINT"
echo "sigint: exit code 0"
