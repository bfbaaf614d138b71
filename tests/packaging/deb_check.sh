#!/usr/bin/env bash
# A built package as an image builder meets it: lintian reports no error,
# and it installs into a throw-away root with its maintainer scripts run
# for that root (dpkg --root, scripts without chroot and with DPKG_ROOT):
# the daemon is registered for boot there and the host is left alone. An
# integrator's disable survives an upgrade; purge undoes the registration.
# usage: deb_check.sh DEB
set -uo pipefail
deb=$(realpath "$1")
tmp=$(mktemp -d /tmp/tarv-deb-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
check() { # description, command...
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}

if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$tmp/lintian.txt" 2>&1
  cat "$tmp/lintian.txt"
  check "lintian: no error" [ "$(grep -c '^E: ' "$tmp/lintian.txt")" = 0 ]
else
  check "lintian is installed (scripts/bootstrap.sh)" false
fi

root=$tmp/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
host_before=$(ls /etc/rc2.d /etc/systemd/system/multi-user.target.wants 2>/dev/null)
dpkg_root() { dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root "$@" >>"$tmp/dpkg.log" 2>&1; }
enabled() {
  compgen -G "$root/etc/rc2.d/S*tarv" >/dev/null ||
    [[ -L $root/etc/systemd/system/multi-user.target.wants/tarv.service ]]
}

check "installs into a throw-away root" dpkg_root -i "$deb"
check "the daemon is there" test -x "$root/usr/sbin/tarv"
check "registered for boot in that root" enabled
check "the IPC configuration is a configuration file" grep -q /etc/iipc.json "$root/var/lib/dpkg/info/tarv.conffiles"
# The integrator disables it; an upgrade (the same package again) keeps that.
rm -f "$root"/etc/rc[2-5].d/S*tarv "$root/etc/systemd/system/multi-user.target.wants/tarv.service"
if [[ -d $root/var/lib/systemd/deb-systemd-helper-enabled ]]; then
  find "$root/var/lib/systemd/deb-systemd-helper-enabled" -name 'tarv.service*' -path '*wants*' -delete
fi
DPKG_ROOT=$root update-rc.d tarv disable >>"$tmp/dpkg.log" 2>&1 || true
check "an upgrade installs" dpkg_root -i "$deb"
check "an upgrade keeps the integrator's disable" bash -c "! compgen -G '$root/etc/rc2.d/S*tarv'"
check "removes" dpkg_root -r tarv
check "purges" dpkg_root -P tarv
check "purge forgets the registration" bash -c "! compgen -G '$root/etc/rc?.d/*tarv'"
check "the host's start-up links are untouched" [ "$(ls /etc/rc2.d /etc/systemd/system/multi-user.target.wants 2>/dev/null)" = "$host_before" ]

[[ $failed == 0 ]] || { echo "--- dpkg"; cat "$tmp/dpkg.log"; }
echo "package: $passed checks passed, $failed failed"
[[ $failed == 0 ]]
