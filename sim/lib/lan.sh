#!/usr/bin/env bash
# The LAN side of the simulated station, run as init of its own namespaces by
# station.sh: a bridge joining the far ends of eth0, wlan0 and plc0, with
# dnsmasq serving DHCP (addresses, router, two DNS servers, the NTP server's
# name) and DNS. Ends, with everything it started, when killed.
# usage: lan.sh STATE
set -euo pipefail
state=$1
lan=$state/ns/lan
mkdir -p "$lan"
hostname lan
ip link set lo up
ip link add br0 type bridge
ip addr add 192.168.50.1/24 dev br0
ip addr add 192.168.50.2/24 dev br0
ip link set br0 up
touch "$state/ns/lan-ready"

for ((i = 0; i < 200; i++)); do [[ -e $state/ns/links ]] && break; sleep 0.05; done
for link in eth0 wlan0 plc0; do
  ip link set "lan-$link" master br0
  ip link set "lan-$link" up
done

# Short leases so that a renewal is seen within a scenario; the router and
# both DNS servers are this namespace's own addresses.
dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts --user=root \
  --interface=br0 --bind-interfaces --log-dhcp --log-facility=- \
  --pid-file="$lan/dnsmasq.pid" --dhcp-leasefile="$lan/leases" \
  --dhcp-range=192.168.50.100,192.168.50.150,255.255.255.0,2m \
  --dhcp-option=option:router,192.168.50.1 \
  --dhcp-option=option:dns-server,192.168.50.1,192.168.50.2 \
  --dhcp-option=option:ntp-server,192.168.50.1 \
  --domain=station.lan --local=/station.lan/ \
  --host-record=ntp.station.lan,192.168.50.1 \
  --host-record=gateway.station.lan,192.168.50.1 &
wait
