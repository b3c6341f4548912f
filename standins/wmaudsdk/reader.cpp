// The reader: delivers a finished container's PCM to the caller's callback object from
// a thread of its own, block by block, then reports the end of the stream. The switches
// of the environment shape the blocks and inject status events, silence or a late
// reference, so the plug-in's paced import can be tested against them.
#include "creators.h"

#include "container_file.h"
#include "environment.h"
#include "object_ops.h"
#include "pcm_source.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vwma {
namespace {

struct ReaderObject : WmaReader {
  LONG refs = 1;
  Trace trace;
  ReaderSwitches switches;
  HANDLE file = INVALID_HANDLE_VALUE;
  ContainerHeader header;
  WmaReaderCallback* callback = nullptr;  // referenced until the object is destroyed
  HANDLE stopEvent = nullptr;             // manual-reset; set once by Stop
  volatile LONG stopping = 0;
  bool started = false;
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  bool extraRefTaken = false;  // written by the thread, read after it has ended

  ~ReaderObject();
};

ReaderObject* Self(WmaReader* r) { return static_cast<ReaderObject*>(r); }

bool Stopping(ReaderObject* r) { return InterlockedCompareExchange(&r->stopping, 0, 0) != 0; }

// --- The late release of VELL_WMA_EXTRA_REF_MS ------------------------------------------

struct LateRelease {
  WmaReaderCallback* callback;
  DWORD delayMs;
  HMODULE module;  // keeps this library loaded until the thread has finished
};

DWORD WINAPI LateReleaseThread(void* arg) {
  LateRelease* job = static_cast<LateRelease*>(arg);
  Sleep(job->delayMs);
  job->callback->ops->Release(job->callback);
  const HMODULE module = job->module;
  delete job;
  FreeLibraryAndExitThread(module, 0);
}

void ReleaseLater(WmaReaderCallback* callback, DWORD delayMs) {
  HMODULE module = nullptr;
  auto* job = new (std::nothrow) LateRelease{callback, delayMs, nullptr};
  if (job && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&LateReleaseThread), &module)) {
    job->module = module;
    if (HANDLE thread = CreateThread(nullptr, 0, LateReleaseThread, job, 0, nullptr)) {
      CloseHandle(thread);
      return;
    }
    FreeLibrary(module);
  }
  delete job;
  callback->ops->Release(callback);  // no thread to wait on: release at once
}

// --- Delivery -----------------------------------------------------------------------------

// Calls OnStatus unless a stop was asked for; false when delivery must end.
bool ReportStatus(ReaderObject* r, DWORD status) {
  if (Stopping(r)) return false;
  r->callback->ops->OnStatus(r->callback, status, 0, 0);
  return true;
}

void DeliverBlocks(ReaderObject* r) {
  const ReaderSwitches& s = r->switches;
  WmaReaderCallback* cb = r->callback;
  PcmSource source(r->file, r->header.pcmBytes);
  uint64_t remaining = r->header.pcmBytes;
  for (uint64_t k = 0;; ++k) {
    if (s.hasStatus && s.statusBefore == k && !ReportStatus(r, s.status)) return;
    if (s.silent && (k == s.silentAfter || remaining == 0)) {
      WaitForSingleObject(r->stopEvent, INFINITE);  // no more blocks, no end of stream
      return;
    }
    if (remaining == 0) break;
    const std::size_t n = static_cast<std::size_t>(std::min(s.BlockSize(k), remaining));
    const uint8_t* data = source.Next(n);
    if (!data) {
      ReportStatus(r, WMA_STATUS_ERROR);  // the file lost its PCM after it was opened
      return;
    }
    if (Stopping(r)) return;
    cb->ops->OnSample(cb, data, static_cast<DWORD>(n), 0);
    remaining -= n;
  }
  ReportStatus(r, WMA_STATUS_END_OF_STREAM);
}

DWORD WINAPI DeliveryThread(void* arg) {
  ReaderObject* r = static_cast<ReaderObject*>(arg);
  if (r->switches.extraRef) {
    r->callback->ops->AddRef(r->callback);
    r->extraRefTaken = true;
  }
  DeliverBlocks(r);
  return 0;
}

