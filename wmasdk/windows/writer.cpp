// The writer: each operation is one call into the Linux half, which encodes with FFmpeg
// and writes the ASF file. The formats are fixed once PCM has been written.
#include "creators.h"
#include "object_ops.h"
#include "unix_bridge.h"

#include <new>

namespace wmasdk {
namespace {

struct WriterObject : WmaWriter {
  LONG refs = 1;
  uint64_t unixWriter = 0;
  bool writing = false;  // PCM has been given: the formats stay as they are

  ~WriterObject() {
    WmaBridgeObject close{unixWriter, 0, 0};
    if (unixWriter) CallUnix(kBridgeWriterClose, &close);
  }
};

WriterObject* Self(WmaWriter* w) { return static_cast<WriterObject*>(w); }

HRESULT Result(bool called, int32_t result) { return called ? FromBridgeResult(result) : E_FAIL; }

HRESULT WINAPI SetInputFormat(WmaWriter* self, const WAVEFORMATEX* pcm) {
  WriterObject* w = Self(self);
  if (!pcm) return E_POINTER;
  if (w->writing) return E_UNEXPECTED;
  const WORD bits = pcm->wBitsPerSample;
  if (pcm->wFormatTag != WAVE_FORMAT_PCM || (bits != 8 && bits != 16) || pcm->nChannels < 1 ||
      pcm->nChannels > 2 || pcm->nBlockAlign != pcm->nChannels * (bits / 8))
    return E_INVALIDARG;
  WmaBridgeWriterInput input{w->unixWriter, static_cast<uint32_t>(pcm->nSamplesPerSec),
                             pcm->nChannels, bits, 0, 0};
  const bool called = CallUnix(kBridgeWriterInput, &input);
  return Result(called, input.result);
}

HRESULT WINAPI SetOutputFormat(WmaWriter* self, DWORD bitRate, DWORD sampleRate, DWORD channels,
                               DWORD) {
  WriterObject* w = Self(self);
  if (w->writing) return E_UNEXPECTED;
  WmaBridgeWriterOutput output{w->unixWriter, static_cast<uint32_t>(bitRate),
                               static_cast<uint32_t>(sampleRate), static_cast<uint32_t>(channels),
                               0, 0, 0};
  const bool called = CallUnix(kBridgeWriterOutput, &output);
  return Result(called, output.result);
}

HRESULT WINAPI Write(WmaWriter* self, const void* data, DWORD bytes) {
  WriterObject* w = Self(self);
  if (bytes == 0) return S_OK;
  if (!data) return E_POINTER;
  WmaBridgeData block{w->unixWriter, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data)),
                      static_cast<uint32_t>(bytes), 0, 0, 0};
  const bool called = CallUnix(kBridgeWriterWrite, &block);
  w->writing = true;
  return Result(called, block.result);
}

HRESULT WINAPI Finish(WmaWriter* self) {
  WriterObject* w = Self(self);
  WmaBridgeObject finish{w->unixWriter, 0, 0};
  const bool called = CallUnix(kBridgeWriterFinish, &finish);
  w->writing = true;
  return Result(called, finish.result);
}

const WmaWriterOps kWriterOps = {
    NoInterface<WmaWriter>,
    AddRefObject<WriterObject, WmaWriter>,
    ReleaseObject<WriterObject, WmaWriter>,
    NotImplemented,
    SetInputFormat,
    SetOutputFormat,
    NotImplemented,
    Write,
    Finish,
};

}  // namespace

HRESULT CreateWriter(const WCHAR* path, WmaWriter** writer) {
  if (!path || !writer) return E_POINTER;
  if (!UnixHalfConnected()) return E_FAIL;
  HRESULT result = S_OK;
  char* unixPath = CheckedUnixPath(path, true, &result);
  if (!unixPath) return result;
  WmaBridgeOpen open{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(unixPath)), 0, 0, 0};
  const bool called = CallUnix(kBridgeWriterOpen, &open);
  FreeUnixPath(unixPath);
  if (!called || !open.object) return called ? FromBridgeResult(open.result) : E_FAIL;

  auto* w = new (std::nothrow) WriterObject;
  if (!w) {
    WmaBridgeObject close{open.object, 0, 0};
    CallUnix(kBridgeWriterClose, &close);
    return E_OUTOFMEMORY;
  }
  w->ops = &kWriterOps;
  w->unixWriter = open.object;
  *writer = w;
  return S_OK;
}

}  // namespace wmasdk
