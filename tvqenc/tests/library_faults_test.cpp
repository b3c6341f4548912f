// The entry points under faults: every allocation failing in turn inside the initialise
// and the frame encoder gives the failure value (never an exception through a C entry
// point), and the registry keeps an index initialised twice, or one ended already, from
// losing or reusing an instance.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "failing_allocations.h"
#include "instance_registry.h"
#include "library_header.h"
#include "tvqenc_api.h"

namespace {

// A frame of a chirp with a click, so every part of the encoder has work.
std::vector<float> Frame(int32_t frameSize, int32_t channels, int32_t number) {
  std::vector<float> s(size_t(frameSize) * channels);
  for (size_t i = 0; i < s.size(); ++i) {
    const double t = double(number) * frameSize + double(i % frameSize);
    s[i] = static_cast<float>(9000 * std::sin(t * t * 1e-6) + (i % frameSize == 700 ? 20000 : 0));
  }
  return s;
}

TEST(LibraryFaults, EveryAllocationFailureIsAFailureValue) {
  HeaderInfo header = LibraryHeader(44, 48, 2);
  EncoderTuning tuning{16};
  FrameIndex index;
  int32_t tried = 0;
  for (long n = 0;; ++n, ++tried) {
    std::memset(&index, 0, sizeof index);
    FailAllocationsAfter(n);
    const int32_t result = TvqEncInitialize(&header, &tuning, &index, 0);
    AllowAllocations();
    ASSERT_TRUE(result == 0 || result == -1);
    if (result == 0) break;
    ASSERT_EQ(tvqenc::LiveInstanceCount(), 0u) << "after failing allocation " << n;
  }
  EXPECT_GE(tried, 65);  // the initialise allocates 68 times: each point was tried
  const int32_t frameSize = TvqEncGetFrameSize();
  ASSERT_EQ(TvqEncTerminate(&index), 0);

  int32_t failedFrames = 0;
  for (long n = 0; n < 40; ++n) {
    std::memset(&index, 0, sizeof index);
    ASSERT_EQ(TvqEncInitialize(&header, &tuning, &index, 0), 0);
    for (int32_t f = 0; f < 3; ++f) {
      const std::vector<float> frame = Frame(frameSize, 2, f);
      FailAllocationsAfter(n);
      const int32_t result = TvqEncodeFrame(frame.data(), &index);
      AllowAllocations();
      ASSERT_TRUE(result == 0 || result == -1);
      failedFrames += result == -1;
    }
    ASSERT_EQ(TvqEncTerminate(&index), 0);
  }
  EXPECT_GT(failedFrames, 0);  // the frames do allocate: the failures were met
  EXPECT_EQ(tvqenc::LiveInstanceCount(), 0u);
}

TEST(LibraryFaults, RegistryEndsReinitialisedStreamsAndRefusesEndedOnes) {
  HeaderInfo header = LibraryHeader(22, 24, 1);
  EncoderTuning tuning{16};
  FrameIndex index;
  std::memset(&index, 0, sizeof index);
  ASSERT_EQ(TvqEncInitialize(&header, &tuning, &index, 0), 0);
  ASSERT_EQ(TvqEncInitialize(&header, &tuning, &index, 0), 0);  // the same index again
  EXPECT_EQ(tvqenc::LiveInstanceCount(), 1u);                    // the first was ended
  const std::vector<float> frame = Frame(TvqEncGetFrameSize(), 1, 0);
  EXPECT_EQ(TvqEncodeFrame(frame.data(), &index), 0);

  FrameIndex copy = index;
  EXPECT_EQ(TvqEncTerminate(&index), 0);
  EXPECT_EQ(tvqenc::LiveInstanceCount(), 0u);
  EXPECT_EQ(TvqEncodeFrame(frame.data(), &copy), -1);  // a copy of an ended stream's index
  EXPECT_EQ(TvqEncTerminate(&copy), -1);
  EXPECT_EQ(TvqEncTerminate(&index), 0);  // ended: nothing left to end

  FrameIndex garbage;
  std::memset(&garbage, 0x5A, sizeof garbage);
  EXPECT_EQ(TvqEncodeFrame(frame.data(), &garbage), -1);
  EXPECT_EQ(TvqEncTerminate(&garbage), -1);
}

// An ended stream's index copied before its end names the same address as a later stream
// that reuses the memory: its serial no longer matches, so it is refused.
TEST(LibraryFaults, AStaleCopyIsRefusedWhenItsAddressIsReused) {
  HeaderInfo header = LibraryHeader(22, 24, 1);
  EncoderTuning tuning{16};
  FrameIndex first{}, second{};
  ASSERT_EQ(TvqEncInitialize(&header, &tuning, &first, 0), 0);
  const FrameIndex stale = first;
  ASSERT_EQ(TvqEncTerminate(&first), 0);
  ASSERT_EQ(TvqEncInitialize(&header, &tuning, &second, 0), 0);
  FrameIndex reused = stale;
  std::memcpy(reused.libraryPrivate, second.libraryPrivate, sizeof(void*));  // the address only
  const std::vector<float> frame = Frame(TvqEncGetFrameSize(), 1, 0);
  for (FrameIndex* copy : {const_cast<FrameIndex*>(&stale), &reused}) {
    FrameIndex c = *copy;
    EXPECT_EQ(TvqEncodeFrame(frame.data(), &c), -1);
    EXPECT_EQ(TvqEncTerminate(&c), -1);
  }
  EXPECT_EQ(TvqEncodeFrame(frame.data(), &second), 0);  // the live stream is untouched
  EXPECT_EQ(TvqEncTerminate(&second), 0);
  EXPECT_EQ(tvqenc::LiveInstanceCount(), 0u);
}

// Ending a stream while a copy of its index encodes on another thread: the frame finishes
// on a live instance (ASan would see a use after free) and the last user deletes it.
TEST(LibraryFaults, EndingAStreamWhileAFrameEncodesWaitsForTheFrame) {
  HeaderInfo header = LibraryHeader(22, 24, 1);
  EncoderTuning tuning{16};
  for (int round = 0; round < 20; ++round) {
    FrameIndex index{};
    ASSERT_EQ(TvqEncInitialize(&header, &tuning, &index, 0), 0);
    FrameIndex copy = index;
    const std::vector<float> frame = Frame(TvqEncGetFrameSize(), 1, round);
    std::atomic<bool> started{false};
    std::thread encoder([&] {
      started = true;
      for (int i = 0; i < 4; ++i) TvqEncodeFrame(frame.data(), &copy);
    });
    while (!started) std::this_thread::yield();
    EXPECT_EQ(TvqEncTerminate(&index), 0);
    encoder.join();
    EXPECT_EQ(TvqEncodeFrame(frame.data(), &copy), -1);
    EXPECT_EQ(tvqenc::LiveInstanceCount(), 0u);
  }
}

// Each thread's layout queries answer for the mode it initialised, whatever another
// thread initialised since.
TEST(LibraryFaults, LayoutQueriesAnswerForTheCallingThreadsMode) {
  HeaderInfo mono8 = LibraryHeader(8, 8, 1), stereo44 = LibraryHeader(44, 48, 2);
  EncoderTuning tuning{16};
  FrameIndex mine{}, theirs{};
  ASSERT_EQ(TvqEncInitialize(&mono8, &tuning, &mine, 0), 0);
  const int32_t myFrame = TvqEncGetFrameSize();
  int32_t theirFrame = 0;
  std::thread other([&] {
    ASSERT_EQ(TvqEncInitialize(&stereo44, &tuning, &theirs, 0), 0);
    theirFrame = TvqEncGetFrameSize();
  });
  other.join();
  EXPECT_NE(myFrame, theirFrame);
  EXPECT_EQ(TvqEncGetFrameSize(), myFrame);
  EXPECT_EQ(TvqEncTerminate(&mine), 0);
  EXPECT_EQ(TvqEncTerminate(&theirs), 0);
}

}  // namespace
