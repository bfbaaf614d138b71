#!/usr/bin/env bash
# Ethernet's cable out at start (the LAN side of eth0 down before enabling):
# eth0's failure stays with eth0. The daemon reaches Enabled, wlan0's
# supplicant runs with its 0600 file, the powerline firmware is loaded, and
# lte0 comes up.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
station_carrier eth0 down
start=$(date +%s%N)
station_bring_up 120 || fail "did not reach Enabled"
echo "disable and enable answered in $((($(date +%s%N) - start) / 1000000)) ms"
for ((i = 0; i < 300; i++)); do
  station_exec pgrep -x wpa_supplicant >/dev/null && break
  sleep 0.1
done
station_exec pgrep -x wpa_supplicant >/dev/null || fail "no supplicant on wlan0"
[[ $(station_exec stat -c %a /etc/wpa_supplicant.conf) == 600 ]] || fail "the supplicant's file is not 0600"
station_wait_line "$out/tarv.log" 'PLC modem firmware is already loaded|Successfully loaded PLC modem firmware' 60 ||
  fail "the powerline firmware was not loaded"
skip_without_lte
for ((i = 0; i < 900; i++)); do
  station_exec ip -o link show lte0 2>/dev/null | grep -qE 'state (UP|UNKNOWN)' && break
  sleep 0.1
done
station_exec ip -o link show lte0 2>/dev/null | grep -qE 'state (UP|UNKNOWN)' || fail "lte0 is not up"
station_carrier eth0 up
echo "cable out at start: WLAN, powerline and LTE up, Enabled"
