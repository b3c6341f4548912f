#include "handoff_scenario.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "wma_handoff_std.h"

namespace {

using Act = HandoffScenario::Act;

constexpr uint32_t kLongSilentLimitMs = 10000;

uint8_t StreamByte(uint64_t offset) {
  return static_cast<uint8_t>(offset * 131 + (offset >> 8) * 7 + 1);
}

// StdHandoff with the scenario's faults and jitter, and an eye on who touches what when.
class ScenarioHandoff : public StdHandoff {
 public:
  explicit ScenarioHandoff(const HandoffScenario& s)
      : StdHandoff(s.silentLimitMs, s.spinPolls, s.yieldPolls),
        silentLimitMs_(s.silentLimitMs),
        jitter_(s.jitter),
        hostRandom_(s.seed),
        deliveryRandom_(s.seed ^ 0x9E3779B9u),
        failCopyAt_(s.failCopyAt) {}

  void Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(failureLock_);
    if (failure_.empty()) failure_ = what;
  }
  std::string Failure() {
    std::lock_guard<std::mutex> lock(failureLock_);
    return failure_;
  }
  bool OnHost() const { return std::this_thread::get_id() == host_; }

  // The platform's operations, as the state machine calls them.
  uint32_t LoadWord() {
    Jitter();
    return StdHandoff::LoadWord();
  }
  bool SwapWord(uint32_t expected, uint32_t desired) {
    Jitter();
    return StdHandoff::SwapWord(expected, desired);
  }
  bool WaitReady(uint32_t ms) {
    ++hostSleeps;
    const bool woken = StdHandoff::WaitReady(ms);
    // Under the long limit no reader takes that long over a block: when the turn is back
    // now, the hand-back came without waking the host.
    if (!woken && silentLimitMs_ >= kLongSilentLimitMs &&
        HandoffTurn(StdHandoff::LoadWord()) == kHandoffIdle)
      Fail("the host slept through a hand-back (a lost wake-up)");
    return woken;
  }
  bool WaitRequestOrStop() {
    ++deliverySleeps;
    return StdHandoff::WaitRequestOrStop();
  }
  void Nap() {
    ++settleWaits;
    StdHandoff::Nap();
  }
  void SetEnded() {
    if (OnHost()) gaveUp = true;  // only a silent reader makes the host end the stream
    StdHandoff::SetEnded();
  }
  bool Allocate(uint32_t n) {
    TouchBuffer("allocated");
    if (failNextStore.exchange(false)) return false;
    return StdHandoff::Allocate(n);
  }
  bool Grow(uint32_t n) {
    TouchBuffer("grown");
    if (n <= Capacity()) Fail("the buffer grown without need");
    if (failNextStore.exchange(false)) return false;
    return StdHandoff::Grow(n);
  }
  bool CopyIn(const void* data, uint32_t n) {
    TouchBuffer("copied into");
    if (n > Capacity()) Fail("a block copied beyond the buffer");
    if (failNextStore.exchange(false)) return false;  // the memory cannot be locked
    Jitter();
    return StdHandoff::CopyIn(data, n);
  }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) {
    if (uint64_t{from} + n > Filled() || Filled() > Capacity()) Fail("a copy out beyond the block");
    if (n != 0 && copies_++ == failCopyAt_) {
      copyFailed = true;
      return false;
    }
    return StdHandoff::CopyOut(from, to, n);
  }

  std::thread::id host_ = std::this_thread::get_id();
  std::atomic<bool> failNextStore{false};  // the next allocation, growth or copy in fails
  std::atomic<bool> readerStopped{false};  // the reader's Stop was called
  std::atomic<bool> closed{false};         // HandoffClose has returned
  bool copyFailed = false, gaveUp = false; // host thread only
  std::atomic<uint32_t> hostSleeps{0}, deliverySleeps{0}, settleWaits{0};

 private:
  void TouchBuffer(const char* how) {
    if (closed) Fail(std::string("the buffer ") + how + " after the close");
  }
  void Jitter() {
    if (jitter_ == 0) return;
    std::minstd_rand& random = OnHost() ? hostRandom_ : deliveryRandom_;
    const uint32_t r = random();
    if (r % jitter_ != 0) return;
    if ((r >> 8) % 4 == 0)
      std::this_thread::sleep_for(std::chrono::microseconds((r >> 12) % 200));
    else
      std::this_thread::yield();
  }

  const uint32_t silentLimitMs_;
  const uint32_t jitter_;
  std::minstd_rand hostRandom_, deliveryRandom_;
  const int failCopyAt_;
  int copies_ = 0;
  std::mutex failureLock_;
  std::string failure_;
};

