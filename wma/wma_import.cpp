// Import: the SDK's reader decodes on a thread of its own and pushes blocks into the
// context's OnSample; the host pulls with ReadFilterInput. The hand-off between the two
// threads (one buffer, a state word, three manual-reset events, exactly one decoded block
// in flight) is the portable state machine of wma_handoff.h, run here over Win32.
#include "wma_core.h"
#include "wma_handoff.h"
#include "wma_plugin.h"

// How long a read waits for the reader to answer a request for the next block with a
// block or a status before it takes the reader as gone silent and ends the stream.
// Decoding one block takes milliseconds; this only guards against a reader that has
// stopped delivering without saying so, which would otherwise hang the host for ever.
constexpr DWORD kSilentReaderLimitMs = 30000;

// How long a side polls the state word before it sleeps on its event. The other side
// usually answers within microseconds; the machine may have two cores only, so the poll
// gives the processor away early rather than keep the other thread from running.
constexpr int kSpinPolls = 200;
constexpr int kYieldPolls = 20;

struct WmaInputContext {
  WmaReaderCallback callback;  // first word: the table the reader calls through
  uint8_t format[1024];        // the decoded stream's format, WAVEFORMATEX at its start
  uint32_t duration;           // "Duration", milliseconds
  uint32_t bitRate;            // "Bitrate", bit/s
  volatile LONG refCount;
  WmaReader* reader;
  volatile uint8_t endOfStream;  // no block will come any more
  uint32_t capacity;             // bytes of the hand-off buffer
  uint32_t readPos;              // bytes of the current block given to the host
  uint32_t filled;               // bytes of the current block in the buffer
  HANDLE readyEvent;             // a block, or the end of the stream, is ready
  HANDLE requestEvent;           // the host's side asks for the next block
  HANDLE stopEvent;              // the context is closing
  HLOCAL handoffBuffer;          // movable local memory; null until the first block
  volatile LONG handoff;         // the hand-off's state word (wma_handoff.h)
};

#if !defined(_WIN64)
static_assert(offsetof(WmaInputContext, format) == 4, "format");
static_assert(offsetof(WmaInputContext, duration) == 1028, "duration");
static_assert(offsetof(WmaInputContext, bitRate) == 1032, "bitRate");
static_assert(offsetof(WmaInputContext, refCount) == 1036, "refCount");
static_assert(offsetof(WmaInputContext, reader) == 1040, "reader");
static_assert(offsetof(WmaInputContext, endOfStream) == 1044, "endOfStream");
static_assert(offsetof(WmaInputContext, capacity) == 1048, "capacity");
static_assert(offsetof(WmaInputContext, readPos) == 1052, "readPos");
static_assert(offsetof(WmaInputContext, filled) == 1056, "filled");
static_assert(offsetof(WmaInputContext, readyEvent) == 1060, "readyEvent");
static_assert(offsetof(WmaInputContext, requestEvent) == 1064, "requestEvent");
static_assert(offsetof(WmaInputContext, stopEvent) == 1068, "stopEvent");
static_assert(offsetof(WmaInputContext, handoffBuffer) == 1072, "handoffBuffer");
#endif
static_assert(offsetof(WmaInputContext, callback) == 0, "the context is the callback object");

static WmaInputContext* FromCallback(WmaReaderCallback* self) {
  return reinterpret_cast<WmaInputContext*>(self);
}

static uint16_t FormatU16(const WmaInputContext* c, size_t offset) {
  return static_cast<uint16_t>(c->format[offset] | c->format[offset + 1] << 8);
}
static uint32_t FormatU32(const WmaInputContext* c, size_t offset) {
  return FormatU16(c, offset) | static_cast<uint32_t>(FormatU16(c, offset + 2)) << 16;
}
static uint16_t StreamChannels(const WmaInputContext* c) { return FormatU16(c, 2); }
static uint32_t StreamSampleRate(const WmaInputContext* c) { return FormatU32(c, 4); }
static uint16_t StreamBitsPerSample(const WmaInputContext* c) { return FormatU16(c, 14); }

// --- The callback object's operations, called by the reader ---

static HRESULT WINAPI ContextQueryInterface(WmaReaderCallback*, const GUID*, void**) {
  return E_NOINTERFACE;  // not even the base interface: the reader needs none
}

static ULONG WINAPI ContextAddRef(WmaReaderCallback* self) {
  return static_cast<ULONG>(InterlockedIncrement(&FromCallback(self)->refCount));
}

static void DestroyContext(WmaInputContext* c) {
  HANDLE events[] = {c->readyEvent, c->requestEvent, c->stopEvent};
  for (HANDLE event : events)
    if (event) CloseHandle(event);
  if (c->handoffBuffer) LocalFree(c->handoffBuffer);
  HeapFree(g_processHeap, 0, c);
}

