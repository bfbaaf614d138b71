#!/usr/bin/env bash
# The access point disabled while another component's dnsmasq runs (as the
# modem side's DHCP server does): the access point's own services stop, the
# other dnsmasq survives, eth0 (not under fault) stays up, and the disable is
# answered within 5 s.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
station_bring_up 60 || fail "did not reach Enabled"
station_exec bash -c 'setsid /usr/libexec/station-sim/dnsmasq /run/other-dnsmasq.pid </dev/null >/dev/null 2>&1 &'
for ((i = 0; i < 50; i++)); do
  station_exec test -s /run/other-dnsmasq.pid && break
  sleep 0.1
done
other=$(station_exec cat /run/other-dnsmasq.pid) || fail "the other dnsmasq did not start"
start=$(date +%s%N)
station_ctl disable >/dev/null || fail "disable refused"
station_wait_state "2 Disabled" 5 || fail "not Disabled within 5 s"
echo "disable answered in $((($(date +%s%N) - start) / 1000000)) ms"
station_exec kill -0 "$other" || fail "the other dnsmasq was stopped with the access point"
station_exec kill "$other"
station_exec test ! -e /run/dnsmasq.pid || fail "the access point's dnsmasq still runs"
station_exec ip -o link show eth0 | grep -q 'state UP' || fail "eth0 went down"
echo "foreign dnsmasq: survived the access point's disable"
