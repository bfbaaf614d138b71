#!/usr/bin/env bash
# Functions for drivers of the simulated station (sourced; station.sh has set
# STATION_STATE, STATION_ROOT, STATION_PID, LAN_PID and STATION_BUILD).

# tarvctl from the host, through the station's own IPC configuration and
# sockets. A one-shot call that could not connect is tried again a few times.
station_ctl() {
  local out tries=0
  while :; do
    out=$("$STATION_BUILD/tools/tarvctl/tarvctl" --root "$STATION_ROOT" "$@" 2>&1) && { echo "$out"; return 0; }
    if [[ $out != *"not reachable"* ]] || ((++tries >= 5)); then
      echo "$out"
      return 1
    fi
    sleep 0.5
  done
}

# Waits up to SECONDS for the daemon to report STATE ("2 Disabled"...).
station_wait_state() { # STATE SECONDS
  local got='' i
  for ((i = 0; i < $2 * 10; i++)); do
    got=$("$STATION_BUILD/tools/tarvctl/tarvctl" --root "$STATION_ROOT" state 2>&1) && [[ $got == "$1" ]] && return 0
    [[ -e $STATION_STATE/out/tarv.rc ]] && break
    sleep 0.1
  done
  echo "station: state '$got', want '$1'" >&2
  return 1
}

# Runs a command inside the station (all its namespaces) or on the LAN side.
station_exec() { nsenter --target "$STATION_PID" --all -- "$@"; }
lan_exec() { nsenter --target "$LAN_PID" --all -- "$@"; }

# Sends a signal to the daemon, or to a peer (boardcontrol, diagnostics, modem).
station_signal() { # SIGNAL [NAME]
  station_exec kill "-$1" "$(<"$STATION_STATE/ns/${2:-tarv}.pid")"
}

# Waits up to SECONDS until FILE holds a line matching the extended regex.
station_wait_line() { # FILE REGEX SECONDS
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -qE -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "station: no line matching '$2' in $1 within $3 s" >&2
  return 1
}

# Drives the daemon as the board controller does: disable (initialises the
# networks), then enable; each step waits for the state it leads to.
station_bring_up() { # SECONDS
  station_wait_state "1 Uninitialized" "$1" &&
    station_ctl disable >/dev/null && station_wait_state "2 Disabled" "$1" &&
    station_ctl enable >/dev/null && station_wait_state "3 Enabled" "$1"
}

# ---------------------------------------------------------------------------
# Fault controls, for scenarios and for trying the station by hand. Each one
# returns non-zero, with a line on standard error, when it could not act.

# Takes the far end of a link down or up: the station's end loses or gets its
# carrier, as with a cable pulled, a WLAN not (yet) associated or a powerline
# without a peer. Works before the daemon enables the link, too.
station_carrier() { # eth0|wlan0|plc0 up|down
  case $1:$2 in
    eth0:up | eth0:down | wlan0:up | wlan0:down | plc0:up | plc0:down) lan_exec ip link set "lan-$1" "$2" ;;
    *) echo "station: station_carrier eth0|wlan0|plc0 up|down, not '$*'" >&2; return 2 ;;
  esac
}