// Asks the thread to make no further calls and waits for it. From inside a callback
// (the thread itself) only the flag is set; the thread ends when the callback returns.
void EndDelivery(ReaderObject* r) {
  InterlockedExchange(&r->stopping, 1);
  SetEvent(r->stopEvent);
  if (!r->thread || GetCurrentThreadId() == r->threadId) return;
  WaitForSingleObject(r->thread, INFINITE);
  CloseHandle(r->thread);
  r->thread = nullptr;
  if (r->extraRefTaken) {
    r->extraRefTaken = false;
    ReleaseLater(r->callback, r->switches.extraRefMs);
  }
}

ReaderObject::~ReaderObject() {
  EndDelivery(this);
  if (callback) callback->ops->Release(callback);
  if (stopEvent) CloseHandle(stopEvent);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// --- Operations ---------------------------------------------------------------------------

// The attribute's name in plain ASCII for the trace and the comparison ('?' elsewhere).
void NarrowName(const WCHAR* name, char (&out)[32]) {
  std::size_t i = 0;
  for (; name[i] && i + 1 < sizeof out; ++i) {
    out[i] = name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
  }
  out[i] = '\0';
  if (name[i]) out[0] = '\0';  // too long to be a name we know
}

HRESULT WINAPI GetAttribute(WmaReader* self, const WCHAR* name, DWORD* type, void* value,
                            DWORD* length) {
  ReaderObject* r = Self(self);
  char ascii[32] = "";
  if (name) NarrowName(name, ascii);
  r->trace.Line("GetAttribute %s", ascii);
  uint32_t v = 0;
  if (std::strcmp(ascii, "Duration") == 0) {
    v = r->header.durationMs;
  } else if (std::strcmp(ascii, "Bitrate") == 0) {
    v = r->header.bitRate;
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
  r->trace.Line("GetFormat %lu", static_cast<unsigned long>(size));
  if (!format) return size ? E_POINTER : S_OK;
  const DWORD copied = std::min<DWORD>(size, kPcmFormatSize);
  std::memcpy(format, r->header.pcmFormat, copied);
  std::memset(static_cast<uint8_t*>(format) + copied, 0, size - copied);
  return S_OK;
}

HRESULT WINAPI Start(WmaReader* self) {
  ReaderObject* r = Self(self);
  r->trace.Line("Start");
  if (r->started || Stopping(r)) return S_FALSE;  // a second start, or after a stop
  r->thread = CreateThread(nullptr, 0, DeliveryThread, r, 0, &r->threadId);
  if (!r->thread) return FromLastError();
  r->started = true;
  return S_OK;
}

HRESULT WINAPI Stop(WmaReader* self) {
  ReaderObject* r = Self(self);
  r->trace.Line("Stop");
  EndDelivery(r);
  return S_OK;
}

const WmaReaderOps kReaderOps = {
    NoInterface<WmaReader>,
    AddRefObject<ReaderObject, WmaReader>,
    ReleaseObject<ReaderObject, WmaReader>,
    GetAttribute,
    NotImplemented,
    NotImplemented,
    GetFormat,
    Start,
    Stop,
};

}  // namespace

HRESULT CreateReader(const WCHAR* path, WmaReaderCallback* callback, WmaReader** reader) {
  Environment env;
  const Trace trace(env.Get("VELL_WMA_TRACE"));
  if (!path || !callback || !reader) return E_POINTER;
  if (ReadCreateFailures(Environment::Lookup, &env) & kCreateReader) return E_FAIL;

  auto* r = new (std::nothrow) ReaderObject;
  if (!r) return E_OUTOFMEMORY;
  r->ops = &kReaderOps;
  r->trace = trace;
  r->switches = ReadReaderSwitches(Environment::Lookup, &env);
  const HRESULT opened = OpenFinishedContainer(path, &r->file, &r->header);
  if (FAILED(opened)) {
    delete r;
    return opened;
  }
  r->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!r->stopEvent) {
    const HRESULT result = FromLastError();
    delete r;
    return result;
  }
  callback->ops->AddRef(callback);
  r->callback = callback;
  *reader = r;
  return S_OK;
}

}  // namespace vwma
