#!/usr/bin/env bash
# Hostile scenario: broken configuration sources at run time. Each form
# takes network.json's place while the daemon is Enabled, a validation is
# requested, and the daemon must refuse it (or report the error) without
# crashing or hanging, answer a state request at once, and take the good
# file back, with the system files it wrote as before (no defaults applied on
# the way). Prints the table: tried / refused / accepted / crash / hang /
# data lost.
# shellcheck source=tests/station/common.sh
source "$(dirname "$0")/common.sh"
require_ctl validate
station_bring_up 60 || fail "did not reach Enabled"
config=$STATION_ROOT/etc/config
good=$(mktemp)
cp "$config/network.json" "$good"
ctl() { timeout 20 "$STATION_BUILD/tools/tarvctl/tarvctl" --root "$STATION_ROOT" "$@" >/dev/null 2>&1; }
# What the daemon wrote from the good configuration.
written() { (cd "${STATION_ROOT}etc" && md5sum network/interfaces hostapd.conf wpa_supplicant.conf 2>/dev/null); }
wait_links_settled
before=$(written)
nested=$(printf '{"a": %*s' 5000 '' | tr ' ' '[')$(printf '%*s}' 5000 '' | tr ' ' ']')

make_form() { # NAME: puts that form where network.json was
  local path=$config/network.json
  rm -rf "$path"
  case $1 in
    garbled) printf '{"TarvEthEnable": tru' >"$path" ;;
    truncated) head -c 10 "$good" >"$path" ;;
    empty) : >"$path" ;;
    nested) printf '%s' "$nested" >"$path" ;;
    wrong-type) printf '{"TarvEthEnable": "yes", "TarvEthDhcpEnable": 1}' >"$path" ;;
    array) printf '[true]' >"$path" ;;
    directory) mkdir "$path" ;;
    fifo) mkfifo "$path" ;;
    link-to-directory) ln -s "$config" "$path" ;;
    dangling-link) ln -s "$config/none.json" "$path" ;;
    deleted) ;;
  esac
}

tried=0 refused=0 accepted=0 crash=0 hang=0 lost=0
for form in garbled truncated empty nested wrong-type array directory fifo link-to-directory dangling-link deleted; do
  ((tried++))
  make_form "$form"
  sleep 1 # past the source's settle time, so the form counts
  ctl validate
  rc=$?
  if [[ -e $out/tarv.rc ]]; then
    ((crash++))
    echo "$form: the daemon ended (exit $(<"$out/tarv.rc"))"
    break
  fi
  if ((rc == 124)) || ! ctl state; then
    ((hang++))
    echo "$form: no answer within 20 s"
  elif ((rc == 0)); then
    ((accepted++))
    echo "$form: accepted"
  else
    ((refused++))
  fi
  rm -rf "$config/network.json"
  cp "$good" "$config/network.json"
  sleep 1
  ctl validate
  if [[ $(written) != "$before" ]]; then
    ((lost++))
    echo "$form: the system files changed: $(diff <(echo "$before") <(written) | grep '^>' | xargs)"
    before=$(written)
  fi
done
rm -f "$good"
printf '%-8s %-8s %-9s %-6s %-5s %-9s\n' tried refused accepted crash hang "data lost"
printf '%-8s %-8s %-9s %-6s %-5s %-9s\n' "$tried" "$refused" "$accepted" "$crash" "$hang" "$lost"
((crash == 0 && hang == 0 && accepted == 0 && lost == 0)) ||
  fail "broken sources: $crash crashes, $hang hangs, $accepted accepted, $lost with system files changed"
ctl state || fail "no answer to a state request at the end"
echo "hostile sources: $tried forms refused without a crash or a hang"
