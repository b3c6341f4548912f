// The reader: a thread of its own asks the core for one block of decoded PCM at a time
// and hands it to the caller's callback, then reports how the stream ended (3: its end;
// 0: an error, after everything that decoded). The core only decodes; it never calls
// back and starts no thread. A stop reaches a read inside FFmpeg through the core's
// interrupt check, so it never waits on a stuck read.
#include "creators.h"
#include "object_ops.h"
#include "ffmpeg_reader.h"

#include <cstring>
#include <new>

namespace wmasdk {
namespace {

// PCM per OnSample call (the last one may be shorter): 1.5 s of 44.1 kHz stereo. Every call
// is a hand-over between this thread and the caller's, and at 32 KB an import spent a third
// of its time switching between the two (an hour of 128 kbit/s: 4.1 s against 2.8 s).
constexpr DWORD kBlockBytes = 262144;

struct ReaderObject : WmaReader {
  LONG refs = 1;
  wmacore::AsfWmaReader* core = nullptr;
  wmacore::StreamInfo stream;
  WmaReaderCallback* callback = nullptr;  // referenced until the object is destroyed
  uint8_t* block = nullptr;               // from the process heap
  volatile LONG stopping = 0;
  bool started = false;
  HANDLE thread = nullptr;
  DWORD threadId = 0;

  ~ReaderObject();
};

ReaderObject* Self(WmaReader* r) { return static_cast<ReaderObject*>(r); }

bool Stopping(ReaderObject* r) { return InterlockedCompareExchange(&r->stopping, 0, 0) != 0; }

ULONG WINAPI ReleaseReader(WmaReader* self) { return ReleaseObject<ReaderObject, WmaReader>(self); }

// Blocks until the stream ends or a stop is asked for.
void Deliver(ReaderObject* r) {
  WmaReaderCallback* cb = r->callback;
  for (;;) {
    if (Stopping(r)) return;
    uint32_t state = wmacore::kDamaged;
    uint32_t bytes = wmacore::ReadPcm(r->core, r->block, kBlockBytes, &state);
    if (bytes > kBlockBytes) bytes = 0;  // never more than the block holds
    if (bytes) {
      if (Stopping(r)) return;
      cb->ops->OnSample(cb, r->block, bytes, 0);
    }
    if (state == wmacore::kMore) continue;
    if (Stopping(r)) return;
    cb->ops->OnStatus(cb, state == wmacore::kEnded ? WMA_STATUS_END_OF_STREAM : WMA_STATUS_ERROR, 0, 0);
    return;
  }
}

// The thread holds a reference on the reader and one on this module, so neither goes
// away while it runs, whatever the caller releases meanwhile.
DWORD WINAPI DeliveryThread(void* arg) {
  ReaderObject* r = static_cast<ReaderObject*>(arg);
  // Nothing thrown below (the core catches its own) may end the host's process.
  const HRESULT delivered = Guarded([&] {
    Deliver(r);
    return S_OK;
  });
  if (FAILED(delivered) && !Stopping(r)) r->callback->ops->OnStatus(r->callback, WMA_STATUS_ERROR, 0, 0);
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&DeliveryThread), &module);
  ReleaseReader(r);
  FreeLibraryAndExitThread(module, 0);
}

ReaderObject::~ReaderObject() {
  // The thread's own reference keeps the object while it runs: either it has ended,
  // or this is its last act.
  if (thread) CloseHandle(thread);
  if (callback) callback->ops->Release(callback);
  if (core) wmacore::CloseReader(core);
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

HRESULT WINAPI GetAttribute(WmaReader* self, const WCHAR* name, DWORD* type, void* value,
                            DWORD* length) {
  ReaderObject* r = Self(self);
  if (!name) return E_INVALIDARG;
  uint32_t v = 0;
  if (lstrcmpW(name, L"Duration") == 0) {
    v = r->stream.durationMs;
  } else if (lstrcmpW(name, L"Bitrate") == 0) {
    v = r->stream.bitRate;
  } else {
    return E_INVALIDARG;
  }
  if (!value || !length) return E_POINTER;
  if (*length < sizeof v) {
    *length = sizeof v;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(value, &v, sizeof v);
  *length = sizeof v;
  if (type) *type = 0;  // a 32-bit number
  return S_OK;
}

HRESULT WINAPI GetFormat(WmaReader* self, void* format, DWORD size) {
  ReaderObject* r = Self(self);
  if (!format) return size ? E_POINTER : S_OK;
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = static_cast<WORD>(r->stream.channels);
  pcm.nSamplesPerSec = r->stream.sampleRate;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<WORD>(pcm.nChannels * 2);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  const DWORD copied = size < sizeof pcm ? size : static_cast<DWORD>(sizeof pcm);
  std::memcpy(format, &pcm, copied);
  std::memset(static_cast<uint8_t*>(format) + copied, 0, size - copied);
  return S_OK;
}

HRESULT WINAPI Start(WmaReader* self) {
  ReaderObject* r = Self(self);
  if (r->started || Stopping(r)) return S_FALSE;  // a second start, or after a stop
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&DeliveryThread),
                          &module))
    return E_FAIL;
  AddRefObject<ReaderObject, WmaReader>(r);
  r->thread = CreateThread(nullptr, 0, DeliveryThread, r, 0, &r->threadId);
  if (!r->thread) {
    const DWORD error = GetLastError();
    ReleaseReader(r);
    FreeLibrary(module);
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  r->started = true;
  return S_OK;
}

// No call to the callback after this returns (except from within one, on the thread).
HRESULT WINAPI Stop(WmaReader* self) {
  ReaderObject* r = Self(self);
  InterlockedExchange(&r->stopping, 1);
  wmacore::StopReader(r->core);
  if (r->thread && GetCurrentThreadId() != r->threadId) WaitForSingleObject(r->thread, INFINITE);
  return S_OK;
}

const WmaReaderOps kReaderOps = {
    NoInterface<WmaReader>,
    AddRefObject<ReaderObject, WmaReader>,
    ReleaseReader,
    GetAttribute,
    NotImplemented,
    NotImplemented,
    GetFormat,
    Start,
    Stop,
};

}  // namespace

HRESULT CreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader) {
  if (!path || !callback || !reader) return E_POINTER;
  HRESULT result = S_OK;
  char* utf8 = CheckedPath(path, false, &result);
  if (!utf8) return result;
  auto* r = new (std::nothrow) ReaderObject;
  if (!r) {
    FreePath(utf8);
    return E_OUTOFMEMORY;
  }
  r->ops = &kReaderOps;
  int32_t opened = wmacore::kFailed;
  r->core = wmacore::OpenReader(utf8, &r->stream, &opened);
  FreePath(utf8);
  if (!r->core) {
    delete r;
    return FromCoreResult(opened == wmacore::kOk ? wmacore::kFailed : opened);
  }
  r->block = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, kBlockBytes));
  if (!r->block) {
    delete r;
    return E_OUTOFMEMORY;
  }
  callback->ops->AddRef(callback);
  r->callback = callback;
  *reader = r;
  return S_OK;
}

}  // namespace wmasdk
