// The library's exports, by ordinal only (wmaudsdk.def), and its start-up: the Linux
// half is found when the DLL is attached.
#include "creators.h"
#include "unix_bridge.h"

namespace wmasdk {

char* CheckedUnixPath(const WCHAR* path, bool forWriting, HRESULT* result) {
  HANDLE file = forWriting
      ? CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
      : CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *result = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    return nullptr;
  }
  CloseHandle(file);
  char* unixPath = UnixPath(path);
  *result = unixPath ? S_OK : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return unixPath;
}

}  // namespace wmasdk

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    wmasdk::ConnectUnixHalf(instance);  // without it every creation call fails
  }
  return TRUE;
}

HRESULT WINAPI WmaCreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader,
                               DWORD) {
  return wmasdk::CreateReader(path, callback, reader);
}

HRESULT WINAPI WmaCreateWriter(const WCHAR* path, WmaWriter** writer) {
  return wmasdk::CreateWriter(path, writer);
}

HRESULT WINAPI WmaCreateInfo(const WCHAR* path, WmaInfo** info) {
  return wmasdk::CreateInfo(path, info);
}

}  // extern "C"
