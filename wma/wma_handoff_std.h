// The hand-off's platform over the C++ standard library: the state word a std::atomic,
// the three manual-reset events flags under one mutex and condition variable, the block
// in heap memory. The native tests and the fuzz target run wma_handoff.h's state machine
// over it; the plug-in runs the same machine over Win32 (wma_import.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "wma_handoff.h"

class StdHandoff {
 public:
  StdHandoff(uint32_t silentReaderLimitMs, int spinPolls, int yieldPolls)
      : silentLimitMs_(silentReaderLimitMs), spinPolls_(spinPolls), yieldPolls_(yieldPolls) {}

  uint32_t LoadWord() const { return word_.load(std::memory_order_acquire); }
  bool SwapWord(uint32_t expected, uint32_t desired) {
    return word_.compare_exchange_strong(expected, desired);
  }

  void Set(HandoffEvent e) {
    std::lock_guard<std::mutex> lock(eventLock_);
    signalled_[e] = true;
    eventChanged_.notify_all();
  }
  void Reset(HandoffEvent e) {
    std::lock_guard<std::mutex> lock(eventLock_);
    signalled_[e] = false;
  }
  bool WaitReady(uint32_t ms) {
    std::unique_lock<std::mutex> lock(eventLock_);
    return eventChanged_.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return signalled_[kReadyEvent]; });
  }
  bool WaitRequestOrStop() {
    std::unique_lock<std::mutex> lock(eventLock_);
    eventChanged_.wait(lock, [this] { return signalled_[kStopEvent] || signalled_[kRequestEvent]; });
    return !signalled_[kStopEvent];
  }

  uint32_t NowMs() const {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Pause() {}
  void YieldThread() { std::this_thread::yield(); }
  void Nap() { std::this_thread::sleep_for(std::chrono::microseconds(100)); }
  int SpinPolls() const { return spinPolls_; }
  int YieldPolls() const { return yieldPolls_; }
  uint32_t SilentReaderLimitMs() const { return silentLimitMs_; }

  bool Ended() const { return ended_.load(std::memory_order_acquire); }
  void SetEnded() { ended_.store(true, std::memory_order_release); }

  uint32_t Filled() const { return filled_; }
  uint32_t ReadPos() const { return readPos_; }
  void SetFilled(uint32_t n) { filled_ = n; }
  void SetReadPos(uint32_t pos) { readPos_ = pos; }
  bool HasBuffer() const { return buffer_ != nullptr; }
  uint32_t Capacity() const { return capacity_; }
  bool Allocate(uint32_t n) {
    buffer_.reset(new (std::nothrow) uint8_t[n]);
    capacity_ = buffer_ ? n : 0;
    return buffer_ != nullptr;
  }
  bool Grow(uint32_t n) {  // the old bytes need not survive: a whole block follows
    std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[n]);
    if (!larger) return false;
    buffer_ = std::move(larger);
    capacity_ = n;
    return true;
  }
  bool CopyIn(const void* data, uint32_t n) {
    std::memcpy(buffer_.get(), data, n);
    return true;
  }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) {
    if (n != 0) std::memcpy(to, buffer_.get() + from, n);
    return true;
  }
  void FreeBuffer() {
    buffer_.reset();
    capacity_ = 0;
  }

 private:
  std::atomic<uint32_t> word_{kHandoffIdle};
  std::atomic<bool> ended_{false};
  std::mutex eventLock_;
  std::condition_variable eventChanged_;
  bool signalled_[3] = {false, false, false};
  const uint32_t silentLimitMs_;
  const int spinPolls_, yieldPolls_;
  uint32_t filled_ = 0, readPos_ = 0, capacity_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
};
