// Spaces out the starts of the test programs' own threads when VELL_THREAD_STAGGER_MS asks
// for it (scripts/winerun32.sh does). Under user-mode emulation, threads that started at the
// same moment crashed wine's loader; a thread started a little after the one before ran.
// Natively and under wine64 the variable is unset and nothing waits.
#pragma once

#include <windows.h>

#include <cstdlib>

inline void StaggerThreadStart() {
  static const DWORD ms = [] {
    char text[16] = {};
    const DWORD n = GetEnvironmentVariableA("VELL_THREAD_STAGGER_MS", text, sizeof text);
    return n > 0 && n < sizeof text ? static_cast<DWORD>(std::strtoul(text, nullptr, 10)) : 0;
  }();
  if (ms) Sleep(ms);
}
