// The import hand-off between the SDK's delivery thread (OnSample, OnStatus) and the host's
// reads: one block in flight, one state word changed only by compare-and-swap, and three
// manual-reset events (ready, request, stop) that a side sleeps on only after announcing
// the sleep in the word. The state machine is written once, over a platform object, so
// that the plug-in runs it over interlocked operations and Win32 events and the native
// tests and the fuzz target run the very same code over standard atomics and condition
// variables. Header-only and free of the runtime library, like the rest of the core.
//
// The platform object P offers:
//   the word    uint32_t LoadWord()                            an acquiring load
//               bool SwapWord(uint32_t expected, uint32_t desired)   compare-and-swap with
//                                                              a full barrier; true if swapped
//   the events  void Set(HandoffEvent), Reset(HandoffEvent)    manual-reset events
//               bool WaitReady(uint32_t ms)                    true when ready is signalled
//                                                              within ms
//               bool WaitRequestOrStop()                       no limit; false when stop is
//                                                              signalled (stop wins over request)
//   the clock   uint32_t NowMs()                               wraps; only differences count
//               void Pause(), YieldThread(), Nap()             a spin-wait pause, giving the
//                                                              processor away, a short sleep
//               int SpinPolls(), YieldPolls()                  polls before a side sleeps
//               uint32_t SilentReaderLimitMs()
//   the stream  bool Ended(); void SetEnded()                  releasing store, acquiring load
//   the block   uint32_t Filled(), ReadPos(); void SetFilled(uint32_t), SetReadPos(uint32_t)
//               the memory of StoreHandoffBlock (HasBuffer, Capacity, Allocate, Grow, CopyIn),
//               bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) as in ReadHandoff,
//               void FreeBuffer()                              frees it; HasBuffer() false after
#pragma once

#include "wma_core.h"

// The low bits of the word say whose turn it is; they also settle the races the events
// leave open: a request that lapses (silent reader, end of stream reported meanwhile) is
// withdrawn only if the delivery thread has not yet taken it, and the buffer is freed only
// when no copy into it runs.
constexpr uint32_t kHandoffIdle = 0;       // no request outstanding; the host owns the block
constexpr uint32_t kHandoffRequested = 1;  // the host asked for a block; OnSample may take it
constexpr uint32_t kHandoffFilling = 2;    // OnSample is storing a block into the buffer
constexpr uint32_t kHandoffClosed = 3;     // the context is closing; no block is taken any more
constexpr uint32_t kHandoffStateMask = 3;
// The flag bits let a hand-over skip the event (a wineserver round trip under wine) while
// the other side is awake: a side announces, in the same atomic step in which it finds the
// turn not yet its own, that it is about to sleep on its event; the side handing the turn
// over clears the announcement in its own atomic step and then sets the event. Either the
// sleeper sees the turn, or the hand-over sees the announcement.
constexpr uint32_t kHostAsleep = 4;        // the host sleeps on ready: a hand-back sets it
constexpr uint32_t kDeliveryAsleep = 8;    // OnSample sleeps on request: a request sets it
constexpr uint32_t kHandoffStopping = 16;  // the close has begun: OnSample takes no block

enum HandoffEvent { kReadyEvent = 0, kRequestEvent = 1, kStopEvent = 2 };

inline uint32_t HandoffTurn(uint32_t word) { return word & kHandoffStateMask; }

// Replaces the turn and clears the flags in clear, in one atomic step; returns the word
// it replaced.
template <class P>
uint32_t HandoffHandOver(P& p, uint32_t turn, uint32_t clear) {
  for (;;) {
    const uint32_t word = p.LoadWord();
    if (p.SwapWord(word, (word & ~(kHandoffStateMask | clear)) | turn)) return word;
  }
}

// One step of a bounded wait for the other side: pauses first, then gives the processor
// away. False once the polls are spent and the caller should sleep on its event.
template <class P>
bool HandoffPollAgain(P& p, int& polls) {
  if (polls >= p.SpinPolls() + p.YieldPolls()) return false;
  if (polls++ < p.SpinPolls())
    p.Pause();
  else
    p.YieldThread();
  return true;
}

// --- The delivery side, on the SDK's thread ---

// Waits until the host asks for a block, then takes the buffer (the turn is then
// kHandoffFilling). False when the context is closing or the stream has ended.
template <class P>
bool HandoffTakeRequest(P& p) {
  int polls = 0;
  for (;;) {
    const uint32_t word = p.LoadWord();
    if (word & kHandoffStopping) return false;
    if (p.Ended()) return false;  // nobody will ask again
    const uint32_t turn = HandoffTurn(word);
    if (turn == kHandoffClosed) return false;
    if (turn == kHandoffRequested) {
      if (p.SwapWord(word, (word & ~kHandoffStateMask) | kHandoffFilling)) return true;
      continue;  // the word changed under us (withdrawn, stopping, host asleep): look again
    }
    if (HandoffPollAgain(p, polls)) continue;
    // Announce the sleep in the same step that finds no request, so that a request made
    // after it sees the announcement and sets the event.
    if (!(word & kDeliveryAsleep) && !p.SwapWord(word, word | kDeliveryAsleep)) continue;
    if (!p.WaitRequestOrStop()) return false;
    // Woken by a request (or by one withdrawn since): clear the event and look again.
    p.Reset(kRequestEvent);
  }
}

