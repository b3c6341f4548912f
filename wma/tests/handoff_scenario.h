// One run of the import hand-off (wma_handoff.h over StdHandoff, the code the plug-in runs
// over Win32): a scripted delivery thread plays the SDK's reader, the calling thread plays
// the host's reads and its close. Shared by the native schedule tests (built with ASan and
// UBSan, and again with TSan) and the fuzz target.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HandoffScenario {
  enum class Act : uint8_t { Block, End, Silent, FailStore, Pause };
  struct Action {
    Act act;
    uint32_t size;  // bytes of a block; microseconds of a pause
  };
  // The reader's calls in order. End: the end-of-stream status; FailStore: the next block
  // finds no memory (its allocation, growth or lock fails).
  std::vector<Action> script;
  bool silentAtEnd = false;     // after the script no end status: the reader waits for its stop
  std::vector<uint32_t> reads;  // the host's read sizes, used in turn
  int closeAfterRead = -1;      // the host closes after this many reads; -1: after the end
  int failCopyAt = -1;          // that copy out (0-based) cannot reach the block; -1: none
  bool lateDelivery = false;    // the reader's stop does not wait for its thread
  uint32_t silentLimitMs = 10000;
  int spinPolls = 200, yieldPolls = 20;
  uint32_t jitter = 0;  // 1 in jitter word operations and copies yields or sleeps; 0: never
  uint32_t seed = 0;    // of the jitter
};

// A scenario from a source of numbers: pick(low, high) gives one in [low, high].
HandoffScenario MakeHandoffScenario(const std::function<uint32_t(uint32_t, uint32_t)>& pick);
std::string DescribeHandoffScenario(const HandoffScenario& s);

struct HandoffRunResult {
  std::string failure;  // empty when every check held
  bool sawEnd = false, gaveUp = false, closedEarly = false;
  uint32_t hostSleeps = 0, deliverySleeps = 0;  // waits on an event after the sleep announcement
  uint32_t settleWaits = 0;    // naps of the host while a block was being stored
  uint32_t droppedLate = 0;    // blocks offered after the close began, dropped
  uint64_t bytes = 0;
};

// Checks: every byte the host gets is the next byte of the delivered stream; a read returns
// short only at the end of the stream (or when a copy cannot reach the block) and nothing
// after the end; a clean stream arrives whole; the host gives up only on a reader that went
// silent (or under a very short limit); the buffer holds every block copied into it
// and is not touched once the close has returned; no block is stored after the close.
HandoffRunResult RunHandoffScenario(const HandoffScenario& s);
