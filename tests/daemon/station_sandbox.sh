#!/usr/bin/env bash
# Runs a program (the daemon, with "-r ROOT" among its arguments) as on a
# station with WLAN hardware, without touching the host: own UTS, network and
# mount namespaces, a fresh sysfs, uap0 and wlan0 links (veth pairs), and a hardware
# description in ROOT/etc/config/hwinfo.json and an access point passphrase in
# ROOT/etc/config/secrets.json unless the root has them.
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
# The commissioning access point needs its passphrase and the station image's
# service configurations, whose placeholders it personalises.
[[ -e $root/etc/config/secrets.json ]] ||
  (umask 077 && echo '{"WlanApPassword": "commission-me"}' >"$root/etc/config/secrets.json")
[[ -e $root/etc/hostapd.conf ]] ||
  printf 'interface=uap0\nssid=EV-Charger-xx-xx-xxx-xxx\nwpa_passphrase=yyyyyyyyyyyyyy\n' >"$root/etc/hostapd.conf"
[[ -e $root/etc/dnsmasq.conf ]] || printf 'interface=uap0\naddress=/EV-Charger-xx-xx-xxx-xxx/172.16.0.1\n' >"$root/etc/dnsmasq.conf"

exec unshare --uts --net --mount sh -c '
  mount -t sysfs sysfs /sys &&
  ip link add uap0 address 02:00:00:00:01:01 type veth peer name uap0-peer &&
  ip link add wlan0 address 02:00:00:00:01:02 type veth peer name wlan0-peer &&
  exec "$@"' sandbox "$@"
