# Sourced by the scripts: where wine lives and how it is set up for this project.
# The prefix lies outside the work tree so that a clean clone reuses it.
export WINE=${WINE:-/usr/lib/wine/wine64}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-vell}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the tests need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The 32-bit loader (wine32), for the shipped 32-bit builds; the same prefix and server.
export WINE32=${WINE32:-/usr/lib/wine/wine}
