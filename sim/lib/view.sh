#!/usr/bin/env bash
# Driver of `make run`: a live view of the daemon's lifecycle states and
# interface statuses, while it is disabled and then enabled as the board
# controller does. Runs until interrupted.
set -euo pipefail
# shellcheck source=sim/lib/driver.sh
source "$(dirname "$0")/driver.sh"
tarvctl=$STATION_BUILD/tools/tarvctl/tarvctl
echo "run: station state in $STATION_STATE (out/tarv.log: the daemon, out/diagnostics.txt: its signals)"
echo "run: from another terminal: $tarvctl --root $STATION_ROOT state"
echo "run: disable, then enable, as the board controller does; Ctrl-C ends the station"
# Alive ticks (every 4 s) are left out of the view.
"$tarvctl" --root "$STATION_ROOT" watch > >(grep --line-buffered -v ' alive$') &
watcher=$!
start=$(date +%s)
if station_bring_up 60; then
  echo "run: the station is up after $(($(date +%s) - start)) s"
else
  echo "run: the station did not come up; see $STATION_STATE/out/tarv.log"
fi
wait "$watcher"
