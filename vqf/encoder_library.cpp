// Finding, loading and binding TVQENC.DLL.
#include "encoder_library.h"

#include <windows.h>

#include <cstring>

namespace {

HMODULE library = nullptr;

constexpr char kLibraryName[] = "TVQENC.DLL";

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Loads TVQENC.DLL by its full path in `folder` (the first `length` characters).
HMODULE LoadFrom(const char* folder, size_t length) {
  char path[MAX_PATH];
  while (length > 0 && (folder[length - 1] == '\\' || folder[length - 1] == '/')) --length;
  if (length == 0 || length + 1 + sizeof kLibraryName > sizeof path) return nullptr;
  std::memcpy(path, folder, length);
  path[length] = '\\';
  std::memcpy(path + length + 1, kLibraryName, sizeof kLibraryName);
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loads TVQENC.DLL from the directory of the given module (null: the executable).
HMODULE LoadBeside(HMODULE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return nullptr;  // failed or cut short
  const char* slash = std::strrchr(path, '\\');
  return slash ? LoadFrom(path, static_cast<size_t>(slash - path)) : nullptr;
}

// A folder named from the root (drive or network share): a relative one in PATH, or an
// empty one, would mean the current directory.
bool IsAbsolute(const char* folder, size_t length) {
  if (length >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/')) return true;
  return length >= 2 && folder[0] == '\\' && folder[1] == '\\';
}

// The system's folders and PATH, never the current directory (a TVQENC.DLL planted in the
// folder the user last opened a file from must not run). System32 by the safe search flag
// where the system has it; where it has not, the system folders by full path; then PATH's
// folders named from the root.
HMODULE LoadFromSystemFolders() {
  if (HMODULE h = LoadLibraryExA(kLibraryName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return h;
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, sizeof folder);
  if (length > 0 && length < sizeof folder)
    if (HMODULE h = LoadFrom(folder, length)) return h;
  length = GetWindowsDirectoryA(folder, sizeof folder);
  if (length > 0 && length < sizeof folder)
    if (HMODULE h = LoadFrom(folder, length)) return h;
  static char paths[32768];  // PATH's largest size; static: the open runs on the host's stack
  const DWORD total = GetEnvironmentVariableA("PATH", paths, sizeof paths);
  if (total == 0 || total >= sizeof paths) return nullptr;
  for (const char* at = paths; *at;) {
    const char* end = std::strchr(at, ';');
    const size_t n = end ? static_cast<size_t>(end - at) : std::strlen(at);
    const char* folderAt = at;
    size_t folderLength = n;
    if (folderLength >= 2 && folderAt[0] == '"' && folderAt[folderLength - 1] == '"') {
      ++folderAt;
      folderLength -= 2;
    }
    if (IsAbsolute(folderAt, folderLength))
      if (HMODULE h = LoadFrom(folderAt, folderLength)) return h;
    at += n + (end ? 1 : 0);
  }
  return nullptr;
}

template <typename Proc>
bool Bind(Proc& proc, const char* name) {
  proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return proc != nullptr;
}

}  // namespace

int LoadEncoderLibrary(void* module) {
  if (library) return 1;
  if (module) library = LoadBeside(static_cast<HMODULE>(module));
  if (!library) library = LoadBeside(nullptr);
  if (!library) library = LoadFromSystemFolders();
  if (!library) return 0;

  EncoderEntryPoints& e = encoderEntryPoints;
  if (Bind(e.TvqEncGetVectorInfo, "TvqEncGetVectorInfo") &&
      Bind(e.TvqEncGetConfInfo, "TvqEncGetConfInfo") &&
      Bind(e.TvqEncUpdateVectorInfo, "TvqEncUpdateVectorInfo") &&
      Bind(e.TvqEncGetFrameSize, "TvqEncGetFrameSize") &&
      Bind(e.TvqEncInitialize, "TvqEncInitialize") &&
      Bind(e.TvqGetVersionID, "TvqGetVersionID") &&
      Bind(e.TvqEncTerminate, "TvqEncTerminate") &&
      Bind(e.TvqEncodeFrame, "TvqEncodeFrame")) {
    return 1;
  }
  UnloadEncoderLibrary();
  return 0;
}

void UnloadEncoderLibrary() {
  if (library) FreeLibrary(library);
  library = nullptr;
  encoderEntryPoints = EncoderEntryPoints{};
}

void* EncoderLibraryHandle() { return library; }
