// The info object: the file opened as the reader opens it (so it accepts exactly what
// the reader accepts), then let go at once.
#include "creators.h"
#include "object_ops.h"
#include "ffmpeg_reader.h"

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
  HRESULT result = S_OK;
  char* utf8 = CheckedPath(path, false, &result);
  if (!utf8) return result;
  wmacore::StreamInfo stream;
  int32_t opened = wmacore::kFailed;
  wmacore::AsfWmaReader* reader = wmacore::OpenReader(utf8, &stream, &opened);
  FreePath(utf8);
  if (!reader) return FromCoreResult(opened == wmacore::kOk ? wmacore::kFailed : opened);
  wmacore::CloseReader(reader);

  auto* object = new (std::nothrow) InfoObject;
  if (!object) return E_OUTOFMEMORY;
  object->ops = &kInfoOps;
  *info = object;
  return S_OK;
}

}  // namespace wmasdk
