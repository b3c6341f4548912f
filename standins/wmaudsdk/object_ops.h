// Operations every stand-in object shares: QueryInterface (no interfaces offered),
// reference counting, and the slots nobody calls. An object type derives from the
// interface record (whose first word is the operation table) and holds 'refs' and 'trace'.
#pragma once

#include "trace.h"

#include <windows.h>

namespace vwma {

template <class Interface>
HRESULT WINAPI NoInterface(Interface* self, const GUID*, void** out) {
  if (out) *out = nullptr;
  static_cast<void>(self);
  return E_NOINTERFACE;
}

inline HRESULT WINAPI NotImplemented(void*) { return E_NOTIMPL; }

template <class Object, class Interface>
ULONG WINAPI AddRefObject(Interface* self) {
  auto* object = static_cast<Object*>(self);
  const LONG count = InterlockedIncrement(&object->refs);
  object->trace.Line("AddRef %ld", count);
  return static_cast<ULONG>(count);
}

template <class Object, class Interface>
ULONG WINAPI ReleaseObject(Interface* self) {
  auto* object = static_cast<Object*>(self);
  const Trace trace = object->trace;  // another thread may free the object after our decrement
  const LONG count = InterlockedDecrement(&object->refs);
  trace.Line("Release %ld", count);
  if (count == 0) delete object;
  return static_cast<ULONG>(count);
}

// A creation call's failure code for a Windows error (never 0).
inline HRESULT FromLastError() {
  const DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace vwma
