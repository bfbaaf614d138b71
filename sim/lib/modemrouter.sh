#!/usr/bin/env bash
# The simulated modem's internal router, run by station.sh in namespaces of
# its own (network, PID, mount), beside the station's: while the modem's
# serial device exists (the modem is powered, in ECM mode), the station has an lte0 link whose far end (ecm0,
# here) hands out 192.168.225.x by DHCP with 192.168.225.1 as router and DNS
# server, as the real modem's router does. When the device goes, so does lte0.
# usage: modemrouter.sh STATE DEVICE STATION_NETNS
#   DEVICE         the modem's device as seen from here (a link to a terminal
#                  of the station's, which need not resolve here)
#   STATION_NETNS  a path naming the station's network namespace
set -uo pipefail
state=$1 device=$2 station=$3
dir=$state/ns/modemrouter
mkdir -p "$dir"
ip link set lo up
dhcp=''
stop_dhcp() {
  [[ -n $dhcp ]] && kill "$dhcp" 2>/dev/null && wait "$dhcp" 2>/dev/null
  dhcp=''
}
trap 'stop_dhcp; exit 0' TERM INT
while :; do
  if [[ -L $device && -z $dhcp ]]; then
    # The link is made here and its station end moved over as lte0.
    ip link add ecm0 type veth peer name lte0 &&
      ip link set lte0 netns "$station" &&
      ip addr add 192.168.225.1/24 dev ecm0 && ip link set ecm0 up &&
      {
        dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts --user=root \
          --interface=ecm0 --bind-interfaces --log-facility=- --pid-file="$dir/dnsmasq.pid" \
          --dhcp-leasefile="$dir/leases" --dhcp-range=192.168.225.20,192.168.225.60,255.255.255.0,2m \
          --dhcp-option=option:router,192.168.225.1 --dhcp-option=option:dns-server,192.168.225.1 \
          --address=/#/192.168.225.1 &
        dhcp=$!
        echo "modemrouter: modem on, lte0 up"
      }
  elif [[ ! -L $device && -n $dhcp ]]; then
    stop_dhcp
    ip link del ecm0 2>/dev/null
    echo "modemrouter: modem off, lte0 gone"
  fi
  sleep 0.2 &
  wait $!
done
