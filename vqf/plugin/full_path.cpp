#include "full_path.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace vqf {

std::string FullPath(const char* fileName) {
#if defined(_WIN32)
  const DWORD needed = GetFullPathNameA(fileName, 0, nullptr, nullptr);
  if (needed == 0) return fileName;
  std::string full(needed, '\0');
  const DWORD length = GetFullPathNameA(fileName, needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return fileName;
  full.resize(length);
  return full;
#else
  if (fileName[0] == '/') return fileName;
  char* directory = getcwd(nullptr, 0);
  if (!directory) return fileName;
  std::string full;
  try {
    full = std::string(directory) + "/" + fileName;
  } catch (...) {
    free(directory);
    throw;
  }
  free(directory);
  return full;
#endif
}

}  // namespace vqf
