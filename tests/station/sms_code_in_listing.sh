#!/usr/bin/env bash
# An SMS reboot with an unsolicited code inside the listing: "+CMTI" between
# the entry's head and its body of every listing (an empty one included), and
# "+CEREG: 1" before every registration answer. The code is not read as part
# of the body, the empty listing gives no message, and the authorised SMS
# reaches the board controller as exactly one reboot request; lte0 stays up.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
bring_up_with_modem
sleep 5
grep -q 'SMS received but reboot request rejected' "$out/tarv.log" && fail "an empty listing gave a message"
station_signal USR1 modem
station_wait_line "$out/reboots.txt" 'reboot requested' 60 || fail "no reboot request at the board controller"
sleep 3
[[ $(grep -c 'reboot requested' "$out/reboots.txt") -eq 1 ]] || fail "reboot requests: $(cat "$out/reboots.txt")"
downs=$(awk '/status lte0 connected/ { up = 1 } up && /status lte0 (disconnected|not set)/ { n++ } END { print n + 0 }' "$out/watch.txt")
((downs == 0)) || fail "lte0 went down $downs time(s) after it was connected"
echo "SMS reboot with a code inside the listing: one reboot request, lte0 stayed up"
