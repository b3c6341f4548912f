#!/usr/bin/env bash
# win32-check.sh [COMMAND ARGS...]
# Can this machine run 32-bit Windows programs? Yes: runs COMMAND (or exits 0 without one).
# No: prints a "not run" line with the reason and exits 77, the win32 tests' skip code, so
# that CTest reports them as not run rather than passed or failed.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
vell_wine32_locale

why=
if [ ! -x "$WINE32" ]; then
  why="no 32-bit wine loader at $WINE32 (scripts/setup.sh installs wine32:i386)"
elif ! "$WINE32" --version >/dev/null 2>&1; then
  why="this kernel does not run the i386 program $WINE32 (no native support, no emulation registered)"
elif [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  why="the prefix $WINEPREFIX has no 32-bit part (remove it and run scripts/setup.sh)"
fi
if [ -n "$why" ]; then
  echo "not run: 32-bit Windows programs cannot run here: $why"
  exit 77
fi
[ $# -eq 0 ] || exec "$@"
