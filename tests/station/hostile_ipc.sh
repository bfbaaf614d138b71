#!/usr/bin/env bash
# Hostile scenario: rounds of IPC abuse (TARV_PROBE_ROUNDS, default 1) with the
# board controller's state requests answered throughout, no call hung, and the
# daemon's RSS back within 6 MiB of idle afterwards (bench/footprint/abuse.sh
# prints the tables and the figures; its own target is 4 MiB, which four rounds
# meet with 0.3 to 0.7 MiB to spare: the probe's margin keeps a slow runner's
# heap fragmentation from failing it, while the 10 to 13 MiB of a heap that is
# not trimmed, or of thresholds left to glibc, still fail).
here=$(cd "$(dirname "$0")" && pwd)
[[ -x $STATION_BUILD/bench/ipcabuse/bench_ipcabuse ]] || { echo "SKIP: bench_ipcabuse is not built"; exit 77; }
exec "$here/../../bench/footprint/abuse.sh" -S -b "$STATION_BUILD" -r "${TARV_PROBE_ROUNDS:-1}" -l 6
