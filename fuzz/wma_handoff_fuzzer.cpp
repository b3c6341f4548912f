// The host side of the WMA import hand-off (ReadHandoff) driven by a scripted delivery
// thread: blocks of any size (empty ones too), end, error and other statuses at any point,
// blocks after the end, a reader that goes silent, a buffer that cannot be had or locked,
// and a close at any moment. The two threads meet as in the plug-in: three manual-reset
// events, a hand-off state word, one block in flight, a limit on waiting for a silent reader.
//
// The delivery side stores each block through the core's StoreHandoffBlock.
// Checks: every byte the host gets is the next byte of the delivered stream; a read returns
// short only at the end of the stream (or when the block cannot be reached); a clean stream
// is delivered whole; nothing hangs (libFuzzer's -timeout catches a stuck input).
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "wma_core.h"

namespace {

using namespace std::chrono_literals;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "WMA hand-off: %s\n", what);
    abort();
  }
}

uint8_t StreamByte(uint64_t offset) { return static_cast<uint8_t>(offset * 131 + (offset >> 8) * 7 + 1); }

// A manual-reset event.
class Event {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = true;
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = false;
  }
  bool IsSet() {
    std::lock_guard<std::mutex> lock(m_);
    return set_;
  }
  bool Wait(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, limit, [this] { return set_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

enum : int { kIdle, kRequested, kFilling, kClosed };
constexpr auto kSilentReaderLimit = 5ms;

struct Context {
  Event ready, request, stop;
  std::mutex either;  // waits on request-or-stop poll both events
  std::atomic<int> handoff{kIdle};
  std::atomic<bool> endOfStream{false};
  std::vector<uint8_t> buffer;  // capacity = size; grown, never shrunk
  bool haveBuffer = false;
  uint32_t filled = 0, readPos = 0;
  // Scripted faults.
  std::atomic<bool> failNextAllocation{false};
  int failCopyAt = -1;  // the n-th copy cannot reach the block
  int copies = 0;
  bool gaveUp = false;  // the host stopped waiting for a silent reader
};

// --- The delivery side, as the reader's thread runs it ---

bool TakeRequest(Context& c) {
  for (;;) {
    if (c.endOfStream) return false;
    while (!c.request.IsSet() && !c.stop.IsSet()) c.request.Wait(1ms);
    if (c.stop.IsSet()) return false;  // stop wins
    int expected = kRequested;
    if (c.handoff.compare_exchange_strong(expected, kFilling)) return true;
    std::this_thread::sleep_for(100us);  // the host is withdrawing its request
  }
}

// The buffer side of the plug-in's core (StoreHandoffBlock) over a vector whose
// allocation can be made to fail.
struct StorePort {
  Context& c;
  bool HasBuffer() const { return c.haveBuffer; }
  uint32_t Capacity() const { return static_cast<uint32_t>(c.buffer.size()); }
  bool Allocate(uint32_t n) {
    Check(!c.haveBuffer, "a second buffer allocated");
    if (c.failNextAllocation.exchange(false)) return false;
    c.buffer.assign(n, 0);
    c.haveBuffer = true;
    return true;
  }
  bool Grow(uint32_t n) {
    Check(c.haveBuffer && n > c.buffer.size(), "the buffer grown without need");
    if (c.failNextAllocation.exchange(false)) return false;
    c.buffer.resize(n);
    return true;
  }
  bool CopyIn(const void* data, uint32_t n) {
    Check(n <= c.buffer.size(), "a block copied beyond the buffer");
    std::memcpy(c.buffer.data(), data, n);
    return true;
  }
};

// Returns true when the block was stored for the host.
bool OnSample(Context& c, const std::vector<uint8_t>& block) {
  if (!TakeRequest(c)) return false;
  c.request.Reset();
  StorePort store{c};
  const size_t capacityBefore = c.buffer.size();
  const bool stored = StoreHandoffBlock(store, block.data(), static_cast<uint32_t>(block.size()));
  Check(c.buffer.size() >= capacityBefore, "the buffer shrank");
  if (stored) {
    c.filled = static_cast<uint32_t>(block.size());
  } else {
    c.filled = 0;
    c.endOfStream = true;
  }
  c.readPos = 0;
  c.handoff = kIdle;
  c.ready.Set();
  return stored;
}

void EndStream(Context& c) {
  c.endOfStream = true;
  c.ready.Set();
}

enum class Act { Block, End, Error, OtherStatus, Silent, FailStore };
struct Action {
  Act act;
  uint32_t size;
};

void Deliver(Context& c, const std::vector<Action>& script, bool silentAtEnd) {
  uint64_t stored = 0;
  for (const Action& a : script) {
    if (c.stop.IsSet()) return;
    switch (a.act) {
      case Act::Block: {
        std::vector<uint8_t> block(a.size);
        for (uint32_t i = 0; i < a.size; ++i) block[i] = StreamByte(stored + i);
        if (OnSample(c, block)) stored += a.size;
        break;
      }
      case Act::End:
      case Act::Error: EndStream(c); break;  // an error status ends the stream too
      case Act::OtherStatus: break;
      case Act::Silent:
        while (!c.stop.Wait(50ms)) {}
        return;
      case Act::FailStore: c.failNextAllocation = true; break;
    }
  }
  if (silentAtEnd) {
    while (!c.stop.Wait(50ms)) {}
    return;
  }
  EndStream(c);
}

// --- The host side: the port ReadHandoff works through ---

int Settle(Context& c, int next) {
  for (;;) {
    int state = c.handoff;
    if (state == kFilling) {
      std::this_thread::sleep_for(100us);
      continue;
    }
    if (state == kClosed) return state;
    if (c.handoff.compare_exchange_strong(state, next)) return state;
  }
}

struct Port {
  Context& c;
  bool copyFailed = false;
  uint32_t Filled() const { return c.filled; }
  uint32_t ReadPos() const { return c.readPos; }
  void SetReadPos(uint32_t pos) {
    Check(pos <= c.filled, "read position beyond the block");
    c.readPos = pos;
  }
  bool Ended() const { return c.endOfStream; }
  void AwaitBlock() {
    c.handoff = kRequested;
    c.request.Set();
    const bool woke = c.ready.Wait(kSilentReaderLimit);
    c.ready.Reset();
    if (Settle(c, kIdle) == kRequested) {
      c.request.Reset();
      if (!woke) {
        c.endOfStream = true;
        c.gaveUp = true;
      }
    }
  }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) {
    Check(from + n <= c.filled && c.filled <= c.buffer.size(), "copy beyond the block");
    if (n == 0) return true;
    if (c.copies++ == c.failCopyAt) {
      copyFailed = true;
      return false;
    }
    std::copy(c.buffer.begin() + from, c.buffer.begin() + from + n, to);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider p(data, size);
  std::vector<Action> script;
  const size_t actions = p.ConsumeIntegralInRange<size_t>(0, 24);
  uint64_t cleanBytes = 0;  // bytes of the blocks before anything that ends the stream
  bool clean = true;        // nothing but blocks and harmless statuses before the end
  for (size_t i = 0; i < actions; ++i) {
    const int kind = p.ConsumeIntegralInRange<int>(0, 19);
    Action a{Act::Block, 0};
    if (kind < 14) a.size = kind < 2 ? 0 : p.ConsumeIntegralInRange<uint32_t>(1, kind < 12 ? 4096 : 20000);
    else if (kind == 14) a.act = Act::End;
    else if (kind == 15) a.act = Act::Error;
    else if (kind == 16) a.act = Act::OtherStatus;
    else if (kind == 17) a.act = Act::Silent;
    else a.act = Act::FailStore;
    if (a.act == Act::Block && clean) cleanBytes += a.size;
    if (a.act != Act::Block && a.act != Act::OtherStatus) clean = false;
    script.push_back(a);
  }
  const bool silentAtEnd = p.ConsumeIntegralInRange<int>(0, 7) == 0;
  if (silentAtEnd) clean = false;
  std::vector<uint32_t> reads(p.ConsumeIntegralInRange<size_t>(1, 6));
  for (uint32_t& r : reads) r = p.ConsumeIntegralInRange<uint32_t>(0, 30000);
  const int closeAfter = p.ConsumeBool() ? p.ConsumeIntegralInRange<int>(0, 40) : -1;

  Context c;
  c.failCopyAt = p.ConsumeIntegralInRange<int>(0, 15) == 0 ? p.ConsumeIntegralInRange<int>(0, 20) : -1;
  std::thread delivery(Deliver, std::ref(c), std::cref(script), silentAtEnd);

  Port port{c};
  uint64_t total = 0;
  bool sawEnd = false, closedEarly = false;
  for (int call = 0; call < 400; ++call) {
    if (call == closeAfter) {
      closedEarly = true;
      break;
    }
    const uint32_t want = reads[call % reads.size()];
    std::vector<uint8_t> out(want);
    port.copyFailed = false;
    const uint32_t got = ReadHandoff(port, out.data(), want);
    Check(got <= want, "read returned more than asked");
    for (uint32_t i = 0; i < got; ++i) Check(out[i] == StreamByte(total + i), "byte out of order");
    total += got;
    if (sawEnd) Check(got == 0, "bytes after the end of the stream");
    if (got < want) {
      Check(port.Ended() || port.copyFailed, "short read before the end of the stream");
      if (port.Ended() && !port.copyFailed) sawEnd = true;
    }
    if (sawEnd && call % reads.size() == reads.size() - 1) break;
  }
  if (clean && sawEnd && !c.gaveUp && c.failCopyAt < 0 && !closedEarly)
    Check(total == cleanBytes, "a clean stream was not delivered whole");

  // Close: stop wakes a waiting delivery, the reader's thread ends, the buffer goes.
  c.stop.Set();
  delivery.join();
  Check(Settle(c, kClosed) != kFilling, "close while a block was being stored");
  return 0;
}
