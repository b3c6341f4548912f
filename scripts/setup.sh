#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's archive and prepares the wine prefix.
# Does nothing that is already done, so it is cheap to call before every build.
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  googletest
  wine64 wine
  xvfb xauth x11-utils
  ffmpeg
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev pkg-config
  dpkg-dev xz-utils debian-archive-keyring nasm
  clang-14 libclang-rt-14-dev
  python3 curl ca-certificates
  espeak-ng
  python3-numpy
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in mid-sync fails one index now and then; the install below says what is missing.
  "${sudo_cmd[@]}" apt-get update -qq || echo "setup: apt-get update reported errors; going on with the lists at hand" >&2
  # --no-install-recommends keeps wine64 from pulling in the i386 packages.
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
# wine32 for the shipped 32-bit builds (never fatal: without it the win32 tests do not run).
bash "$here/setup-win32.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "setup: preparing the wine prefix $WINEPREFIX (once)"
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER" -w || true
fi
