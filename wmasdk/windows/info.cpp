// The info object: the file opened as the reader opens it (so it accepts exactly what
// the reader accepts), then let go at once.
#include "creators.h"
#include "object_ops.h"
#include "unix_bridge.h"

#include <new>

namespace wmasdk {
namespace {

struct InfoObject : WmaInfo {
  LONG refs = 1;
};

const WmaInfoOps kInfoOps = {
    NoInterface<WmaInfo>,
    AddRefObject<InfoObject, WmaInfo>,
    ReleaseObject<InfoObject, WmaInfo>,
};

}  // namespace

HRESULT CreateInfo(const WCHAR* path, WmaInfo** info) {
  if (!path || !info) return E_POINTER;
  if (!UnixHalfConnected()) return E_FAIL;
  HRESULT result = S_OK;
  char* unixPath = CheckedUnixPath(path, false, &result);
  if (!unixPath) return result;
  WmaBridgeStream stream{};
  stream.open.unixPath = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(unixPath));
  const bool called = CallUnix(kBridgeReaderOpen, &stream);
  FreeUnixPath(unixPath);
  if (!called) return E_FAIL;
  if (!stream.open.object) return FromBridgeResult(stream.open.result);
  WmaBridgeObject close{stream.open.object, 0, 0};
  CallUnix(kBridgeReaderClose, &close);

  auto* object = new (std::nothrow) InfoObject;
  if (!object) return E_OUTOFMEMORY;
  object->ops = &kInfoOps;
  *info = object;
  return S_OK;
}

}  // namespace wmasdk
