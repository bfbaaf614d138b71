#!/bin/sh
# Merges the per-interface resolver files under /run/resolvconf/interface/
# into /etc/resolv.conf: every name server once, in file order, and the
# search domains. The file is replaced atomically.
# Each interface may have two files: <if>.udhcpc, the DHCP client's (rewritten
# at every lease renewal), and <if>.tarv, the network manager's (static or
# mobile network servers). While <if>.tarv exists it stands in place of
# <if>.udhcpc, so a renewal cannot bring back servers the manager replaced.
# SETRESOLV_ROOT, for tests only, puts both directories under another root.
set -eu
dir=${SETRESOLV_ROOT:-}/run/resolvconf/interface
target=${SETRESOLV_ROOT:-}/etc/resolv.conf
tmp=$target.setresolv.$$
trap 'rm -f "$tmp"' EXIT
files=
for file in "$dir"/*; do
  [ -f "$file" ] || continue
  case $file in
    *.udhcpc) [ -e "${file%.udhcpc}.tarv" ] && continue ;;
  esac
  files="$files $file"
done
{
  # shellcheck disable=SC2086 # the list is split on purpose (interface names have no blanks)
  [ -z "$files" ] || cat $files | awk '$1 == "search" { for (i = 2; i <= NF; i++) if (!seen["s" $i]++) s = s " " $i }
    END { if (s != "") print "search" s }'
  # shellcheck disable=SC2086
  [ -z "$files" ] || cat $files | awk '$1 == "nameserver" && NF == 2 && !seen[$2]++ && n++ < 3 { print "nameserver " $2 }'
} >"$tmp"
mv "$tmp" "$target"
trap - EXIT
