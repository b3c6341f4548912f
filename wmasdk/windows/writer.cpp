// The writer: each operation is one call into the core, which encodes with FFmpeg and
// writes the ASF file. The formats are fixed once PCM has been written.
#include "creators.h"
#include "object_ops.h"
#include "ffmpeg_writer.h"

#include <new>

namespace wmasdk {
namespace {

struct WriterObject : WmaWriter {
  LONG refs = 1;
  wmacore::AsfWmaWriter* core = nullptr;
  bool writing = false;  // PCM has been given: the formats stay as they are

  ~WriterObject() {
    if (core) wmacore::CloseWriter(core);
  }
};

WriterObject* Self(WmaWriter* w) { return static_cast<WriterObject*>(w); }

HRESULT WINAPI SetInputFormat(WmaWriter* self, const WAVEFORMATEX* pcm) {
  WriterObject* w = Self(self);
  if (!pcm) return E_POINTER;
  if (w->writing) return E_UNEXPECTED;
  const WORD bits = pcm->wBitsPerSample;
  if (pcm->wFormatTag != WAVE_FORMAT_PCM || (bits != 8 && bits != 16) || pcm->nChannels < 1 ||
      pcm->nChannels > 2 || pcm->nBlockAlign != pcm->nChannels * (bits / 8))
    return E_INVALIDARG;
  return Guarded([&] { return FromCoreResult(wmacore::SetWriterInput(w->core, static_cast<uint32_t>(pcm->nSamplesPerSec),
                                                pcm->nChannels, bits)); });
}

HRESULT WINAPI SetOutputFormat(WmaWriter* self, DWORD bitRate, DWORD sampleRate, DWORD channels,
                               DWORD) {
  WriterObject* w = Self(self);
  if (w->writing) return E_UNEXPECTED;
  uint32_t written = 0;
  return Guarded([&] { return FromCoreResult(wmacore::SetWriterOutput(w->core, static_cast<uint32_t>(bitRate),
                                                 static_cast<uint32_t>(sampleRate),
                                                 static_cast<uint32_t>(channels), &written)); });
}

HRESULT WINAPI Write(WmaWriter* self, const void* data, DWORD bytes) {
  WriterObject* w = Self(self);
  if (bytes == 0) return S_OK;
  if (!data) return E_POINTER;
  w->writing = true;
  return Guarded([&] { return FromCoreResult(wmacore::WritePcm(w->core, static_cast<const uint8_t*>(data),
                                          static_cast<uint32_t>(bytes))); });
}

HRESULT WINAPI Finish(WmaWriter* self) {
  WriterObject* w = Self(self);
  w->writing = true;
  return Guarded([&] { return FromCoreResult(wmacore::FinishWriter(w->core)); });
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
  HRESULT result = S_OK;
  char* utf8 = CheckedPath(path, true, &result);
  if (!utf8) return result;
  int32_t opened = wmacore::kFailed;
  wmacore::AsfWmaWriter* core = wmacore::OpenWriter(utf8, &opened);
  FreePath(utf8);
  if (!core) return FromCoreResult(opened == wmacore::kOk ? wmacore::kFailed : opened);

  auto* w = new (std::nothrow) WriterObject;
  if (!w) {
    wmacore::CloseWriter(core);
    return E_OUTOFMEMORY;
  }
  w->ops = &kWriterOps;
  w->core = core;
  *writer = w;
  return S_OK;
}

}  // namespace wmasdk
