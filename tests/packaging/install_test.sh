#!/usr/bin/env bash
# The install rules and the Debian package of a configured, built tree:
# the installed file list, the paths the start-up files name, a kept IPC
# configuration, and the package's files, control data and dependencies.
# usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/tarv-install-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
case $prefix in
  / | /usr) etc=/etc ;;
  *) etc=$prefix/etc ;;
esac
prefix=${prefix%/}

passed=0 failed=0
check() { # description, command...
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}
same() { [[ $1 == "$2" ]] || { printf 'got:\n%s\nwant:\n%s\n' "$1" "$2"; return 1; }; }

# Only the daemon and tarvctl among the programs: `make package` builds no
# others, and an install rule for one would stop cpack.
doc=$prefix/share/doc/tarv
expected=$(printf '%s\n' "$etc/config/" "$etc/default/tarv" "$etc/iipc.json" "$etc/init.d/tarv" "$etc/insserv.conf.d/tarv" \
  "$prefix/bin/tarvctl" "$prefix/lib/systemd/system/tarv.service" "$prefix/sbin/tarv" \
  "$prefix/share/bash-completion/completions/tarvctl" "$prefix/share/man/man1/tarvctl.1.gz" \
  "$prefix/share/man/man8/tarv.8.gz" "$doc/changelog.gz" "$doc/copyright" \
  "$doc/examples/link-up" "$doc/examples/ntpd-update-status.sh" "$doc/examples/setresolv.sh" \
  "$doc/examples/udhcpc.script" | sort)
# Files and empty directories under a tree, as absolute paths.
listing() { (cd "$1" && { find . -type f -printf '/%P\n'; find . -mindepth 1 -type d -empty -printf '/%P/\n'; } | sort); }
has_all() { # text, words that must occur in it
  local text=$1 word
  shift
  for word; do [[ $text == *"$word"* ]] || { echo "'$word' missing in: $text"; return 1; }; done
}
stripped() { ! readelf -S "$1" | grep -q '\.symtab'; }
# The verbs tarvctl's help lists are the manual page's.
man_has_verbs() {
  local verbs
  verbs=$("$build/tools/tarvctl/tarvctl" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p')
  [[ -n $verbs ]] && same "$(zcat "$1" | sed -n '/^\.SH VERBS/,/^\.SH/s/^\\fB//p' | sed 's/\\fR.*//; s/\\-/-/g')" "$verbs"
}
# Every long option of the daemon's usage text is in its manual page.
man_has_options() {
  local option options
  options=$("$build/src/tarv" --help | grep -o -- '--[a-z]*')
  [[ -n $options ]] || return 1
  for option in $options; do
    zcat "$1" | grep -qF -- "${option//-/\\-}" || { echo "$option missing"; return 1; }
  done
}
no_placeholder() { ! grep -rq "@TARV_" "$1"; }

# Install into DESTDIR.
dest=$tmp/dest
DESTDIR=$dest cmake --install "$build" >"$tmp/install.log" 2>&1
check "cmake --install into DESTDIR" [ $? = 0 ]
check "installed files" same "$(listing "$dest")" "$expected"
check "programs and init script executable" test -x "$dest$prefix/sbin/tarv" -a -x "$dest$prefix/bin/tarvctl" -a -x "$dest$etc/init.d/tarv"
check "init script starts the installed daemon" grep -qx "DAEMON=$prefix/sbin/tarv" "$dest$etc/init.d/tarv"
check "unit starts the installed daemon" grep -q "^ExecStart=$prefix/sbin/tarv " "$dest$prefix/lib/systemd/system/tarv.service"
check "unit reads the defaults file" grep -qx "EnvironmentFile=-$etc/default/tarv" "$dest$prefix/lib/systemd/system/tarv.service"
check "tarv(8) has every option of the usage text" man_has_options "$dest$prefix/share/man/man8/tarv.8.gz"
check "man page lists every verb of the help" man_has_verbs "$dest$prefix/share/man/man1/tarvctl.1.gz"
check "unit stops with SIGINT" grep -qx "KillSignal=SIGINT" "$dest$prefix/lib/systemd/system/tarv.service"
check "no template placeholder left" no_placeholder "$dest"

# A station's own IPC configuration survives a second install.
echo '{"station": "edited"}' >"$dest$etc/iipc.json"
DESTDIR=$dest cmake --install "$build" >>"$tmp/install.log" 2>&1
check "edited iipc.json kept" same "$(cat "$dest$etc/iipc.json")" '{"station": "edited"}'

# The Debian package.
if (cd "$tmp" && cpack -G DEB -B "$tmp/pkg" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1); then
  deb=$(ls "$tmp"/pkg/*.deb)
  dpkg-deb -x "$deb" "$tmp/unpacked"
  check "package file list" same "$(listing "$tmp/unpacked")" "$expected"
  check "package name and version" same "$(dpkg-deb -f "$deb" Package Version)" "$(printf 'Package: tarv\nVersion: %s' "$version")"
  depends=$(dpkg-deb -f "$deb" Depends)
  check "dependencies from the shared libraries" has_all "$depends" libc6 libgrpc++ libprotobuf-lite libjsoncpp
  dpkg-deb -e "$deb" "$tmp/control"
  check "conffiles: every file under /etc" same "$(sort "$tmp/control/conffiles")" "$(grep "^$etc/.*[^/]$" <<<"$expected" | sort)"
  check "dependencies on the programs tarv runs" has_all "$depends" ifupdown iproute2 "udhcpc | busybox"
  check "a real maintainer address" bash -c "! dpkg-deb -f '$deb' Maintainer | grep -q localhost"
  check "package checks" bash "$(dirname "$0")/deb_check.sh" "$deb"
  check "maintainer scripts" test -x "$tmp/control/postinst" -a -x "$tmp/control/prerm" -a -x "$tmp/control/postrm"
  check "binaries stripped" stripped "$tmp/unpacked$prefix/sbin/tarv"
else
  check "cpack builds the package" false
  cat "$tmp/cpack.log"
fi

echo "install: $passed checks passed, $failed failed"
[[ $failed == 0 ]]
