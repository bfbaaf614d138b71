#!/bin/sh
# Merges the per-interface resolver files under /run/resolvconf/interface/
# into /etc/resolv.conf: every name server once, in file order, and the
# search domains. The file is replaced atomically.
set -eu
dir=/run/resolvconf/interface
target=/etc/resolv.conf
tmp=$target.setresolv.$$
trap 'rm -f "$tmp"' EXIT
{
  cat "$dir"/* 2>/dev/null | awk '$1 == "search" { for (i = 2; i <= NF; i++) if (!seen["s" $i]++) s = s " " $i }
    END { if (s != "") print "search" s }'
  cat "$dir"/* 2>/dev/null | awk '$1 == "nameserver" && NF == 2 && !seen[$2]++ && n++ < 3 { print "nameserver " $2 }'
} >"$tmp"
mv "$tmp" "$target"
trap - EXIT
