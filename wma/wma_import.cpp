// Import: the SDK's reader decodes on a thread of its own and pushes blocks into the
// context's OnSample; the host pulls with ReadFilterInput. One hand-off buffer and three
// manual-reset events keep exactly one decoded block in flight between the two threads.
#include "wma_core.h"
#include "wma_plugin.h"

// How long a read waits for the reader to answer a request for the next block with a
// block or a status before it takes the reader as gone silent and ends the stream.
// Decoding one block takes milliseconds; this only guards against a reader that has
// stopped delivering without saying so, which would otherwise hang the host for ever.
constexpr DWORD kSilentReaderLimitMs = 30000;

// Who holds the hand-off buffer, and which side sleeps. The low bits say whose turn it
// is; they also settle the races the events leave open: a request that lapses (silent
// reader, end of stream reported from another thread) is withdrawn only if the delivery
// thread has not yet taken it, and the buffer is freed only when no copy into it runs.
// The flag bits let a hand-over skip the event (a wineserver round trip under wine) when
// the other side is still awake: a side announces, in the same atomic step in which it
// finds the turn not yet its own, that it is about to wait on its event; the side that
// hands the turn over clears that announcement in its own atomic step and then sets the
// event. Either the waiter sees the turn, or the hand-over sees the announcement.
enum HandoffState : LONG {
  kHandoffIdle = 0,       // no request outstanding; the host's side owns the buffer
  kHandoffRequested = 1,  // the host asked for a block; OnSample may take the buffer
  kHandoffFilling = 2,    // OnSample is storing a block into the buffer
  kHandoffClosed = 3,     // the context is closing; no block is taken any more
};
constexpr LONG kHandoffStateMask = 3;
constexpr LONG kHostAsleep = 4;      // the host waits on readyEvent: a hand-back sets it
constexpr LONG kDeliveryAsleep = 8;  // OnSample waits on requestEvent: a request sets it
constexpr LONG kHandoffStopping = 16;  // close has begun: OnSample takes no more blocks

// How long a side polls the word before it sleeps on its event. The other side usually
// answers within microseconds; the machine may have two cores only, so the poll gives
// the processor away early rather than keep the other thread from running.
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
  volatile LONG handoff;         // HandoffState
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

// Marks the end of the stream: the flag first, so a read woken by the event sees it.
static void EndStream(WmaInputContext* c) {
  c->endOfStream = 1;
  SetEvent(c->readyEvent);
}

// The hand-off buffer as the delivery side sees it: movable local memory, one handle for
// its whole life.
struct DeliveryPort {
  WmaInputContext* c;
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
};

static LONG TurnOf(LONG word) { return word & kHandoffStateMask; }

// Replaces the turn and clears the given flag in one atomic step; returns the word before.
static LONG HandOver(WmaInputContext* c, LONG state, LONG clear) {
  for (;;) {
    const LONG word = c->handoff;
    const LONG next = (word & ~(kHandoffStateMask | clear)) | state;
    if (InterlockedCompareExchange(&c->handoff, next, word) == word) return word;
  }
}

// One step of a bounded wait for the other side: a short pause first, then giving the
// processor away. False once the poll is over and the caller should sleep on its event.
static bool PollAgain(int& polls) {
  if (polls >= kSpinPolls + kYieldPolls) return false;
  if (polls++ < kSpinPolls)
    YieldProcessor();
  else
    SwitchToThread();
  return true;
}

// Waits until the host asks for a block, then takes the buffer. False when the context
// is closing or the stream has ended; the block is then dropped.
static bool TakeRequest(WmaInputContext* c) {
  // Stop first: with both signalled the wait reports the lower index, so stop wins.
  HANDLE waits[] = {c->stopEvent, c->requestEvent};
  int polls = 0;
  for (;;) {
    const LONG word = c->handoff;
    if (word & kHandoffStopping) return false;
    if (c->endOfStream) return false;  // nobody will ask again
    const LONG state = TurnOf(word);
    if (state == kHandoffClosed) return false;
    if (state == kHandoffRequested) {
      const LONG filling = (word & ~kHandoffStateMask) | kHandoffFilling;
      if (InterlockedCompareExchange(&c->handoff, filling, word) == word) return true;
      continue;  // the word changed under us (withdrawn, stopping, host asleep): look again
    }
    if (PollAgain(polls)) continue;
    // Announce the sleep in the same step that finds no request, so a request made after
    // it sees the announcement and sets the event.
    if (!(word & kDeliveryAsleep) &&
        InterlockedCompareExchange(&c->handoff, word | kDeliveryAsleep, word) != word)
      continue;
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return false;
    // Woken by a request (or by one withdrawn since): clear the event and look again.
    ResetEvent(c->requestEvent);
  }
}

