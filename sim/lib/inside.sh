#!/usr/bin/env bash
# The station side of the simulated station, run as init of its own
# namespaces by station.sh. Builds the station's file system view (everything
# the daemon and the system programs write lands in memory), installs the
# simulator's stand-ins for hardware this machine lacks, starts the peers and
# the modem simulator when built, then runs the daemon with the default root
# and records its exit code. Ends, with everything it started, when killed.
# usage: inside.sh STATE SIMDIR
set -euo pipefail
state=$1 sim=$2
build=$(<"$state/build") config=$(<"$state/config") scenario=$(<"$state/scenario")
out=$state/out
mem=$state/ns/mem
mkdir -p "$mem"

# All writable layers live in one tmpfs that only this mount namespace sees.
mount -t tmpfs -o mode=0755 station-sim "$mem"
for dir in etc usr dev; do
  mkdir -p "$mem/$dir" "$mem/$dir-work"
  mount -t overlay "station-$dir" -o "lowerdir=/$dir,upperdir=$mem/$dir,workdir=$mem/$dir-work" "/$dir"
done
# A terminal of our own for the modem simulator, and the usual /dev/shm.
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts /dev/pts
mount --bind /dev/pts/ptmx /dev/ptmx
mount -t tmpfs -o mode=1777 shm /dev/shm
for dir in /run /var/log /var/tmp; do
  [[ -d $dir && ! -L $dir ]] && mount -t tmpfs -o mode=0755 station-run "$dir"
done
chmod 1777 /var/tmp
# sysfs of this network namespace. This machine has no GPIO class: /sys/class
# becomes a tmpfs holding the real classes (bound from a second sysfs view)
# and a gpio directory with the modem's two control lines as files.
mount -t sysfs sysfs /sys
mkdir -p "$mem/sysfs"
mount -t sysfs sysfs "$mem/sysfs"
mount -t tmpfs -o mode=0755 station-class /sys/class
for class in "$mem"/sysfs/class/*; do
  mkdir "/sys/class/${class##*/}"
  mount --bind "$class" "/sys/class/${class##*/}"
done
mkdir -p /sys/class/gpio
for line in 74 75; do
  mkdir -p "/sys/class/gpio/gpio$line"
  echo out >"/sys/class/gpio/gpio$line/direction"
  echo 0 >"/sys/class/gpio/gpio$line/value"
done
: >/sys/class/gpio/export
: >/sys/class/gpio/unexport

# The simulator's stand-ins and the station's own scripts.
# hostapd, wpa_supplicant and ntpd are copies of one compiled stand-in that
# acts as the program it is installed as (its name, command line, pid file and
# signals); the access point's dnsmasq is the real one, started by the init
# script as on the station.
install -m 0755 "$sim/standins/iw" /usr/sbin/iw
for name in hostapd wpa_supplicant ntpd; do
  install -m 0755 "$build/tools/standin/tarv-standin" "/usr/sbin/$name"
done
install -m 0755 "$sim/standins/plctool" /usr/sbin/plctool
install -m 0755 "$sim/standins/plcboot" /usr/sbin/plcboot
install -m 0755 "$sim/standins/initscript" /etc/init.d/hostapd2
install -m 0755 "$sim/standins/initscript" /etc/init.d/dnsmasq
install -m 0755 "$sim/station/setresolv.sh" /usr/bin/setresolv.sh
install -m 0755 "$sim/station/ntpd-update-status.sh" /usr/bin/busybox-ntpd-update-status.sh
install -D -m 0755 "$sim/station/udhcpc.script" /etc/udhcpc/default.script
install -D -m 0755 "$sim/station/link-up" /etc/network/if-pre-up.d/link-up
ln -sf /usr/bin/busybox /usr/sbin/udhcpc
mkdir -p /lib/firmware/qca
printf 'station simulator powerline firmware\n' >/lib/firmware/qca/MAC-7005-v1.2.5-00-CS.nvm
printf 'station simulator powerline parameters\n' >/lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib

# The station's configuration: the four sources, IPC endpoints, system files.
mkdir -p /etc/config /etc/network /run/resolvconf/interface /run/network /run/iipc
for source in settings hwinfo secrets network; do
  if [[ -e $config/$source.json ]]; then
    install -m 0600 "$config/$source.json" "/etc/config/$source.json"
  fi
done
install -m 0644 "$sim/config/iipc.json" /etc/iipc.json
printf 'auto lo\niface lo inet loopback\n' >/etc/network/interfaces
rm -rf /etc/network/interfaces.d
# The image's factory host name, until the daemon derives the station's own.
printf '127.0.0.1\tlocalhost\n127.0.1.1\tstation-sim\n' >/etc/hosts
echo station-sim >/etc/hostname
: >/etc/resolv.conf
# The image's access point templates, with the placeholders the daemon fills in.
cat >/etc/hostapd.conf <<'EOF'
interface=uap0
ssid=EV-Charger-xx-xx-xxx-xxx
hw_mode=g
channel=6
wpa=2
wpa_key_mgmt=WPA-PSK
rsn_pairwise=CCMP
wpa_passphrase=yyyyyyyyyyyyyy
EOF
cat >/etc/dnsmasq.conf <<'EOF'
interface=uap0
bind-interfaces
dhcp-range=172.16.0.10,172.16.0.100,255.255.255.0,12h
address=/EV-Charger-xx-xx-xxx-xxx/172.16.0.1
EOF
hostname station-sim
ip link set lo up
touch "$state/ns/station-ready"

# The links arrive from station.sh.
for ((i = 0; i < 200; i++)); do [[ -e $state/ns/links ]] && break; sleep 0.05; done
[[ -e $state/ns/links ]] || { echo "inside: no links" >&2; exit 1; }
# The access point interface exists from boot on, as on a station whose
# radio driver came up with it (the daemon creates it when it is missing).
/usr/sbin/iw dev wlan0 interface add uap0 type __ap

start_peer() { # NAME PROGRAM ARGS...
  local name=$1 program=$2
  shift 2
  if [[ -x $program ]]; then
    "$program" "$@" >"$out/$name.log" 2>&1 &
    echo "$!" >"$state/ns/$name.pid"
    echo "inside: started $name (pid $!)"
  else
    echo "inside: $name not built ($program), left out"
  fi
}
start_peer boardcontrol "$build/tools/boardcontrolsim/tarv-boardcontrolsim" --root / --record "$out/reboots.txt"
start_peer diagnostics "$build/tools/diagcollector/tarv-diagcollector" --root / --record "$out/diagnostics.txt"
start_peer modem "$build/tools/modemsim/tarv-modemsim" --root / --scenario "${scenario:-$sim/config/modem.json}" \
  --control "$state/ns/modem-control.json"

"$build/src/tarv" -v >"$out/tarv.log" 2>&1 &
tarv=$!
echo "$tarv" >"$state/ns/tarv.pid"
touch "$state/ns/daemon-started"
set +e
wait "$tarv"
echo $? >"$out/tarv.rc"
echo "inside: tarv exited with $(<"$out/tarv.rc")"
# The station stays up (peers, links) until station.sh ends it.
sleep infinity &
wait
