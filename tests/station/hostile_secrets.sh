#!/usr/bin/env bash
# Hostile scenario: the secrets (SIM PIN, WLAN passphrase, access point
# passphrase, SMS password) with the daemon at trace level, through a start,
# an SMS reboot, a secret written with tarvctl (from standard input) and a
# validation. None may appear in the daemon's log, its syslog lines, the
# diagnostics it sent, the output of any tarvctl verb or the command line of
# any process in the station, and every file that holds one is 0600.
# Prints the table: place / tried (secrets searched) / leaked.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl report
secrets=("73918264" "customer-wlan-passphrase" "commission-2107" "sms-reboot-secret")
ctl() { "$STATION_BUILD/tools/tarvctl/tarvctl" --root "$STATION_ROOT" "$@" 2>&1; }

# The station has no syslog daemon: a listener on its /dev/log takes the lines.
station_exec setsid -f python3 -c '
import os, socket, sys
path = "/dev/log"
if os.path.exists(path):
    os.unlink(path)
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
with open(sys.argv[1], "ab", buffering=0) as out:
    while True:
        out.write(s.recv(65536) + b"\n")' "$out/syslog.txt"
station_wait_state "1 Uninitialized" 30 || fail "the daemon did not start"
ctl log-level trace >/dev/null || fail "could not set the trace level"

# Command lines of every process, sampled while the daemon works.
(while :; do station_exec ps -eo args= 2>/dev/null; sleep 0.2; done) >"$out/cmdlines.txt" &
sampler=$!
start_watch
station_bring_up 60 || fail "did not reach Enabled"
wait_notifications 'status lte0 connected' 1 90
station_signal USR1 modem
station_wait_line "$out/reboots.txt" 'reboot requested' 60 || fail "the SMS reboot did not reach the board controller"
printf '%s' "commission-2107" | ctl config set secrets WlanApPassword - >"$out/ctl-set.txt" || fail "config set refused"
ctl validate >/dev/null
sleep 3
kill "$sampler"

# Everything tarvctl prints, plain and as JSON.
for json in "" --json; do
  for verb in state status report "config list" "log-level"; do
    # shellcheck disable=SC2086 # the verb's words
    ctl $json $verb
  done
  for key in WlanStaPassword WlanApPassword TarvLteSimPin TarvSmsPassword; do
    ctl $json config get secrets "$key"
  done
done >"$out/ctl.txt"
cp "$out/diagnostics.txt" "$out/diagnostics-sent.txt" 2>/dev/null || : >"$out/diagnostics-sent.txt"

places=("daemon log:tarv.log" "syslog:syslog.txt" "diagnostics:diagnostics-sent.txt" "tarvctl output:ctl.txt"
  "tarvctl set:ctl-set.txt" "notifications:watch.txt" "command lines:cmdlines.txt")
leaked=0 tried=0
printf '%-16s %-6s %-6s\n' place tried leaked
for place in "${places[@]}"; do
  name=${place%%:*} file=$out/${place#*:} found=0
  for secret in "${secrets[@]}"; do
    tried=$((tried + 1))
    if grep -qF -- "$secret" "$file" 2>/dev/null; then
      found=$((found + 1))
      echo "  $name holds '$secret': $(grep -m 1 -F -- "$secret" "$file" | cut -c 1-160)"
    fi
  done
  printf '%-16s %-6s %-6s\n' "$name" "${#secrets[@]}" "$found"
  leaked=$((leaked + found))
done
# Files that hold a secret: owner only (the modem simulator's own scenario aside).
modes=0
while IFS= read -r file; do
  mode=$(stat -c %a "$file")
  tried=$((tried + 1))
  if [[ $mode != 600 && $mode != 400 ]]; then
    modes=$((modes + 1))
    echo "  ${file#"$STATION_ROOT"} holds a secret with mode $mode"
  fi
done < <(grep -rlsF -e "${secrets[0]}" -e "${secrets[1]}" -e "${secrets[2]}" -e "${secrets[3]}" \
  "${STATION_ROOT}etc" "${STATION_ROOT}run" "${STATION_ROOT}var" 2>/dev/null | grep -v '/run/station/')
printf '%-16s %-6s %-6s\n' "file modes" "-" "$modes"
grep -q . "$out/syslog.txt" || fail "no syslog line arrived: the syslog search proved nothing"
[[ -e $out/tarv.rc ]] && fail "the daemon ended (exit $(<"$out/tarv.rc"))"
((leaked == 0 && modes == 0)) || fail "secrets leaked: $leaked in outputs, $modes files readable by others"
echo "hostile secrets: $tried searches, no secret leaked"
