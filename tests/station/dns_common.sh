#!/usr/bin/env bash
# Sourced by the name server scenarios (after common.sh): lease renewals on
# demand and the views of the resolver files they check.
resolv_dir=$STATION_ROOT/run/resolvconf/interface

# Renews IFACE's lease now (udhcpc renews on SIGUSR1) and waits until the
# renewal is complete: the DHCP client's script has written a new lease
# resolver file, and resolv.conf was merged after it. A renewal asked for
# while another is pending (the daemon asks for one when a link comes up)
# makes the client start over: it drops the lease and its file until it is
# bound again. A file that is gone is therefore waited for, never taken for
# the renewal.
renew_lease() { # IFACE
  local file=$resolv_dir/$1.udhcpc pid before now merged i
  before=$(stat -c '%i %.9Y' "$file" 2>/dev/null)
  pid=$(station_exec cat "/run/udhcpc.$1.pid") || fail "no DHCP client for $1"
  station_exec kill -USR1 "$pid" || fail "could not signal $1's DHCP client"
  for ((i = 0; i < 300; i++)); do
    now=$(stat -c '%i %.9Y' "$file" 2>/dev/null)
    merged=$(stat -c '%.9Y' "$STATION_ROOT/etc/resolv.conf" 2>/dev/null)
    # Both times have ten digits before the point: they compare as strings.
    [[ -n $now && $now != "$before" && ! $merged < ${now#* } ]] && return 0
    sleep 0.1
  done
  fail "$1's lease was not renewed within 30 s"
}

# The name servers of a resolver file, on one line.
servers_of() { awk '$1 == "nameserver" { printf "%s%s", sep, $2; sep = " " }' "$1" 2>/dev/null; }

# Fails unless resolv.conf starts with the servers given (in that order) and
# holds each server once.
expect_resolv_starts() { # SERVERS...
  local got want="$*"
  got=$(servers_of "$STATION_ROOT/etc/resolv.conf")
  [[ "$got " == "$want "* ]] || fail "resolv.conf has '$got', want it to start with '$want'"
  [[ $(tr ' ' '\n' <<<"$got" | sort | uniq -d) == "" ]] || fail "resolv.conf names a server twice: $got"
}

# Fails unless resolv.conf names SERVER.
expect_resolv_has() { # SERVER
  grep -qx "nameserver $1" "$STATION_ROOT/etc/resolv.conf" ||
    fail "resolv.conf without $1: $(servers_of "$STATION_ROOT/etc/resolv.conf")"
}

# Fails unless the last status notified for INTERFACE (as tarvctl names it)
# matches the extended regex.
expect_last_status() { # INTERFACE REGEX
  local last
  last=$(grep -E "^[0-9:]+ status $1 " "$out/watch.txt" | tail -n 1)
  grep -qE -- "$2" <<<"$last" || fail "last $1 status '$last', want '$2'"
}
