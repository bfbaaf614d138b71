#!/usr/bin/env bash
# Scenario 7: SIGINT while Enabled: the daemon stops in order with exit code
# 0 (scenario.sh then checks that nothing is left on the host).
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
station_bring_up 60 || fail "did not reach Enabled"
station_signal INT
station_wait_line "$out/tarv.rc" '.' 30 || fail "the daemon did not stop after SIGINT"
[[ $(<"$out/tarv.rc") == 0 ]] || fail "exit code $(<"$out/tarv.rc") after SIGINT"
echo "sigint: exit code 0"
