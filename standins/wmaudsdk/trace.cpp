#include "trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace vwma {
namespace {
SRWLOCK g_traceLock = SRWLOCK_INIT;
}

void Trace::Line(const char* format, ...) const {
  if (path_.empty()) return;
  char line[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 2) n = sizeof line - 2;
  line[n++] = '\n';

  AcquireSRWLockExclusive(&g_traceLock);
  HANDLE file = CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&g_traceLock);
}

}  // namespace vwma
