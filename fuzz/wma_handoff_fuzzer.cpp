// The WMA import hand-off as the plug-in runs it: the state machine of wma/wma_handoff.h
// (state word with sleep announcements, ready, request and stop events) over its standard
// library platform (wma/wma_handoff_std.h), driven by wma/tests/handoff_scenario.cpp: a
// scripted delivery thread (blocks of any size, the end status, silences, allocations that
// fail, pauses, a reader that goes on after its stop) against the host's reads (sizes,
// copies that fail, a close after any read). The input picks every choice of the scenario.
// Checks: the scenario's (bytes in order, short reads only at the end, a clean stream
// whole, no buffer touched and no block stored after the close); libFuzzer's -timeout
// catches a hang.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "handoff_scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const HandoffScenario s = MakeHandoffScenario(
      [&](uint32_t low, uint32_t high) { return input.ConsumeIntegralInRange<uint32_t>(low, high); });
  const HandoffRunResult result = RunHandoffScenario(s);
  if (!result.failure.empty()) {
    std::fprintf(stderr, "WMA hand-off: %s\n%s", result.failure.c_str(),
                 DescribeHandoffScenario(s).c_str());
    std::abort();
  }
  return 0;
}
