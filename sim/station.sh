#!/usr/bin/env bash
# The simulated station: starts the network manager daemon in a sandbox of
# Linux namespaces (network, mount, UTS, PID) beside a "LAN" namespace that
# serves DHCP and DNS, then runs DRIVER on the host side. When DRIVER ends,
# or on any signal or error, everything the sandbox started is stopped and
# removed. Nothing on the host changes: links, mounts and processes live in
# the namespaces only, CAP_SYS_TIME is dropped, and the only host path
# written is the new state directory.
#
# usage: station.sh [-b BUILD] [-s STATE] [-c CONFIG] [-m SCENARIO] [-n FILE] [-k] -- DRIVER [ARGS...]
#   -b BUILD     build directory holding src/tarv and tools/ (default: build)
#   -s STATE     state directory to create (must not exist; default: new under /tmp)
#   -c CONFIG    directory with the four configuration sources (default: sim/config)
#   -m SCENARIO  modem simulator scenario (used when tarv-modemsim was built)
#   -n FILE      after the end, write to FILE every process still in one of
#                the sandbox's namespaces (empty: none outlived it)
#   -k           keep the state directory (logs, records) after the end
#
# DRIVER runs on the host in a UTS namespace of its own: that namespace marks
# every process it starts, and the end stops them all, whether or not the
# driver still runs (a watcher it left in the background, for example).
#
# DRIVER sees: STATION_STATE (state directory), STATION_ROOT (the station's
# "/" as seen from the host, for tarvctl --root), STATION_PID and LAN_PID
# (a process in each namespace, for nsenter), STATION_BUILD.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=build state='' config=$here/config scenario='' keep=0 nsfile=''
while getopts 'b:s:c:m:n:k' opt; do
  case $opt in
    b) build=$OPTARG ;;
    s) state=$OPTARG ;;
    c) config=$OPTARG ;;
    m) scenario=$OPTARG ;;
    n) nsfile=$OPTARG ;;
    k) keep=1 ;;
    *) echo "usage: station.sh [-b BUILD] [-s STATE] [-c CONFIG] [-m SCENARIO] [-n FILE] [-k] -- DRIVER [ARGS...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[[ ${1:-} == -- ]] && shift