static ULONG WINAPI ContextRelease(WmaReaderCallback* self) {
  WmaInputContext* c = FromCallback(self);
  const LONG count = InterlockedDecrement(&c->refCount);
  if (count == 0) DestroyContext(c);
  return static_cast<ULONG>(count);
}

// The hand-off's platform in the plug-in: the state word through interlocked operations,
// the context's three events, the tick count, and the block in movable local memory (one
// handle for its whole life).
struct Win32Handoff {
  WmaInputContext* c;

  uint32_t LoadWord() const {
    return static_cast<uint32_t>(__atomic_load_n(&c->handoff, __ATOMIC_ACQUIRE));
  }
  bool SwapWord(uint32_t expected, uint32_t desired) {
    const LONG before = static_cast<LONG>(expected);
    return InterlockedCompareExchange(&c->handoff, static_cast<LONG>(desired), before) == before;
  }

  HANDLE EventOf(HandoffEvent e) const {
    return e == kReadyEvent ? c->readyEvent : e == kRequestEvent ? c->requestEvent : c->stopEvent;
  }
  void Set(HandoffEvent e) { SetEvent(EventOf(e)); }
  void Reset(HandoffEvent e) { ResetEvent(EventOf(e)); }
  bool WaitReady(uint32_t ms) { return WaitForSingleObject(c->readyEvent, ms) == WAIT_OBJECT_0; }
  bool WaitRequestOrStop() {
    // Stop first: with both signalled the wait reports the lower index, so stop wins.
    HANDLE waits[] = {c->stopEvent, c->requestEvent};
    return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
  }

  uint32_t NowMs() const { return GetTickCount(); }
  void Pause() { YieldProcessor(); }
  void YieldThread() { SwitchToThread(); }
  void Nap() { Sleep(1); }
  int SpinPolls() const { return kSpinPolls; }
  int YieldPolls() const { return kYieldPolls; }
  uint32_t SilentReaderLimitMs() const { return kSilentReaderLimitMs; }

  bool Ended() const { return __atomic_load_n(&c->endOfStream, __ATOMIC_ACQUIRE) != 0; }
  void SetEnded() { __atomic_store_n(&c->endOfStream, uint8_t{1}, __ATOMIC_RELEASE); }

  uint32_t Filled() const { return c->filled; }
  uint32_t ReadPos() const { return c->readPos; }
  void SetFilled(uint32_t n) { c->filled = n; }
  void SetReadPos(uint32_t pos) { c->readPos = pos; }
  bool HasBuffer() const { return c->handoffBuffer != nullptr; }
  uint32_t Capacity() const { return c->capacity; }
  bool Allocate(uint32_t n) {
    c->handoffBuffer = LocalAlloc(LMEM_MOVEABLE, n);
    if (c->handoffBuffer) c->capacity = n;
    return c->handoffBuffer != nullptr;
  }
  bool Grow(uint32_t n) {
    if (!LocalReAlloc(c->handoffBuffer, n, LMEM_MOVEABLE)) return false;
    c->capacity = n;
    return true;
  }
  bool CopyIn(const void* data, uint32_t n) {
    void* buffer = LocalLock(c->handoffBuffer);
    if (!buffer) return false;
    memcpy(buffer, data, n);
    LocalUnlock(c->handoffBuffer);
    return true;
  }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) {
    if (n == 0) return true;
    const uint8_t* buffer = static_cast<const uint8_t*>(LocalLock(c->handoffBuffer));
    if (!buffer) return false;
    memcpy(to, buffer + from, n);
    LocalUnlock(c->handoffBuffer);
    return true;
  }
  void FreeBuffer() {
    LocalFree(c->handoffBuffer);
    c->handoffBuffer = nullptr;
    c->capacity = 0;
  }
};

static HRESULT WINAPI ContextOnSample(WmaReaderCallback* self, const void* data, DWORD bytes,
                                      DWORD) {
  Win32Handoff handoff{FromCallback(self)};
  HandoffDeliver(handoff, data, bytes);
  return 0;
}

static HRESULT WINAPI ContextOnStatus(WmaReaderCallback* self, DWORD status, DWORD, DWORD) {
  Win32Handoff handoff{FromCallback(self)};
  switch (status) {
    case WMA_STATUS_END_OF_STREAM:
      HandoffEndStream(handoff);
      break;
    case WMA_STATUS_ERROR:
    case WMA_STATUS_CODEC_MISSING:
      // The message box can stay up for long; keep the context alive meanwhile even if
      // the host closes it and the reader lets go of it.
      ContextAddRef(self);
      ShowMessage(status == WMA_STATUS_ERROR ? "Unknown error." : "Codec not installed.");
      HandoffEndStream(handoff);  // the reader has failed: no host read may wait for it any more
      ContextRelease(self);
      break;
    default:
      break;
  }
  return 0;
}

