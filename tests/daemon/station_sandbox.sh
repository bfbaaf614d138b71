#!/usr/bin/env bash
# Runs a program (the daemon, with "-r ROOT" among its arguments) as on a
# station with WLAN hardware, without touching the host: own UTS, network,
# mount and PID namespaces, a private /run (so /var/run), /etc as an overlay
# whose changes stay in memory, a fresh sysfs, uap0 and wlan0 links (veth
# pairs), and a hardware description in ROOT/etc/config/hwinfo.json and an
# access point passphrase in ROOT/etc/config/secrets.json unless the root has
# them. Whatever the program runs (pidof, killall, ifup) sees and signals only
# the sandbox's processes and files.
#
# SIGINT and SIGTERM to this script reach the program; the script ends with
# the program's exit status. The sandbox never outlives this script: when the
# script ends in any way (killed outright, or its own parent gone), the PID
# namespace ends and every process in it with it.
# usage: station_sandbox.sh PROGRAM [ARGS...]   (needs root)
set -euo pipefail

# Ends with its parent (a test or benchmark that crashed), taking the sandbox along.
# A script started in the background of another has SIGINT ignored, and bash
# cannot trap a signal ignored on entry: the default action comes back first,
# so that the forwarding below works whoever started the script.
if [[ -z ${STATION_SANDBOX_GUARDED:-} ]]; then
  STATION_SANDBOX_GUARDED=1 exec setpriv --pdeathsig KILL env --default-signal=INT "$BASH" "$0" "$@"
fi
unset STATION_SANDBOX_GUARDED

root=
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [[ ${args[i]} == -r ]] && root=${args[i + 1]:-}
done
[[ -n $root ]] || { echo "station_sandbox: no -r ROOT in the arguments" >&2; exit 2; }

mkdir -p "$root/etc/config" "$root/etc/network"
[[ -e $root/etc/hosts ]] || printf '127.0.0.1\tlocalhost\n' >"$root/etc/hosts"
[[ -e $root/etc/hostname ]] || echo localhost >"$root/etc/hostname"
if [[ ! -e $root/etc/config/hwinfo.json ]]; then
  cat >"$root/etc/config/hwinfo.json" <<'JSON'
{"HwHasWlan": true, "WlanApMacAddr": "02:00:00:00:01:01", "WlanStaMacAddr": "02:00:00:00:01:02",
 "ProductSn": "00-00-000-001"}
JSON
fi
# The commissioning access point needs its passphrase and the station image's
# service configurations, whose placeholders it personalises.
[[ -e $root/etc/config/secrets.json ]] ||
  (umask 077 && echo '{"WlanApPassword": "commission-me"}' >"$root/etc/config/secrets.json")
[[ -e $root/etc/hostapd.conf ]] ||
  printf 'interface=uap0\nssid=EV-Charger-xx-xx-xxx-xxx\nwpa_passphrase=yyyyyyyyyyyyyy\n' >"$root/etc/hostapd.conf"
[[ -e $root/etc/dnsmasq.conf ]] || printf 'interface=uap0\naddress=/EV-Charger-xx-xx-xxx-xxx/172.16.0.1\n' >"$root/etc/dnsmasq.conf"

# The sandbox's init (a shell, so that the program is not the namespace's
# init, which ignores signals it has no handler for) forwards SIGINT and
# SIGTERM to the program and ends with its status. unshare ends with this
# script (parent-death signal) and takes its child, the init, with it. A
# shell starts its background commands with SIGINT ignored: env gives both
# the init and the program its default action back.
# shellcheck disable=SC2016 # expanded by the sandbox's shell
setpriv --pdeathsig KILL unshare --uts --net --mount --pid --fork --kill-child --mount-proc --propagation private \
  env --default-signal=INT sh -c '
  set -e
  mount -t tmpfs -o mode=0755 sandbox-run /run
  mkdir -p /run/.sandbox/etc /run/.sandbox/etc-work
  mount -t overlay sandbox-etc -o lowerdir=/etc,upperdir=/run/.sandbox/etc,workdir=/run/.sandbox/etc-work /etc
  mount -t sysfs sysfs /sys
  ip link add uap0 address 02:00:00:00:01:01 type veth peer name uap0-peer
  ip link add wlan0 address 02:00:00:00:01:02 type veth peer name wlan0-peer
  set +e
  env --default-signal=INT "$@" &
  program=$!
  trap "kill -INT $program" INT
  trap "kill -TERM $program" TERM
  wait "$program"
  status=$?
  while kill -0 "$program" 2>/dev/null; do
    wait "$program"
    status=$?
  done
  exit "$status"' sandbox "$@" &
sandbox=$!
forwarded=0
forward() { # SIGNAL
  forwarded=1
  local init
  init=$(pgrep -P "$sandbox") && kill "-$1" "$init" 2>/dev/null
  return 0
}
trap 'forward INT' INT
trap 'forward TERM' TERM
set +e
while :; do
  forwarded=0
  wait "$sandbox"
  status=$?
  # A forwarded signal interrupts the wait; the sandbox's own end does not.
  ((forwarded)) && kill -0 "$sandbox" 2>/dev/null || break
done
exit "$status"
