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
# The 32-bit runs take one locale whatever the caller's: wine converts file names with the
# locale's character set, so non-ASCII names need UTF-8, and nothing else of the caller's
# locale (LANG, LC_*, LANGUAGE) reaches the 32-bit processes. Everything that starts wine32
# calls this first.
vell_wine32_locale() {
  {
    unset LANGUAGE LC_CTYPE LC_MESSAGES LC_NUMERIC LC_TIME LC_COLLATE LC_MONETARY
    export LANG=C.UTF-8 LC_ALL=C.UTF-8
  } 2>/dev/null  # bash's own complaint about a caller's locale it cannot load
}
# Starts a wine loader in place of the calling script, without address-space randomisation.
# Wine maps its shared user data at a fixed address, and Debian's loaders have no
# preloader to reserve it: with randomisation the loader's own heap now and then lands there
# first, and the program dies before it starts ("failed to map the shared user data",
# exit code 1, nothing else said). Without it the layout is the same on every start.
vell_wine_exec() {
  local arch
  arch=$(uname -m)
  if setarch "$arch" -R true 2>/dev/null; then
    exec setarch "$arch" -R "$@"
  fi
  exec "$@"
}
