#!/usr/bin/env bash
# `make run`: the daemon in the simulated station (sim/station.sh), driven as
# the board controller drives it (disable, then enable), with a live view of
# its lifecycle states and interface statuses until Ctrl-C, after which
# everything the station started is gone. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
exec sim/station.sh -b "${1:-build}" -- bash sim/lib/view.sh
