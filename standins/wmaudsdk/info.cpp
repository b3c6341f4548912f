// The info object: proof that a file is a finished container the reader would accept.
#include "creators.h"

#include "container_file.h"
#include "environment.h"
#include "object_ops.h"

#include <new>

namespace vwma {
namespace {

struct InfoObject : WmaInfo {
  LONG refs = 1;
  Trace trace;
};

const WmaInfoOps kInfoOps = {
    NoInterface<WmaInfo>,
    AddRefObject<InfoObject, WmaInfo>,
    ReleaseObject<InfoObject, WmaInfo>,
};

}  // namespace

HRESULT CreateInfo(const WCHAR* path, WmaInfo** info) {
  Environment env;
  const Trace trace(env.Get("VELL_WMA_TRACE"));
  if (!path || !info) return E_POINTER;
  if (ReadCreateFailures(Environment::Lookup, &env) & kCreateInfo) return E_FAIL;

  HANDLE file = INVALID_HANDLE_VALUE;
  ContainerHeader header;
  const HRESULT opened = OpenFinishedContainer(path, &file, &header);
  if (FAILED(opened)) return opened;
  CloseHandle(file);
  auto* object = new (std::nothrow) InfoObject;
  if (!object) return E_OUTOFMEMORY;
  object->ops = &kInfoOps;
  object->trace = trace;
  *info = object;
  return S_OK;
}

}  // namespace vwma
