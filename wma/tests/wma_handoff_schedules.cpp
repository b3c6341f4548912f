// Random schedules of the import hand-off: block sizes, statuses, silences, allocation and
// copy faults, prompt and late readers, closes after any read, poll counts from none to
// many, and random yields and sleeps inside the word operations so that the two threads
// meet at every step. Built twice natively, with ASan and UBSan and with ThreadSanitizer.
//   wma_handoff_schedules [count [first seed]]
// Fails on the first scenario whose checks fail, printing it, and when the run as a whole
// never reached a path it is meant to cover (sleeps on both events, a host giving up on a
// silent reader, blocks offered after the close).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "handoff_scenario.h"

int main(int argc, char** argv) {
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 500;
  const uint32_t first = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;

  // A scenario that hangs is reported with its seed instead of running into CTest's limit.
  std::atomic<uint32_t> current{first};
  std::atomic<uint32_t> finished{0};
  std::thread watchdog([&] {
    uint32_t seen = 0;
    for (int idle = 0;; std::this_thread::sleep_for(std::chrono::seconds(1))) {
      if (finished == count) return;
      idle = finished == seen ? idle + 1 : 0;
      seen = finished;
      if (idle == 60) {
        std::fprintf(stderr, "seed %u has not finished in 60 s\n", current.load());
        std::abort();
      }
    }
  });

  HandoffRunResult sum;
  uint32_t ends = 0, gaveUp = 0, closedEarly = 0;
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  for (uint32_t seed = first; seed != first + count; ++seed) {
    current = seed;
    std::mt19937 random(seed);
    const HandoffScenario s = MakeHandoffScenario(
        [&](uint32_t low, uint32_t high) { return std::uniform_int_distribution<uint32_t>(low, high)(random); });
    const HandoffRunResult r = RunHandoffScenario(s);
    if (!r.failure.empty()) {
      std::fprintf(stderr, "seed %u: %s\n%s", seed, r.failure.c_str(), DescribeHandoffScenario(s).c_str());
      status = 1;
      break;
    }
    ends += r.sawEnd;
    gaveUp += r.gaveUp;
    closedEarly += r.closedEarly;
    sum.hostSleeps += r.hostSleeps;
    sum.deliverySleeps += r.deliverySleeps;
    sum.settleWaits += r.settleWaits;
    sum.droppedLate += r.droppedLate;
    sum.bytes += r.bytes;
    ++finished;
  }
  const uint32_t ran = finished;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  finished = count;
  watchdog.join();
  std::printf("%u scenarios in %.1f s: %llu bytes read, %u ended, %u gave up on a silent reader, "
              "%u closed early; sleeps: host %u, delivery %u; waits for a copy under way %u; "
              "blocks dropped after the close began %u\n",
              ran, seconds, static_cast<unsigned long long>(sum.bytes), ends, gaveUp,
              closedEarly, sum.hostSleeps, sum.deliverySleeps, sum.settleWaits, sum.droppedLate);
  if (status == 0 && count >= 200 &&
      (sum.hostSleeps == 0 || sum.deliverySleeps == 0 || gaveUp == 0 || sum.droppedLate == 0)) {
    std::fprintf(stderr, "the schedules missed a path they are meant to cover\n");
    status = 1;
  }
  return status;
}