# A JSON string of TEXT (quotes and backslashes escaped).
station_json_string() {
  local text=${1//\\/\\\\}
  text=${text//\"/\\\"}
  printf '"%s"' "$text"
}

# Hands the modem simulator a control object ({"faults": [...], "timing":
# {...}}) and waits until it has applied it.
station_modem_control() { # JSON
  [[ -e $STATION_STATE/ns/modem.pid ]] || { echo "station: no modem simulator in this station" >&2; return 1; }
  local log=$STATION_STATE/out/modem.log before i
  before=$(grep -c 'tarv-modemsim: control' "$log")
  printf '%s\n' "$1" >"$STATION_STATE/ns/modem-control.json.tmp"
  mv "$STATION_STATE/ns/modem-control.json.tmp" "$STATION_STATE/ns/modem-control.json"
  station_signal USR2 modem || return 1
  for ((i = 0; i < 50; i++)); do
    if [[ $(grep -c 'tarv-modemsim: control' "$log") -gt $before ]]; then
      ! grep 'tarv-modemsim: control' "$log" | tail -n 1 | grep -q 'control ignored' && return 0
      grep 'tarv-modemsim: control' "$log" | tail -n 1 >&2
      return 1
    fi
    sleep 0.1
  done
  echo "station: the modem simulator did not take the control" >&2
  return 1
}

# Adds faults, each a JSON object as in a modem scenario's "faults".
station_modem_fault() { # FAULT_JSON...
  local IFS=,
  station_modem_control "{\"faults\": [$*]}"
}

# The network refuses the data context's activation COUNT times ("ERROR").
station_modem_refuse_qiact() { # COUNT
  [[ $1 =~ ^[1-9][0-9]*$ ]] || { echo "station: station_modem_refuse_qiact COUNT, not '$1'" >&2; return 2; }
  station_modem_fault "{\"kind\": \"error\", \"command\": \"AT+QIACT=1\", \"times\": $1}"
}

# From the next power-on, the modem's device appears SECONDS after the power key.
station_modem_powerup_delay() { # SECONDS
  [[ $1 =~ ^[0-9]+$ ]] || { echo "station: station_modem_powerup_delay SECONDS, not '$1'" >&2; return 2; }
  station_modem_control "{\"timing\": {\"powerOnMs\": $(($1 * 1000))}}"
}

# The next time the modem receives COMMAND (exact line), TEXT comes first as
# an unsolicited line: "+CMTI: \"ME\",1", "RDY", "+QIURC: \"pdpdeact\",1".
station_modem_unsolicited() { # COMMAND TEXT
  [[ $# -eq 2 ]] || { echo "station: station_modem_unsolicited COMMAND TEXT" >&2; return 2; }
  station_modem_fault "{\"kind\": \"unsolicited\", \"command\": $(station_json_string "$1"), \"text\": $(station_json_string "$2"), \"times\": 1}"
}

# Starts a second dnsmasq in the station, bound to INTERFACE only (no DNS, no
# DHCP): another service's, beside the access point's.
station_foreign_dnsmasq() { # INTERFACE
  [[ $1 =~ ^[a-z0-9]+$ ]] || { echo "station: station_foreign_dnsmasq INTERFACE" >&2; return 2; }
  station_exec dnsmasq --conf-file=/dev/null --interface="$1" --bind-dynamic --port=0 --user=root \
    --pid-file=/run/foreign-dnsmasq.pid
}

# Garbles configuration source SOURCE (settings, hwinfo, secrets, network)
# while the daemon runs: cut in the middle, as a write interrupted by a
# power loss leaves it.
station_garble_config() { # SOURCE
  local file=$STATION_ROOT/etc/config/$1.json size
  [[ $1 =~ ^(settings|hwinfo|secrets|network)$ && -e $file ]] ||
    { echo "station: station_garble_config settings|hwinfo|secrets|network (present)" >&2; return 2; }
  size=$(stat -c %s "$file")
  truncate -s $((size / 2)) "$file"
}

# Waits up to SECONDS for the LAN to renew (acknowledge again) the lease of
# the station's INTERFACE (eth0, wlan0, plc0): 2-minute leases renew after 1.
station_wait_renewal() { # INTERFACE SECONDS
  local mac acks i
  mac=$(station_exec cat "/sys/class/net/$1/address") || return 1
  acks=$(grep -c "DHCPACK(br0) [0-9.]* $mac" "$STATION_STATE/out/lan.log")
  for ((i = 0; i < $2 * 10; i++)); do
    [[ $(grep -c "DHCPACK(br0) [0-9.]* $mac" "$STATION_STATE/out/lan.log") -gt $acks ]] && return 0
    sleep 0.1
  done
  echo "station: no renewal of $1's lease ($mac) within $2 s" >&2
  return 1
}

# Asks the daemon to apply the changed configuration, as a peer process does:
# a refused request (the daemon takes it only while Enabled, not while it is
# between states) is asked again for up to SECONDS. Prints the last answer;
# false unless it was "Ok".
station_validate() { # SECONDS
  local answer i
  for ((i = 0; i < $1 * 5; i++)); do
    answer=$(station_ctl validate) && [[ $answer == Ok ]] && { echo "$answer"; return 0; }
    sleep 0.2
  done
  echo "$answer"
  return 1
}

# Makes lte0 drop every frame the station sends on it (on), as when the
# modem's router stops answering: a DHCP client on lte0 waits for a lease
# that never comes. Waits up to 60 s for lte0 to appear (the modem powered
# on). The fault ends with off, or with lte0 itself when the modem goes off.
station_lte_mute() { # on|off
  local i
  case $1 in
    on)
      for ((i = 0; i < 600; i++)); do
        station_exec ip link show lte0 >/dev/null 2>&1 && break
        sleep 0.1
      done
      station_exec tc qdisc replace dev lte0 root pfifo limit 0 ||
        { echo "station: lte0 did not appear within 60 s" >&2; return 1; }
      ;;
    off)
      station_exec ip link show lte0 >/dev/null 2>&1 || return 0
      station_exec tc qdisc del dev lte0 root 2>/dev/null || true
      ;;
    *) echo "station: station_lte_mute on|off, not '$*'" >&2; return 2 ;;
  esac
}

# Delays the modem's answer to COMMAND (exact line) by SECONDS, the next
# COUNT times: the command takes effect at once, its answer comes late.
station_modem_slow() { # COMMAND SECONDS COUNT
  [[ $# -eq 3 && $2 =~ ^[0-9]+$ && $3 =~ ^[1-9][0-9]*$ ]] ||
    { echo "station: station_modem_slow COMMAND SECONDS COUNT" >&2; return 2; }
  station_modem_fault "{\"kind\": \"delay\", \"command\": $(station_json_string "$1"), \"delayMs\": $(($2 * 1000)), \"times\": $3}"
}
