#!/usr/bin/env bash
# Hostile scenario: NtpServer1 holds a number. Initialising reports an error
# of the lifecycle instead of ending the daemon; the recovery that follows
# brings it to Disabled, and it can be enabled.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl state
station_wait_state "1 Uninitialized" 30 || fail "did not start"
station_ctl disable >/dev/null
station_wait_state "4 Error" 30 || fail "no Error with a number for NtpServer1"
station_wait_line "$out/tarv.log" "Wrong data type .*NtpServer1" 5 || fail "the error does not name NtpServer1"
station_wait_state "2 Disabled" 60 || fail "no recovery to Disabled"
station_ctl enable >/dev/null
station_wait_state "3 Enabled" 60 || fail "not Enabled after the recovery"
echo "number for NtpServer1: an error of the lifecycle, then recovered and enabled"