static const WmaReaderCallbackOps kContextOps = {
    ContextQueryInterface, ContextAddRef, ContextRelease, ContextOnSample, ContextOnStatus,
};

// --- The host's side ---

static uint32_t ReadAttribute(WmaReader* reader, const WCHAR* name) {
  uint32_t value = 0;
  DWORD type = 0;
  DWORD length = sizeof value;
  reader->ops->GetAttribute(reader, name, &type, &value, &length);
  return value;  // left 0 when the reader does not supply it
}

FilterHandle WINAPI OpenFilterInput(const char* fileName, long* sampleRate, WORD* bitsPerSample,
                                    WORD* channels, long, long* transferSize) {
  WCHAR wide[kWidePathUnits];
  if (!WidenPath(fileName, wide)) return nullptr;
  auto* c = static_cast<WmaInputContext*>(
      HeapAlloc(g_processHeap, HEAP_ZERO_MEMORY, sizeof(WmaInputContext)));
  if (!c) return nullptr;
  c->callback.ops = &kContextOps;
  c->refCount = 1;
  c->readyEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  c->requestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  c->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!c->readyEvent || !c->requestEvent || !c->stopEvent ||
      WmaCreateReader(wide, &c->callback, &c->reader, 0) < 0 || !c->reader) {
    c->reader = nullptr;
    ContextRelease(&c->callback);
    return nullptr;
  }
  WmaReader* reader = c->reader;
  reader->ops->GetFormat(reader, c->format, sizeof c->format);
  c->duration = ReadAttribute(reader, L"Duration");
  c->bitRate = ReadAttribute(reader, L"Bitrate");
  reader->ops->Start(reader);

  if (sampleRate) *sampleRate = static_cast<long>(StreamSampleRate(c));
  if (bitsPerSample) *bitsPerSample = StreamBitsPerSample(c);
  if (channels) *channels = StreamChannels(c);
  if (transferSize) *transferSize = 16384;
  return c;
}

long WINAPI ReadFilterInput(FilterHandle input, void* buffer, long bytes) {
  auto* c = static_cast<WmaInputContext*>(input);
  if (!c || !c->reader || bytes < 0 || (!buffer && bytes != 0)) return 0;
  Win32Handoff handoff{c};
  return static_cast<long>(
      HandoffRead(handoff, static_cast<uint8_t*>(buffer), static_cast<uint32_t>(bytes)));
}

void WINAPI CloseFilterInput(FilterHandle input) {
  auto* c = static_cast<WmaInputContext*>(input);
  if (!c) return;
  Win32Handoff handoff{c};
  if (c->reader) {
    // The hand-off stops first: a delivery thread waiting or polling in OnSample returns,
    // so the reader can stop.
    HandoffStop(handoff);
    c->reader->ops->Stop(c->reader);
    c->reader->ops->Release(c->reader);
    c->reader = nullptr;
  }
  HandoffClose(handoff);  // no copy into the buffer outlives it
  // The host's reference. When the reader still holds its own, the SDK will release the
  // context later from its thread, through code in this module: keep the module loaded for
  // good, or a host that unloads the plug-in after this close would crash that thread.
  if (ContextRelease(&c->callback) != 0) {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&ContextRelease), &self);
  }
}

long WINAPI FilterGetFileSize(FilterHandle input) {
  auto* c = static_cast<WmaInputContext*>(input);
  if (!c) return 0;
  // 16-bit PCM for duration + 1 ms, whatever the stream's sample width.
  return static_cast<long>(WmaPcmByteCount(c->duration, StreamChannels(c), StreamSampleRate(c)));
}

DWORD WINAPI FilterOptions(FilterHandle input) {
  auto* c = static_cast<WmaInputContext*>(input);
  if (!c) return 0;
  return MatchWmaFormat(c->bitRate, StreamChannels(c), StreamSampleRate(c));
}

DWORD WINAPI FilterOptionsString(FilterHandle input, char* text) {
  auto* c = static_cast<WmaInputContext*>(input);
  if (c && text) FormatOptionsText(c->bitRate, text);
  return 0;
}

long WINAPI FilterUnderstandsFormat(const char* fileName) {
  WCHAR wide[kWidePathUnits];
  if (!WidenPath(fileName, wide)) return 0;
  WmaInfo* info = nullptr;
  if (WmaCreateInfo(wide, &info) != 0) return 0;
  if (info) info->ops->Release(info);
  return 1;
}