static HRESULT WINAPI ContextOnSample(WmaReaderCallback* self, const void* data, DWORD bytes,
                                      DWORD) {
  WmaInputContext* c = FromCallback(self);
  if (!TakeRequest(c)) return 0;
  const DWORD n = data ? bytes : 0;
  DeliveryPort port{c};
  if (StoreHandoffBlock(port, data, n)) {
    c->filled = n;
  } else {
    // No room for the block: the stream ends with what was delivered.
    c->filled = 0;
    c->endOfStream = 1;
  }
  c->readPos = 0;
  // The turn back to the host; the event only if the host has gone to sleep on it.
  if (HandOver(c, kHandoffIdle, kHostAsleep) & kHostAsleep) SetEvent(c->readyEvent);
  return 0;
}

static HRESULT WINAPI ContextOnStatus(WmaReaderCallback* self, DWORD status, DWORD, DWORD) {
  WmaInputContext* c = FromCallback(self);
  switch (status) {
    case WMA_STATUS_END_OF_STREAM:
      EndStream(c);
      break;
    case WMA_STATUS_ERROR:
    case WMA_STATUS_CODEC_MISSING:
      // The message box can stay up for long; keep the context alive meanwhile even if
      // the host closes it and the reader lets go of it.
      ContextAddRef(self);
      ShowMessage(status == WMA_STATUS_ERROR ? "Unknown error." : "Codec not installed.");
      EndStream(c);  // the reader has failed: no host read may wait for it any more
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

// Waits until no copy into the buffer is running and moves the hand-off to next, unless
// it is already closed. Returns the state it found.
static LONG SettleHandoff(WmaInputContext* c, LONG next) {
  for (;;) {
    const LONG word = c->handoff;
    const LONG state = TurnOf(word);
    if (state == kHandoffFilling) {
      Sleep(1);  // a copy of one block is under way; it ends shortly
      continue;
    }
    if (state == kHandoffClosed) return state;
    const LONG settled = (word & ~(kHandoffStateMask | kHostAsleep)) | next;
    if (InterlockedCompareExchange(&c->handoff, settled, word) == word) return state;
  }
}

// Waits until the delivery thread hands the turn back or the stream ends. False when the
// reader has stayed silent for kSilentReaderLimitMs.
static bool AwaitTurnBack(WmaInputContext* c) {
  const DWORD start = GetTickCount();
  int polls = 0;
  for (;;) {
    const LONG word = c->handoff;
    if (TurnOf(word) == kHandoffIdle || c->endOfStream) return true;
    if (PollAgain(polls)) continue;
    if (!(word & kHostAsleep) &&
        InterlockedCompareExchange(&c->handoff, word | kHostAsleep, word) != word)
      continue;
    const DWORD waited = GetTickCount() - start;
    if (waited >= kSilentReaderLimitMs) return false;
    if (WaitForSingleObject(c->readyEvent, kSilentReaderLimitMs - waited) != WAIT_OBJECT_0)
      return false;
    // A block, the end, or a wake-up left over from an earlier turn: look again.
    ResetEvent(c->readyEvent);
  }
}

// Asks the delivery thread for the next block and waits until it is in the buffer or the
// stream has ended (reported, or the reader gone silent for kSilentReaderLimitMs).
static void AwaitBlock(WmaInputContext* c) {
  if (HandOver(c, kHandoffRequested, kDeliveryAsleep) & kDeliveryAsleep)
    SetEvent(c->requestEvent);
  const bool answered = AwaitTurnBack(c);
  // A request still outstanding was not taken: withdraw it so no block lands after the
  // host has gone on. A block being stored right now is waited for and used.
  if (SettleHandoff(c, kHandoffIdle) == kHandoffRequested && !answered)
    c->endOfStream = 1;  // silent reader: give up on it
}

struct HostPort {
  WmaInputContext* c;
  uint32_t Filled() const { return c->filled; }
  uint32_t ReadPos() const { return c->readPos; }
  void SetReadPos(uint32_t pos) { c->readPos = pos; }
  bool Ended() const { return c->endOfStream != 0; }
  void AwaitBlock() { ::AwaitBlock(c); }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) {
    if (n == 0) return true;
    const uint8_t* buffer = static_cast<const uint8_t*>(LocalLock(c->handoffBuffer));
    if (!buffer) return false;
    memcpy(to, buffer + from, n);
    LocalUnlock(c->handoffBuffer);
    return true;
  }
};

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
  HostPort port{c};
  return static_cast<long>(ReadHandoff(port, static_cast<uint8_t*>(buffer), static_cast<uint32_t>(bytes)));
}

void WINAPI CloseFilterInput(FilterHandle input) {
  auto* c = static_cast<WmaInputContext*>(input);
  if (!c) return;
  if (c->reader) {
    // Stop first wakes a delivery thread waiting or polling in OnSample, so the reader
    // can stop.
    for (LONG word = c->handoff;
         InterlockedCompareExchange(&c->handoff, word | kHandoffStopping, word) != word;)
      word = c->handoff;
    SetEvent(c->stopEvent);
    c->reader->ops->Stop(c->reader);
    c->reader->ops->Release(c->reader);
    c->reader = nullptr;
  }
  SettleHandoff(c, kHandoffClosed);  // no copy into the buffer may outlive it
  if (c->handoffBuffer) {
    LocalFree(c->handoffBuffer);
    c->handoffBuffer = nullptr;
    c->readPos = c->capacity = c->filled = 0;
  }
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
