// Finding, loading and binding TVQENC.DLL.
#include "encoder_library.h"

#include <windows.h>

#include <cstring>

namespace {

HMODULE library = nullptr;

constexpr char kLibraryName[] = "TVQENC.DLL";

// Loads TVQENC.DLL from the directory of the given module (null: the executable).
HMODULE LoadBeside(HMODULE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return nullptr;  // failed or cut short
  char* slash = std::strrchr(path, '\\');
  if (!slash) return nullptr;
  if (static_cast<size_t>(slash + 1 - path) + sizeof kLibraryName > sizeof path) return nullptr;
  std::memcpy(slash + 1, kLibraryName, sizeof kLibraryName);
  return LoadLibraryA(path);
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
  if (!library) library = LoadLibraryA(kLibraryName);
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