// OnSample's work: waits for a request, stores the block for the host and hands the turn
// back. A null block counts as empty. When the buffer cannot be had the stream ends with
// what was delivered. True when the block was stored; false when it was dropped (closing,
// stream ended, no memory).
template <class P>
bool HandoffDeliver(P& p, const void* data, uint32_t bytes) {
  if (!HandoffTakeRequest(p)) return false;
  const uint32_t n = data ? bytes : 0;
  const bool stored = StoreHandoffBlock(p, data, n);
  if (stored) {
    p.SetFilled(n);
  } else {
    p.SetFilled(0);
    p.SetEnded();
  }
  p.SetReadPos(0);
  // The turn back to the host; the event only if the host has gone to sleep on it.
  if (HandoffHandOver(p, kHandoffIdle, kHostAsleep) & kHostAsleep) p.Set(kReadyEvent);
  return stored;
}

// The end of the stream, from a status: the flag first, so a read woken by the event
// sees it.
template <class P>
void HandoffEndStream(P& p) {
  p.SetEnded();
  p.Set(kReadyEvent);
}

// --- The host's side ---

// Waits until no copy into the buffer runs and moves the turn to next, unless the
// hand-off is closed already. Returns the turn it found.
template <class P>
uint32_t HandoffSettle(P& p, uint32_t next) {
  for (;;) {
    const uint32_t word = p.LoadWord();
    const uint32_t turn = HandoffTurn(word);
    if (turn == kHandoffFilling) {
      p.Nap();  // a copy of one block is under way; it ends shortly
      continue;
    }
    if (turn == kHandoffClosed) return turn;
    if (p.SwapWord(word, (word & ~(kHandoffStateMask | kHostAsleep)) | next)) return turn;
  }
}

// Waits until the delivery thread hands the turn back or the stream ends. False when the
// reader has stayed silent for the platform's limit.
template <class P>
bool HandoffAwaitTurnBack(P& p) {
  const uint32_t start = p.NowMs();
  const uint32_t limit = p.SilentReaderLimitMs();
  int polls = 0;
  for (;;) {
    const uint32_t word = p.LoadWord();
    if (HandoffTurn(word) == kHandoffIdle || p.Ended()) return true;
    if (HandoffPollAgain(p, polls)) continue;
    if (!(word & kHostAsleep) && !p.SwapWord(word, word | kHostAsleep)) continue;
    const uint32_t waited = p.NowMs() - start;
    if (waited >= limit) return false;
    if (!p.WaitReady(limit - waited)) return false;
    // A block, the end, or a wake-up left over from an earlier turn: look again.
    p.Reset(kReadyEvent);
  }
}

// Asks the delivery thread for the next block and waits until it is in the buffer or the
// stream has ended (reported, or the reader silent for the limit).
template <class P>
void HandoffAwaitBlock(P& p) {
  if (HandoffHandOver(p, kHandoffRequested, kDeliveryAsleep) & kDeliveryAsleep)
    p.Set(kRequestEvent);
  const bool answered = HandoffAwaitTurnBack(p);
  // A request still outstanding was not taken: withdraw it so no block lands after the
  // host has gone on. A block being stored right now is waited for and used.
  if (HandoffSettle(p, kHandoffIdle) == kHandoffRequested && !answered)
    p.SetEnded();  // silent reader: give up on it
}

// The host's view of the block for ReadHandoff.
template <class P>
struct HandoffHostPort {
  P& p;
  uint32_t Filled() const { return p.Filled(); }
  uint32_t ReadPos() const { return p.ReadPos(); }
  void SetReadPos(uint32_t pos) { p.SetReadPos(pos); }
  bool Ended() const { return p.Ended(); }
  void AwaitBlock() { HandoffAwaitBlock(p); }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) { return p.CopyOut(from, to, n); }
};

// A host read: up to want bytes into out, across as many blocks as needed; fewer only at
// the end of the stream (see ReadHandoff).
template <class P>
uint32_t HandoffRead(P& p, uint8_t* out, uint32_t want) {
  HandoffHostPort<P> port{p};
  return ReadHandoff(port, out, want);
}

// The first step of a close, before the reader is stopped: no block is taken any more,
// and a delivery thread sleeping or polling for a request returns, so the reader can stop.
template <class P>
void HandoffStop(P& p) {
  for (uint32_t word = p.LoadWord(); !p.SwapWord(word, word | kHandoffStopping);)
    word = p.LoadWord();
  p.Set(kStopEvent);
}

// The last step of a close, once the reader is stopped: waits for a copy into the buffer
// still under way, closes the hand-off for good (an OnSample that still comes returns
// without touching anything) and frees the buffer.
template <class P>
void HandoffClose(P& p) {
  HandoffSettle(p, kHandoffClosed);
  if (p.HasBuffer()) p.FreeBuffer();
  p.SetFilled(0);
  p.SetReadPos(0);
}
