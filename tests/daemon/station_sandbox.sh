#!/usr/bin/env bash
# Runs a program (the daemon, with "-r ROOT" among its arguments) as on a
# station with WLAN hardware, without touching the host: own UTS, network and
# mount namespaces, a fresh sysfs, uap0 and wlan0 links (veth pairs), and a hardware
# description in ROOT/etc/config/hwinfo.json unless the root has one.
# usage: station_sandbox.sh PROGRAM [ARGS...]   (needs root)
set -euo pipefail

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

exec unshare --uts --net --mount sh -c '
  mount -t sysfs sysfs /sys &&
  ip link add uap0 address 02:00:00:00:01:01 type veth peer name uap0-peer &&
  ip link add wlan0 address 02:00:00:00:01:02 type veth peer name wlan0-peer &&
  exec "$@"' sandbox "$@"
