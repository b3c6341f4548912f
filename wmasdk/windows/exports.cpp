// The library's exports, by ordinal only (wmaudsdk.def), and the path and result
// conversions the objects share. FFmpeg is linked in statically: the DLL needs nothing
// beyond Windows' own libraries.
#include "creators.h"
#include "object_ops.h"

namespace wmasdk {

char* CheckedPath(const WCHAR* path, bool forWriting, HRESULT* result) {
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
  const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, nullptr, 0, nullptr, nullptr);
  char* utf8 = bytes > 0 ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(bytes))) : nullptr;
  if (!utf8 || WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, utf8, bytes, nullptr, nullptr) != bytes) {
    FreePath(utf8);
    *result = bytes > 0 ? E_OUTOFMEMORY : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    return nullptr;
  }
  *result = S_OK;
  return utf8;
}

void FreePath(char* path) {
  if (path) HeapFree(GetProcessHeap(), 0, path);
}

HRESULT FromCoreResult(int32_t result) {
  switch (result) {
    case wmacore::kOk: return S_OK;
    case wmacore::kNoFile: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case wmacore::kDenied: return E_ACCESSDENIED;
    case wmacore::kDiskFull: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case wmacore::kRefused: return E_INVALIDARG;
    case wmacore::kWrongState: return E_UNEXPECTED;
    case wmacore::kNoMemory: return E_OUTOFMEMORY;
    case wmacore::kProtected: return HRESULT_FROM_WIN32(ERROR_ACCESS_DISABLED_BY_POLICY);
    default: return E_FAIL;
  }
}

}  // namespace wmasdk

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

HRESULT WINAPI WmaCreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader,
                               DWORD) {
  return wmasdk::Guarded([&] { return wmasdk::CreateReader(path, callback, reader); });
}

HRESULT WINAPI WmaCreateWriter(const WCHAR* path, WmaWriter** writer) {
  return wmasdk::Guarded([&] { return wmasdk::CreateWriter(path, writer); });
}

HRESULT WINAPI WmaCreateInfo(const WCHAR* path, WmaInfo** info) {
  return wmasdk::Guarded([&] { return wmasdk::CreateInfo(path, info); });
}

}  // extern "C"
