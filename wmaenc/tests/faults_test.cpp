// Failing allocations at every point of opening and encoding give kNoMemory, never an
// exception, and an encoder that failed can be opened again and works.
#include <gtest/gtest.h>

#include <vector>

#include "encoder.h"
#include "failing_allocations.h"

namespace {

using wmaenc::Encoder;
using wmaenc::Result;

Result OpenAndEncode(Encoder* enc, const wmaenc::StreamSetup& setup, const std::vector<float>& pcm) {
  const Result opened = enc->Open(setup, true);
  if (opened != Result::kOk) return opened;
  const float* planes[2] = {pcm.data(), pcm.data()};
  for (int32_t i = 0; i < 4; ++i) {
    const Result r = enc->EncodeFrame(planes);
    if (r != Result::kOk) return r;
  }
  return enc->Finish();
}

TEST(WmaencFaults, EveryFailedAllocationIsNoMemory) {
  wmaenc::StreamSetup setup;
  ASSERT_TRUE(wmaenc::MakeStreamSetup(44100, 2, 128000, &setup));
  const std::vector<float> pcm(setup.frameLength, 0.25f);
  int32_t failures = 0;
  for (long n = 0; n < 400; ++n) {
    Encoder enc;
    FailAllocationsAfter(n);
    const Result r = OpenAndEncode(&enc, setup, pcm);
    AllowAllocations();
    if (r == Result::kOk) break;
    ASSERT_EQ(r, Result::kNoMemory) << "after " << n << " allocations";
    ++failures;
    // The same encoder recovers once memory is there again.
    ASSERT_EQ(OpenAndEncode(&enc, setup, pcm), Result::kOk);
  }
  EXPECT_GT(failures, 10);  // the loop reached allocations in Open, EncodeFrame and Finish
}

}  // namespace
