#!/usr/bin/env bash
# An SMS reboot next to a slow answer: every AT+QTEMP is answered after 0.9 s
# (its limit is 0.5 s) right before the message listing, and an SMS indication
# arrives inside every data context check. The late answers are not read as
# the listing, the authorised SMS reaches the board controller as exactly one
# reboot request, and lte0 stays up throughout.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
bring_up_with_modem
# Enabling the modem deletes the stored messages: they arrive again now.
station_signal USR1 modem
station_wait_line "$out/reboots.txt" 'reboot requested' 60 || fail "no reboot request at the board controller"
sleep 3
[[ $(grep -c 'reboot requested' "$out/reboots.txt") -eq 1 ]] || fail "reboot requests: $(cat "$out/reboots.txt")"
grep -q 'AT: Late answer ended' "$out/tarv.log" || fail "no late answer was seen"
grep -q 'SMS received but reboot request rejected' "$out/tarv.log" || fail "the wrong password was not rejected"
downs=$(awk '/status lte0 connected/ { up = 1 } up && /status lte0 (disconnected|not set)/ { n++ } END { print n + 0 }' "$out/watch.txt")
((downs == 0)) || fail "lte0 went down $downs time(s) after it was connected"
eth=$(grep -cE 'status eth0 connected' "$out/watch.txt")
((eth >= 1)) || fail "eth0 is not connected"
echo "SMS reboot next to a slow answer: one reboot request, lte0 stayed up"
