#!/usr/bin/env bash
# The start-up script against a stub daemon: one scenario per table row, run
# in order (each row starts from the state the previous rows left).
# usage: initscript_test.sh TEMPLATE
set -uo pipefail
template=$1
tmp=$(mktemp -d /tmp/tarv-init-XXXXXX)
others=()
cleanup() {
  for p in $(pgrep -f "$tmp/stub.sh"); do kill -KILL "$p"; done
  for p in "${others[@]}"; do kill -KILL "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# The stub is a copy of the shell, so the script's program check (the
# executable behind the pid) tells it apart from any other shell.
cp "$(command -v bash)" "$tmp/tarv"
cat >"$tmp/stub.sh" <<'STUB'
case $1 in
  run) trap 'exit 0' INT ;;
  ignore-int) trap '' INT ;;
  exit) exit 1 ;;
esac
while :; do sleep 1 & wait $!; done
STUB
sed -e "s#@TARV_DAEMON@#$tmp/tarv#g" -e "s#@TARV_PIDFILE@#$tmp/pid#g" -e "s#@TARV_DEFAULTS@#$tmp/default#g" \
  "$template" >"$tmp/init"
chmod +x "$tmp/init"

mode() { printf 'DAEMON_ARGS="%s %s"\nSTOP_TIMEOUT=1\nSTART_CHECK=1\n' "$tmp/stub.sh" "$1" >"$tmp/default"; }
dead_pid() { true & local p=$!; wait "$p"; echo "$p"; }

# Setups
setup_none() { :; }
setup_stale_dead() { dead_pid >"$tmp/pid"; }
setup_stale_other() { sleep 60 & others+=($!); echo $! >"$tmp/pid"; }
setup_ignore_int() { mode ignore-int; }
setup_exit() { mode exit; }
setup_run() { mode run; }
setup_uninstalled() { mv "$tmp/tarv" "$tmp/tarv.away"; }
setup_installed() { mv "$tmp/tarv.away" "$tmp/tarv"; }

# Checks after the action
alive() { [[ -f $tmp/pid ]] && [[ $(readlink "/proc/$(cat "$tmp/pid")/exe") == "$tmp/tarv" ]]; }
check_none() { :; }
check_running() { alive && started_pid=$(cat "$tmp/pid"); }
check_same_pid() { alive && [[ $(cat "$tmp/pid") == "$started_pid" ]] && [[ $(pgrep -c -f "$tmp/stub.sh") == 1 ]]; }
check_stopped() { [[ ! -e $tmp/pid ]] && ! pgrep -f "$tmp/stub.sh" >/dev/null; }
check_other_alive() { check_stopped && kill -0 "${others[-1]}"; }
check_pidfile_kept() { [[ -e $tmp/pid ]]; }

# setup          action        rc  check
rows=(
  "run            status         3  stopped"
  "none           stop           0  stopped"
  "none           start          0  running"
  "none           status         0  running"
  "none           start          0  same_pid"
  "none           restart        0  running"
  "none           stop           0  stopped"
  "none           try-restart    0  stopped"
  "none           start          0  running"
  "none           try-restart    0  running"
  "none           stop           0  stopped"
  "stale_dead     status         1  pidfile_kept"
  "none           stop           0  stopped"
  "stale_dead     start          0  running"
  "none           stop           0  stopped"
  "stale_other    status         1  pidfile_kept"
  "none           stop           0  other_alive"
  "stale_other    start          0  running"
  "none           stop           0  other_alive"
  "ignore_int     start          0  running"
  "none           stop           0  stopped"
  "exit           start          1  stopped"
  "run            reload         3  none"
  "none           frobnicate     2  none"
  "uninstalled    stop           0  none"
  "none           status         3  none"
  "none           start          5  stopped"
  "installed      start          0  running"
  "none           stop           0  stopped"
)

passed=0 failed=0 started_pid=
for row in "${rows[@]}"; do
  read -r setup action want check <<<"$row"
  "setup_$setup"
  out=$("$tmp/init" "$action" 2>&1)
  rc=$?
  if [[ $rc == "$want" ]] && "check_$check"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: after '$setup', '$action' gave $rc (want $want), check '$check': $out"
  fi
done
echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
