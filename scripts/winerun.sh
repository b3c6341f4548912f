#!/usr/bin/env bash
# CTest's emulator for the win64 preset: runs a Windows program under wine64
# with the project's prefix. Start the display and the wineserver first
# (scripts/wine-session.sh) so that every test shares them.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
vell_wine_exec "$WINE" "$@"