void AwaitReaderStop(ScenarioHandoff& h) {
  while (!h.readerStopped) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// The reader's thread: OnSample for each block, OnStatus for the end, silences and pauses.
// A prompt reader begins no call after its Stop; a late one goes on with its script.
void Deliver(ScenarioHandoff& h, const HandoffScenario& s, uint64_t& stored,
             uint32_t& droppedLate) {
  std::vector<uint8_t> block;
  for (const HandoffScenario::Action& a : s.script) {
    if (h.readerStopped && !s.lateDelivery) return;
    switch (a.act) {
      case Act::Block: {
        block.resize(a.size);
        for (uint32_t i = 0; i < a.size; ++i) block[i] = StreamByte(stored + i);
        const bool closedBefore = h.closed;
        const bool stoppedBefore = h.readerStopped;
        if (HandoffDeliver(h, a.size ? block.data() : nullptr, a.size)) {
          if (closedBefore) h.Fail("a block stored after the close");
          stored += a.size;
        } else if (stoppedBefore) {
          ++droppedLate;
        }
        break;
      }
      case Act::End: HandoffEndStream(h); break;
      case Act::Silent: AwaitReaderStop(h); return;
      case Act::FailStore: h.failNextStore = true; break;
      case Act::Pause: std::this_thread::sleep_for(std::chrono::microseconds(a.size)); break;
    }
  }
  if (s.silentAtEnd) {
    AwaitReaderStop(h);
    return;
  }
  HandoffEndStream(h);
}

}  // namespace

HandoffScenario MakeHandoffScenario(const std::function<uint32_t(uint32_t, uint32_t)>& pick) {
  HandoffScenario s;
  bool silence = false;
  const uint32_t actions = pick(0, 24);
  for (uint32_t i = 0; i < actions; ++i) {
    const uint32_t kind = pick(0, 19);
    HandoffScenario::Action a{Act::Block, 0};
    if (kind < 2) a.size = 0;
    else if (kind < 11) a.size = pick(1, 4096);
    else if (kind < 14) a.size = pick(1, 20000);
    else if (kind == 14) a.act = Act::End;
    else if (kind == 15) a.act = Act::Silent;
    else if (kind == 16) a.act = Act::FailStore;
    else a = {Act::Pause, pick(1, 500)};
    silence = silence || a.act == Act::Silent;
    s.script.push_back(a);
  }
  s.silentAtEnd = pick(0, 7) == 0;
  silence = silence || s.silentAtEnd;
  s.reads.resize(pick(1, 6));
  for (uint32_t& r : s.reads) r = pick(0, 9) == 0 ? 0 : pick(1, 30000);
  s.closeAfterRead = pick(0, 1) ? static_cast<int>(pick(0, 40)) : -1;
  s.failCopyAt = pick(0, 14) == 0 ? static_cast<int>(pick(0, 20)) : -1;
  s.lateDelivery = pick(0, 3) == 0;
  // A short limit where the reader goes silent; sometimes a very short one otherwise, so
  // that the host gives up on a reader that is only slow.
  static const uint32_t kShortLimits[] = {1, 3, 10, 30};
  s.silentLimitMs = silence || pick(0, 7) == 0 ? kShortLimits[pick(0, 3)] : kLongSilentLimitMs;
  static const int kSpins[] = {0, 1, 20, 200};
  static const int kYields[] = {0, 2, 20};
  s.spinPolls = kSpins[pick(0, 3)];
  s.yieldPolls = kYields[pick(0, 2)];
  static const uint32_t kJitters[] = {0, 2, 8, 64};
  s.jitter = kJitters[pick(0, 3)];
  s.seed = pick(0, 0xFFFFFFFFu);
  return s;
}

