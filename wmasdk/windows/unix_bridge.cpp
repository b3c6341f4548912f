// wine joins a builtin DLL with the shared object of the same name in the x86_64-unix
// folder beside it. The Windows half calls it through ntdll's dispatcher with the handle
// that NtQueryVirtualMemory's wine-only class MemoryWineUnixFuncs (1000) returns for the
// module. Neither is declared by mingw's headers, nor is kernel32's
// wine_get_unix_file_name: all three are looked up by name.
#include "unix_bridge.h"

#include <stdint.h>

namespace wmasdk {
namespace {

typedef uint64_t UnixLibHandle;
typedef LONG(WINAPI* UnixCallDispatcher)(UnixLibHandle, unsigned int, void*);
typedef LONG(WINAPI* NtQueryVirtualMemoryProc)(HANDLE, void*, int, void*, SIZE_T, SIZE_T*);
typedef char*(CDECL* UnixFileNameProc)(const WCHAR*);

constexpr int kMemoryWineUnixFuncs = 1000;

UnixCallDispatcher g_dispatcher = nullptr;
UnixLibHandle g_handle = 0;
UnixFileNameProc g_unixFileName = nullptr;

}  // namespace

bool ConnectUnixHalf(HMODULE self) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (!ntdll || !kernel32) return false;
  // ntdll exports the dispatcher as a variable holding the function's address.
  auto* slot = reinterpret_cast<UnixCallDispatcher*>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "__wine_unix_call_dispatcher")));
  auto query = reinterpret_cast<NtQueryVirtualMemoryProc>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryVirtualMemory")));
  g_unixFileName = reinterpret_cast<UnixFileNameProc>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
  if (!slot || !*slot || !query || !g_unixFileName) return false;
  UnixLibHandle handle = 0;
  if (query(GetCurrentProcess(), self, kMemoryWineUnixFuncs, &handle, sizeof handle, nullptr) != 0 ||
      !handle)
    return false;
  g_handle = handle;
  g_dispatcher = *slot;
  return true;
}

bool UnixHalfConnected() { return g_dispatcher != nullptr; }

bool CallUnix(WmaBridgeCall call, void* record) {
  return g_dispatcher && g_dispatcher(g_handle, static_cast<unsigned int>(call), record) == 0;
}

char* UnixPath(const WCHAR* path) { return g_unixFileName ? g_unixFileName(path) : nullptr; }

void FreeUnixPath(char* path) {
  if (path) HeapFree(GetProcessHeap(), 0, path);
}

HRESULT FromBridgeResult(int32_t result) {
  switch (result) {
    case kBridgeOk: return S_OK;
    case kBridgeNoFile: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case kBridgeDenied: return E_ACCESSDENIED;
    case kBridgeDiskFull: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case kBridgeRefused: return E_INVALIDARG;
    case kBridgeWrongState: return E_UNEXPECTED;
    case kBridgeNoMemory: return E_OUTOFMEMORY;
    default: return E_FAIL;
  }
}

}  // namespace wmasdk
