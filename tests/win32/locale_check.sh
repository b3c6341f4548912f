#!/usr/bin/env bash
# locale_check.sh WINERUN32 PROGRAM: the 32-bit program starts and handles non-ASCII file
# names whatever locale the caller has; the Unix names come out in UTF-8.
set -u
winerun32=$1 program=$2
work=$(mktemp -d /tmp/vell-locale.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
for caller in "LANG=C.UTF-8" "LANG=C LC_ALL=C" "LC_CTYPE=C.UTF-8" "LANG=POSIX LC_ALL=POSIX" "LANG=de_DE.ISO-8859-1"; do
  rm -f "$work"/name-*
  env -u LANG -u LC_ALL -u LC_CTYPE -u LANGUAGE $caller "$winerun32" "$program" "Z:${work//\//\\}" \
    > "$work/out" 2>&1
  rc=$?
  names=$(cd "$work" && ls name-* 2>/dev/null | tr '\n' ' ')
  wanted="name-éü.txt name-éüł.txt "
  if [ $rc -ne 0 ] || [ "$names" != "$wanted" ]; then
    echo "FAIL caller $caller: exit $rc, files: $names"; cat "$work/out"; status=1
  else
    echo "caller $caller: $(tr -d '\r' < "$work/out")"
  fi
done
exit $status
