#!/usr/bin/env bash
# Called by setup.sh before it makes the wine prefix: prepares this machine to run the shipped
# 32-bit builds (the win32 preset's tests). Installs wine32 from Debian's i386 archive; where
# the kernel refuses i386 programs, registers qemu's user-mode emulation for them; and removes
# a prefix made without the 32-bit part, so that setup.sh makes it again with both. Says plainly
# when the machine cannot: the win32 tests then do not run, and the test command fails. Cheap
# when all is done.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
vell_wine32_locale
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

cannot() {
  echo "setup: 32-bit Windows programs cannot run on this machine: $*"
  echo "setup: the win32 preset's run tests will not run, and scripts/test.sh will fail for it"
  exit 0
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# apt's update, its output kept: the indexes it could not fetch are read from it.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
apt_update() {
  "${sudo_cmd[@]}" apt-get update -qq >"$update_log" 2>&1 && return 0
  cat "$update_log" >&2
  echo "setup-win32: apt-get update reported errors; going on" >&2
}

# The archive has served an i386 index that its signed Release does not list (an older copy of
# bookworm-security's, for days). apt then drops that index, finds no i386 twins for the amd64
# libraries that came from that suite, and wine32 does not resolve. The fallback: fetch each
# i386 Packages index apt refused over HTTPS from the same host (trusting that host's
# certificate instead of the archive's signature, for the index alone), check that it is a
# Packages index for i386 under that suite, and place it in apt's lists. apt still checks every
# package it downloads against the hashes in the index.
place_refused_i386_indexes() {
  local lists url https name tmp placed=0
  lists=$(apt-config shell d Dir::State::Lists/d | sed -E "s/^d='(.*)'$/\1/")
  [ -d "$lists" ] || return 1
  for url in $(grep -oE "Failed to fetch https?://[^ ]+/binary-i386/Packages(\.xz|\.gz)?" "$update_log" \
               | awk '{print $4}' | sort -u); do
    https=https://${url#*://}
    name=$(sed -E 's#^https?://##; s#/#_#g' <<<"$url")
    tmp=$(mktemp)
    if ! curl -fsS --max-time 120 -o "$tmp" "$https"; then
      echo "setup-win32: could not fetch $https" >&2; rm -f "$tmp"; continue
    fi
    case $url in
      *.xz) decompress=(xz -dc) ;;
      *.gz) decompress=(gzip -dc) ;;
      *) decompress=(cat) ;;
    esac
    # A real index: decompresses whole, lists i386 packages and nothing of another architecture.
    if ! "${decompress[@]}" "$tmp" >"$tmp.txt" 2>/dev/null \
       || ! grep -q '^Architecture: i386$' "$tmp.txt" \
       || grep -E '^Architecture: ' "$tmp.txt" | grep -qvE '^Architecture: (i386|all)$'; then
      echo "setup-win32: $https is not an i386 Packages index; not used" >&2
      rm -f "$tmp" "$tmp.txt"; continue
    fi
    echo "setup-win32: WARNING: apt refused $url (it does not match the archive's signed Release);" >&2
    echo "setup-win32: WARNING: using the copy fetched over HTTPS from the same host, unverified by the archive's key" >&2
    "${sudo_cmd[@]}" install -m 644 "$tmp" "$lists/$name"
    rm -f "$tmp" "$tmp.txt"
    placed=1
  done
  [ $placed -eq 1 ]
}

install_wine32() {
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends wine32:i386
}

if ! installed wine32:i386; then
  echo "setup: installing wine32:i386"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386 || cannot "dpkg --add-architecture i386 failed"
  fi
  apt_update
  # The archive's hosts have answered with a signed Release of another day from one hour to
  # the next: a refused i386 index is first asked for again, which apt verifies as ever.
  for wait in 20 40; do
    grep -qE "Failed to fetch https?://[^ ]+/binary-i386/" "$update_log" || break
    echo "setup-win32: an i386 index was refused; asking again in $wait s" >&2
    sleep "$wait"
    apt_update
  done
  if ! install_wine32; then
    place_refused_i386_indexes || cannot "wine32:i386 did not install"
    echo "setup: installing wine32:i386 again with the fetched index"
    install_wine32 || cannot "wine32:i386 did not install, even with the fetched index"
  fi
fi

# The loader is an i386 program: run it natively, or else through qemu-i386. The F flag opens
# the emulator when it is registered, so it also works inside other mount namespaces.
if ! "$WINE32" --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  installed qemu-user-static || "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends qemu-user-static \
    || cannot "qemu-user-static did not install"
  [ -e $binfmt/register ] || "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc $binfmt \
    || cannot "binfmt_misc cannot be mounted (a container without the right to?)"
  if [ ! -e $binfmt/qemu-i386 ]; then
    echo "setup: registering qemu-i386 for i386 programs"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      | "${sudo_cmd[@]}" tee $binfmt/register >/dev/null || cannot "qemu-i386 could not be registered"
  elif ! grep -qx enabled $binfmt/qemu-i386; then
    echo 1 | "${sudo_cmd[@]}" tee $binfmt/qemu-i386 >/dev/null || cannot "qemu-i386 is registered but disabled"
  fi
  "$WINE32" --version >/dev/null 2>&1 || cannot "$WINE32 does not start even under qemu-i386"
fi

# A prefix made before wine32 was present has no 32-bit part, and wineboot's update does not
# add one: it is made again (natively, by wine64; under emulation the making crashed).
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "setup: the wine prefix $WINEPREFIX has no 32-bit part: making it again"
  "$WINESERVER" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
fi
