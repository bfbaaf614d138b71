#!/usr/bin/env bash
# `make run`: the daemon in the simulated station (sim/station.sh), driven as
# the board controller drives it (disable, then enable), with a live view of
# the whole station (sim/lib/view.sh) until Ctrl-C or q. Then everything the
# station started is gone; its logs stay in the state directory named at the
# end. Needs root, checked before anything is built. Builds only the daemon,
# tarvctl and the station's own programs, not the tests and benchmarks.
# usage: scripts/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [[ $(id -u) -ne 0 ]]; then
  echo "run: the simulated station needs root (namespaces, mounts and links): sudo make run" >&2
  exit 1
fi
scripts/bootstrap.sh
if [[ ! -f $build/build.ninja ]]; then
  echo "run: configuring $build/ (the first time takes a minute or two)"
fi
echo "run: building the daemon"
scripts/build.sh "$build" -- tarv
# The station's programs: tarvctl, the modem simulator and the peers, and
# whatever else the station has (every program target named tarv-*).
mapfile -t programs < <(ninja -C "$build" -t targets all | sed -n 's/^\(tarvctl\|tarv-[a-z0-9-]*\): phony$/\1/p' | sort -u)
echo "run: building ${programs[*]}"
scripts/build.sh "$build" -- "${programs[@]}"

# The view reads its keys itself (Ctrl-C is a key there, not a signal to
# make); whatever happens, the terminal is given back as it was.
tty_state=$(stty -g 2>/dev/null </dev/tty) || tty_state=''
# shellcheck disable=SC2317 # called by the trap
restore_tty() { [[ -z $tty_state ]] || stty "$tty_state" </dev/tty 2>/dev/null || true; }
trap restore_tty EXIT
rc=0
sim/station.sh -k -b "$build" -- bash sim/lib/view.sh || rc=$?
# A signal (SIGINT, SIGTERM) is an ordinary way to end the run.
if [[ $rc == 130 || $rc == 143 ]]; then
  rc=0
fi
exit "$rc"
