// Unloading TVQENC.DLL. The C++ runtime linked into the library keeps a pool (about 72 KB)
// for exceptions thrown when memory runs out; it is taken from the process heap when the
// library loads and the runtime never gives it back. A host that loads and frees the library
// for every export would lose it each time, so the library returns it when it is freed.
// At process exit (reserved != null) nothing is freed: the heap goes with the process.
#include <windows.h>

namespace __gnu_cxx {
void __freeres();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
  return TRUE;
}