std::string DescribeHandoffScenario(const HandoffScenario& s) {
  std::ostringstream text;
  text << "script:";
  for (const HandoffScenario::Action& a : s.script) {
    static const char* const kNames[] = {"block", "end", "silent", "fail-store", "pause"};
    text << ' ' << kNames[static_cast<int>(a.act)];
    if (a.act == Act::Block || a.act == Act::Pause) text << ' ' << a.size;
    text << ',';
  }
  text << (s.silentAtEnd ? " then silent" : " then end") << "\nreads:";
  for (uint32_t r : s.reads) text << ' ' << r;
  text << "\nclose after read " << s.closeAfterRead << ", failing copy " << s.failCopyAt
       << (s.lateDelivery ? ", late reader" : ", prompt reader") << ", silent limit "
       << s.silentLimitMs << " ms, polls " << s.spinPolls << "+" << s.yieldPolls << ", jitter "
       << s.jitter << ", seed " << s.seed << "\n";
  return text.str();
}

HandoffRunResult RunHandoffScenario(const HandoffScenario& s) {
  HandoffRunResult result;
  ScenarioHandoff h(s);
  uint64_t stored = 0;
  uint32_t droppedLate = 0;
  std::thread delivery(Deliver, std::ref(h), std::cref(s), std::ref(stored), std::ref(droppedLate));

  // The bytes of a clean stream: blocks up to the first end, with no fault or silence.
  // Whether the reader can fall silent before the end.
  uint64_t cleanBytes = 0;
  bool clean = true, endScripted = false, silence = false;
  for (const HandoffScenario::Action& a : s.script) {
    if (a.act == Act::End) {
      endScripted = true;
      break;
    }
    silence = silence || a.act == Act::Silent;
    if (a.act == Act::Silent || a.act == Act::FailStore) clean = false;
    if (a.act == Act::Block) cleanBytes += a.size;
  }
  if (!endScripted && s.silentAtEnd) clean = false, silence = true;

  const std::vector<uint32_t> reads = s.reads.empty() ? std::vector<uint32_t>{4096} : s.reads;
  uint64_t total = 0;
  size_t readsAfterEnd = 0;
  bool anyCopyFailed = false;
  std::vector<uint8_t> out;
  for (int call = 0; call < 400; ++call) {
    if (call == s.closeAfterRead) {
      result.closedEarly = true;
      break;
    }
    const uint32_t want = reads[static_cast<size_t>(call) % reads.size()];
    out.assign(want, 0);
    h.copyFailed = false;
    const uint32_t got = HandoffRead(h, out.data(), want);
    anyCopyFailed = anyCopyFailed || h.copyFailed;
    if (got > want) h.Fail("a read returned more than asked");
    for (uint32_t i = 0; i < got && i < want; ++i)
      if (out[i] != StreamByte(total + i)) {
        h.Fail("byte " + std::to_string(total + i) + " out of order");
        break;
      }
    if (result.sawEnd && got != 0) h.Fail("bytes after the end of the stream");
    total += got;
    if (got < want) {
      if (!h.Ended() && !h.copyFailed) h.Fail("a short read before the end of the stream");
      if (h.Ended() && !h.copyFailed) result.sawEnd = true;
    }
    if (result.sawEnd && ++readsAfterEnd > reads.size()) break;
    if (!h.Failure().empty()) break;
  }

  // The close, as CloseFilterInput runs it.
  HandoffStop(h);
  h.readerStopped = true;
  if (!s.lateDelivery) delivery.join();
  HandoffClose(h);
  h.closed = true;
  if (s.lateDelivery) delivery.join();
  if (h.HasBuffer()) h.Fail("the buffer outlived the close");

  // A limit this long is never reached by a reader that keeps delivering: a host giving up
  // then waited for a hand-over that never woke it.
  if (h.gaveUp && !silence && s.silentLimitMs >= kLongSilentLimitMs)
    h.Fail("the host gave up on a reader that was not silent (a lost wake-up)");
  if (total > stored) h.Fail("the host got more bytes than were stored");
  if (clean && result.sawEnd && !h.gaveUp && !anyCopyFailed && total != cleanBytes)
    h.Fail("a clean stream of " + std::to_string(cleanBytes) + " bytes gave " +
           std::to_string(total));

  result.failure = h.Failure();
  result.gaveUp = h.gaveUp;
  result.hostSleeps = h.hostSleeps;
  result.deliverySleeps = h.deliverySleeps;
  result.settleWaits = h.settleWaits;
  result.droppedLate = droppedLate;
  result.bytes = total;
  return result;
}
