#!/usr/bin/env bash
# Builds the PEAQ measure (GstPEAQ, third_party/gstpeaq/, LGPL-2 or later; ITU-R BS.1387 basic
# and advanced versions as a GStreamer element and its `peaq` command) once per machine
# into a cache outside the checkout, installing GStreamer's development packages first.
# Prints the folder holding `peaq`, `peaq-movs` (the same, printing every model output variable)
# and the plug-in (set GST_PLUGIN_PATH to it).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
src=$root/third_party/gstpeaq/src
packages=(python3-numpy libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-good gstreamer1.0-plugins-base pkg-config gcc)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq >&2 || echo "build-peaq: apt-get update reported errors; going on" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
key=$(cat "$src"/*.c "$src"/*.h | sha256sum | cut -c1-12)
out=${VELL_CACHE:-$HOME/.cache/vell}/gstpeaq-$key
if [ ! -x "$out/peaq" ]; then
  mkdir -p "$out"
  cat > "$out/config.h" <<'H'
#define PACKAGE "gstpeaq"
#define PACKAGE_NAME "GstPEAQ"
#define PACKAGE_VERSION "0.6.1"
#define PACKAGE_STRING "GstPEAQ 0.6.1"
#define PACKAGE_BUGREPORT "martin.holters@hsu-hh.de"
#define PACKAGE_URL "http://ant.hsu-hh.de/gstpeaq"
H
  flags=$(pkg-config --cflags gstreamer-1.0 gstreamer-base-1.0 gstreamer-fft-1.0)
  libs=$(pkg-config --libs gstreamer-1.0 gstreamer-base-1.0 gstreamer-fft-1.0)
  # shellcheck disable=SC2086
  gcc -O2 -fPIC -shared -DHAVE_CONFIG_H -I"$out" -I"$src" $flags \
    "$src"/{gstpeaq,gstpeaqplugin,earmodel,leveladapter,modpatt,fftearmodel,fbearmodel,movaccum,movs,nn}.c \
    $libs -lm -o "$out/libgstpeaq.so" >&2
  # shellcheck disable=SC2086
  gcc -O2 -DHAVE_CONFIG_H -I"$out" -I"$src" $flags "$src/peaq.c" $(pkg-config --libs gstreamer-1.0) \
    -o "$out/peaq" >&2
fi
# The same command with the element's console output on: it prints every model output variable
# before the grade (bench/peaq_movs.py reads them).
if [ ! -x "$out/peaq-movs" ]; then
  sed 's/"console_output", FALSE/"console_output", TRUE/' "$src/peaq.c" > "$out/peaq-movs.c"
  grep -q '"console_output", TRUE' "$out/peaq-movs.c"
  flags=$(pkg-config --cflags gstreamer-1.0 gstreamer-base-1.0 gstreamer-fft-1.0)
  # shellcheck disable=SC2086
  gcc -O2 -DHAVE_CONFIG_H -I"$out" -I"$src" $flags "$out/peaq-movs.c" $(pkg-config --libs gstreamer-1.0) \
    -o "$out/peaq-movs" >&2
fi
echo "$out"
