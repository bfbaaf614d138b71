#!/usr/bin/env bash
# Driver of `make run`: brings the daemon up as the board controller does
# (disable, then enable) and shows the whole station live, refreshed in
# place every second: the lifecycle state, one line per interface with its
# last status and DHCP lease, the modem's registration and signal, the
# board controller's reboot requests. q or Ctrl-C ends it (the keys are
# read here: make never sees a signal). Without a terminal the view is
# printed again whenever it changes.
set -uo pipefail
# shellcheck source=sim/lib/driver.sh
source "$(dirname "$0")/driver.sh"
tarvctl=$STATION_BUILD/tools/tarvctl/tarvctl
out=$STATION_STATE/out
watch=$out/view-watch.txt
bringup=$out/view-bringup.txt
started=$(date +%s)
: >"$watch"

keys=''
if [[ -t 1 ]] && exec 3<>/dev/tty 2>/dev/null; then
  keys=$(stty -g <&3)
  # A read returns one key, or nothing after a second (time is in tenths).
  stty -isig -echo -icanon min 0 time 10 <&3
fi
children=()
finish() {
  local pid kids
  for pid in "${children[@]}"; do
    mapfile -t kids < <(pgrep -P "$pid")
    kill "$pid" "${kids[@]}" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [[ -z $keys ]] || stty "$keys" <&3
  printf '\nrun: the station is stopped; its logs stay in %s (tarv.log: the daemon)\n' "$out"
  exit 0
}
trap finish INT TERM HUP

# The daemon serves its sockets a moment after it started: the notifications
# are followed from then on, again after a restart of the daemon.
# Each helper stops its tarvctl when it is stopped itself, whoever stops it:
# no tarvctl outlives the view.
(
  child=''
  trap '[[ -z $child ]] || kill "$child" 2>/dev/null; exit 0' TERM INT HUP
  until "$tarvctl" --root "$STATION_ROOT" --timeout 5 state >/dev/null 2>&1; do sleep 0.2; done
  while :; do
    "$tarvctl" --root "$STATION_ROOT" watch >>"$watch" 2>/dev/null &
    child=$!
    wait "$child"
    sleep 1
  done
) 2>/dev/null &
children+=($!)
(
  echo "disable, then enable, as the board controller does ..." >"$bringup"
  if station_bring_up 60 2>/dev/null; then
    echo "enabled $(($(date +%s) - started)) s after the start" >"$bringup"
  else
    echo "did not reach Enabled within 60 s: see $out/tarv.log" >"$bringup"
  fi
) &
children+=($!)

# The last value of a diagnostic signal in diagnostics.txt ("time id value").
signal_value() {
  awk -v id="$1" '$2 == id { $1 = ""; $2 = ""; v = substr($0, 3); gsub(/^"|"$/, "", v) } END { print (v == "" ? "not set" : v) }' \
    "$out/diagnostics.txt" 2>/dev/null || echo "not set"
}
lease() {
  local file=$STATION_ROOT/run/udhcpc.$1.lease
  [[ -r $file ]] || return 0
  printf '   lease %s, renewed at %s' "$(<"$file")" "$(date -d "@$(stat -c %Y "$file")" +%T)"
}
reboots() {
  local count=0
  [[ -r $out/reboots.txt ]] && count=$(wc -l <"$out/reboots.txt")
  printf '%s reboot requests' "$count"
  ((count == 0)) || printf ', last: %s' "$(tail -n 1 "$out/reboots.txt")"
}
view() {
  local state line ifc status
  state=$(grep ' state ' "$watch" | tail -n 1 | cut -d' ' -f3-)
  echo "tarv in the simulated station, up $(($(date +%s) - started)) s: ${state:-waiting for the daemon to serve}   (q or Ctrl-C ends it)"
  echo "  bring-up: $(<"$bringup")"
  for ifc in eth0 wlan0 uap0 lte0 plc0; do
    line=$(grep " status $ifc " "$watch" | tail -n 1)
    if [[ -n $line ]]; then
      status=${line#* status "$ifc" }
      printf '  %-5s %s (since %s)%s\n' "$ifc" "$status" "${line%% *}" "$(lease "$ifc")"
    else
      printf '  %-5s no status yet\n' "$ifc"
    fi
  done
  echo "  modem: registration $(signal_value 134), signal $(signal_value 127) dBm, carrier $(signal_value 125)"
  echo "  board controller: $(reboots)"
  echo "  logs: $out/ (tarv.log, diagnostics.txt, reboots.txt)"
}

shown='' height=0
while :; do
  text=$(view)
  if [[ -n $keys ]]; then
    width=$(tput cols 2>/dev/null || echo 160)
    ((height > 0)) && printf '\033[%dA' "$height"
    height=0
    while IFS= read -r line; do
      printf '\r%s\033[K\n' "${line:0:width}"
      height=$((height + 1))
    done <<<"$text"
    # Not bash's read -n: it turns the terminal's signal keys back on.
    key=$(dd bs=1 count=1 2>/dev/null <&3)
    [[ $key == q || $key == $'\003' ]] && finish
  elif [[ ${text#*:} != "${shown#*:}" ]]; then
    # The first line's uptime alone is no change.
    shown=$text
    printf '%s\n\n' "$text"
    sleep 1
  else
    sleep 1
  fi
done
