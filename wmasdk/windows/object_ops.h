// What every object of this library shares: no interfaces beyond its own, reference
// counting, and the table slots no caller uses. An object type derives from its
// interface record (whose first word is the operation table) and holds `refs`.
#pragma once

#include <windows.h>

namespace wmasdk {

template <class Interface>
HRESULT WINAPI NoInterface(Interface*, const GUID*, void** out) {
  if (out) *out = nullptr;
  return E_NOINTERFACE;
}

inline HRESULT WINAPI NotImplemented(void*) { return E_NOTIMPL; }

// No C++ exception crosses the library's boundary (its callers are built without them,
// so one would end the host): whatever escapes a body is reported as out of memory.
template <class Body>
HRESULT Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

template <class Object, class Interface>
ULONG WINAPI AddRefObject(Interface* self) {
  return static_cast<ULONG>(InterlockedIncrement(&static_cast<Object*>(self)->refs));
}

template <class Object, class Interface>
ULONG WINAPI ReleaseObject(Interface* self) {
  auto* object = static_cast<Object*>(self);
  const LONG count = InterlockedDecrement(&object->refs);
  if (count == 0) delete object;
  return static_cast<ULONG>(count);
}

}  // namespace wmasdk
