#!/bin/sh
# Merge order and precedence of the resolver merge script: interfaces in name
# order, each server once, three at most (what resolvers read); an interface's
# .tarv file stands in place of its .udhcpc file, whatever the DHCP client
# writes there afterwards.
set -eu
script=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dir=$root/run/resolvconf/interface
mkdir -p "$dir" "$root/etc"
failures=0
check() { # NAME EXPECTED
  SETRESOLV_ROOT=$root sh "$script"
  got=$(cat "$root/etc/resolv.conf")
  if [ "$got" != "$2" ]; then
    printf 'FAIL %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$got"
    failures=$((failures + 1))
  fi
}

check "no files" ""

printf 'search lan\nnameserver 192.168.50.1\nnameserver 192.168.50.2\n' >"$dir/eth0.udhcpc"
printf 'nameserver 192.168.225.1\n' >"$dir/lte0.udhcpc"
check "leases only" "search lan
nameserver 192.168.50.1
nameserver 192.168.50.2
nameserver 192.168.225.1"

# Static servers for eth0 and the mobile network's for lte0 replace the
# leases' servers of the same interface, and keep the interface order.
printf 'nameserver 9.9.9.9\n' >"$dir/eth0.tarv"
printf 'nameserver 192.168.225.1\nnameserver 10.0.0.53\nnameserver 9.9.9.9\n' >"$dir/lte0.tarv"
check "own files first" "nameserver 9.9.9.9
nameserver 192.168.225.1
nameserver 10.0.0.53"

# A renewal rewrites the lease file: nothing changes while the own file exists.
printf 'search lan\nnameserver 192.168.50.7\n' >"$dir/eth0.udhcpc"
check "after a renewal" "nameserver 9.9.9.9
nameserver 192.168.225.1
nameserver 10.0.0.53"

# Withdrawn: the lease's servers apply again.
rm "$dir/eth0.tarv"
check "withdrawn" "search lan
nameserver 192.168.50.7
nameserver 192.168.225.1
nameserver 10.0.0.53"

[ "$failures" -eq 0 ] && echo "setresolv: all cases passed"
exit "$failures"
