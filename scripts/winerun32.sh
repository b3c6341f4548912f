#!/usr/bin/env bash
# Runs a 32-bit Windows program under wine32 with the project's prefix (the win32 preset's
# tests). Start the display and the wineserver first (scripts/wine-session.sh); where the
# kernel cannot run i386 code, the loader runs under user-mode emulation (scripts/setup-win32.sh).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-env.sh"
# Under emulation, threads that start close together crashed wine (a reader thread and the
# next thread at once crashed every time; spaced out they ran): the test programs space
# out the starts of their own threads (tests/common/thread_stagger.h).
export VELL_THREAD_STAGGER_MS=${VELL_THREAD_STAGGER_MS:-500}
vell_wine32_locale
vell_wine_exec "$WINE32" "$@"
