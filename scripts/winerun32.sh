#!/usr/bin/env bash
# Runs a 32-bit Windows program under wine32 with the project's prefix (the win32 preset's
# tests). Start the display and the wineserver first (scripts/wine-session.sh); where the
# kernel cannot run i386 code, the loader runs under user-mode emulation (scripts/setup-win32.sh).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
exec "$WINE32" "$@"