[[ $# -gt 0 ]] || { echo "station: no driver command given" >&2; exit 2; }

refuse() { echo "station: refusing to start: $*" >&2; exit 1; }

# Refusals come before anything is created.
[[ $(id -u) -eq 0 ]] || refuse "needs root (namespaces, mounts and links)"
unshare --net --mount --uts --pid --fork true 2>/dev/null || refuse "this kernel or container has no namespace support"
command -v setpriv >/dev/null || refuse "setpriv (util-linux) is missing"
for tool in dnsmasq busybox ifup; do
  command -v "$tool" >/dev/null || refuse "$tool is missing (run scripts/bootstrap.sh)"
done
build=$(cd "$build" 2>/dev/null && pwd) || refuse "no build directory '$build'"
[[ -x $build/src/tarv ]] || refuse "no daemon at $build/src/tarv (build it first)"
[[ -x $build/tools/standin/tarv-standin ]] || refuse "no stand-in at $build/tools/standin/tarv-standin (build tarv-standin)"
[[ -r $config/hwinfo.json ]] || refuse "no configuration sources in '$config'"
for dir in /etc /usr /run /sys; do
  [[ -d $dir && ! -L $dir ]] || refuse "$dir is not a plain directory on this host"
done
if [[ -n $state ]]; then
  [[ ! -e $state ]] || refuse "state directory $state is in the way (remove it first)"
  mkdir -p -- "$state"
else
  state=$(mktemp -d /tmp/tarv-station-XXXXXX)
fi
state=$(cd "$state" && pwd)
config=$(cd "$config" && pwd)
[[ -z $scenario ]] || scenario=$(realpath -- "$scenario")

station_pid='' lan_pid='' router_pid='' driver='' driver_uts='' namespaces=()
own_uts=$(readlink /proc/self/ns/uts)
# Signals every process in the driver's UTS namespace; false when none is left.
# shellcheck disable=SC2317 # called by the traps
signal_driver_processes() { # SIGNAL
  local pid found=1
  # Never this script's own namespace: that is the host's.
  [[ -n $driver_uts && $driver_uts != "$own_uts" ]] || return 1
  for pid in $(find /proc/[0-9]*/ns -maxdepth 1 -name uts -printf '%h %l\n' 2>/dev/null |
    awk -v uts="$driver_uts" '$2 == uts { split($1, p, "/"); print p[3] }'); do
    kill "-$1" "$pid" 2>/dev/null && found=0
  done
  return "$found"
}
# Every process still in one of the pinned namespaces ("PID (NAMESPACE):
# COMMAND LINE"); processes that entered one from outside (nsenter) are
# reaped by their parents on the host: a few seconds are allowed for that.
# shellcheck disable=SC2317 # called by the traps
left_in_namespaces() {
  local i pids pid
  ((${#namespaces[@]})) || return 0
  for ((i = 0; i < 50; i++)); do
    # One pass over every process's namespace links.
    pids=$(find /proc/[0-9]*/ns -maxdepth 1 \( -name pid -o -name net -o -name mnt -o -name uts \) \
      -printf '%h %l\n' 2>/dev/null | awk -v list="${namespaces[*]}" -v self="$$" '
        BEGIN { n = split(list, ns, " "); for (i = 1; i <= n; i++) ours[ns[i]] = 1 }
        ($2 in ours) { split($1, p, "/"); if (p[3] != self && !seen[p[3]]++) print p[3] ":" $2 }') || true
    [[ -z $pids ]] && return 0
    sleep 0.1
  done
  for pid in $pids; do
    echo "process ${pid%%:*} (${pid#*:}): $(tr '\0' ' ' <"/proc/${pid%%:*}/cmdline" 2>/dev/null)"
  done
}
# shellcheck disable=SC2317 # called by the traps
cleanup() {
  local rc=$? i
  trap - EXIT INT TERM HUP
  # The driver and everything it started first (a live view may still be
  # running, a watcher may have outlived its driver).
  [[ -n $driver ]] && kill -TERM "$driver" 2>/dev/null
  if signal_driver_processes TERM; then
    for ((i = 0; i < 40; i++)); do
      signal_driver_processes 0 || break
      sleep 0.05
    done
    signal_driver_processes KILL || true
  fi
  if [[ -n $driver ]]; then
    wait "$driver" 2>/dev/null || true
  fi
  # Killing the unshare processes ends the namespaces: their init
  # processes go with them (--kill-child), every process in a PID namespace
  # goes with its init, and the links and mounts go with the namespaces.
  # (unshare ignores SIGTERM while it waits for its child.)
  for pid in $station_pid $lan_pid $router_pid; do
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [[ -z $nsfile ]] || left_in_namespaces >"$nsfile"
  if ((keep)); then
    echo "station: state kept in $state" >&2
  else
    rm -rf -- "$state"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mkdir -p "$state/out" "$state/ns"
printf '%s\n' "$build" >"$state/build"
printf '%s\n' "$config" >"$state/config"
printf '%s\n' "$scenario" >"$state/scenario"

# Both namespaces run without CAP_SYS_TIME: the system clock is not namespaced.
# They end with this script even when it is killed outright (no trap runs
# then): the parent-death signal takes the unshare processes, and with them
# everything in the namespaces.
nsrun() {
  exec setpriv --pdeathsig KILL --bounding-set -sys_time --inh-caps -sys_time \
    unshare --net --mount --uts --pid --fork --kill-child --mount-proc --propagation private "$@"
}
# The same, keeping the host's /proc (the modem's router reaches the
# station through it).
nsrun_host_proc() {
  exec setpriv --pdeathsig KILL --bounding-set -sys_time --inh-caps -sys_time \
    unshare --net --mount --uts --pid --fork --kill-child --propagation private "$@"
}
(nsrun bash "$here/lib/lan.sh" "$state" >"$state/out/lan.log" 2>&1) &
lan_pid=$!
(nsrun bash "$here/lib/inside.sh" "$state" "$here" >"$state/out/station.log" 2>&1) &
station_pid=$!

# The veth pairs are created straight into the two namespaces: no link ever
# exists on the host. The station side carries the name the daemon expects.
for ((i = 0; i < 100; i++)); do
  [[ -e $state/ns/lan-ready && -e $state/ns/station-ready ]] && break
  if ! kill -0 "$station_pid" 2>/dev/null || ! kill -0 "$lan_pid" 2>/dev/null; then break; fi
  sleep 0.05
done
[[ -e $state/ns/lan-ready && -e $state/ns/station-ready ]] || {
  echo "station: the namespaces did not come up" >&2
  cat "$state/out/lan.log" "$state/out/station.log" >&2
  exit 1
}
# The init processes of the two namespaces (the unshare processes' children).
station_init=$(pgrep -P "$station_pid") lan_init=$(pgrep -P "$lan_pid") ||
  { echo "station: the namespaces lost their init processes" >&2; exit 1; }
STATION_ROOT_DIR=/proc/$station_init/root
for link in eth0 wlan0 plc0; do
  ip link add "$link" netns "$station_init" type veth peer name "lan-$link" netns "$lan_init"
done
touch "$state/ns/links"
# The modem's router (lte0's far end) is hardware inside the modem, not a
# process of the station: its namespaces are siblings of the station's, so
# that the station's pidof and killall never see its dnsmasq. It follows the
# modem's device in the station's /dev and moves lte0 into the station.
if [[ -x $build/tools/modemsim/tarv-modemsim ]]; then
  (nsrun_host_proc bash "$here/lib/modemrouter.sh" "$state" "$STATION_ROOT_DIR/dev/ttyATSERIAL2" \
    "/proc/$station_init/ns/net" >"$state/out/modemrouter.log" 2>&1) &
  router_pid=$!
fi

export STATION_STATE=$state STATION_PID=$station_init LAN_PID=$lan_init STATION_BUILD=$build
export STATION_ROOT=/proc/$station_init/root/
for ((i = 0; i < 200; i++)); do
  [[ -e $state/ns/daemon-started ]] && break
  kill -0 "$station_pid" 2>/dev/null || { echo "station: the sandbox ended at start-up" >&2; cat "$state/out/station.log" >&2; exit 1; }
  sleep 0.05
done
# The sandbox's namespaces, each held open until this script ends: a freed
# namespace's number may be reused by a new one (another station's), which
# would make its processes look like ours.
pin_namespaces() { # PID KIND...
  local pid=$1 kind fd
  shift
  for kind; do
    exec {fd}<"/proc/$pid/ns/$kind" || continue
    namespaces+=("$(readlink "/proc/self/fd/$fd")")
  done
}
pin_namespaces "$station_init" pid net mnt
pin_namespaces "$lan_init" pid net mnt
if [[ -n $router_pid ]] && router_init=$(pgrep -P "$router_pid"); then
  pin_namespaces "$router_init" pid net mnt
fi
# In the background, so that a signal to this script is handled at once. The
# driver notes its UTS namespace before it runs DRIVER.
unshare --uts bash -c 'readlink /proc/self/ns/uts >"$0.tmp" && mv "$0.tmp" "$0" && exec "$@"' \
  "$state/ns/driver-uts" "$@" &
driver=$!
for ((i = 0; i < 100; i++)); do
  [[ -s $state/ns/driver-uts ]] && break
  kill -0 "$driver" 2>/dev/null || break
  sleep 0.02
done
if [[ -s $state/ns/driver-uts ]]; then
  driver_uts=$(<"$state/ns/driver-uts")
  [[ $(readlink "/proc/$driver/ns/uts" 2>/dev/null) != "$driver_uts" ]] || pin_namespaces "$driver" uts
fi
set +e
wait "$driver"
rc=$?
set -e
driver=''
exit "$rc"
