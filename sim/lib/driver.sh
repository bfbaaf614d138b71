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
