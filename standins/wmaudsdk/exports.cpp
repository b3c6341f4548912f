// The library's exports, by ordinal only (wmaudsdk.def): each creation call is traced
// with its result when VELL_WMA_TRACE names a file.
#include "creators.h"
#include "environment.h"
#include "trace.h"

namespace {

HRESULT Traced(const char* call, HRESULT result) {
  vwma::Environment env;
  vwma::Trace(env.Get("VELL_WMA_TRACE")).Line("%s 0x%08lx", call, static_cast<unsigned long>(result));
  return result;
}

}  // namespace

extern "C" {

HRESULT WINAPI WmaCreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader,
                               DWORD) {
  return Traced("CreateReader", vwma::CreateReader(path, callback, reader));
}

HRESULT WINAPI WmaCreateWriter(const WCHAR* path, WmaWriter** writer) {
  return Traced("CreateWriter", vwma::CreateWriter(path, writer));
}

HRESULT WINAPI WmaCreateInfo(const WCHAR* path, WmaInfo** info) {
  return Traced("CreateInfo", vwma::CreateInfo(path, info));
}

}  // extern "C"
