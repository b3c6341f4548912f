#!/usr/bin/env bash
# start | stop: one X display and one persistent wineserver for a whole run of tests.
# Dialog tests need the display; every wine program of the run shares the server, so
# the prefix starts once. Wine's helpers inherit the output of whatever started them,
# so everything here starts with its output sent to /dev/null.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
state=${VELL_SESSION_STATE:-/tmp/vell-wine-session.$(id -u)}

case "${1:-}" in
start)
  display=${VELL_DISPLAY:-:99}
  if ! xdpyinfo -display "$display" >/dev/null 2>&1; then
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    echo "xvfb $!" > "$state"
    for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
  else
    : > "$state"
  fi
  export DISPLAY=$display
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
  # Bring up the prefix's services once, so the first test does not pay for it.
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null || true
  echo "export DISPLAY=$display"
  ;;
stop)
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ -f "$state" ]; then
    read -r kind pid < "$state" || true
    [ "${kind:-}" = xvfb ] && kill "$pid" 2>/dev/null || true
    rm -f "$state"
  fi
  ;;
*)
  echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
