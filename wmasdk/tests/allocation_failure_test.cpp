// A failed allocation anywhere in the core never leaves it as an exception (the plug-in
// and hosts are built without them): each call reports out of memory, or the stream ends
// damaged, and everything is released (the sanitizers' leak check).
#include "ffmpeg_reader.h"
#include "ffmpeg_writer.h"
#include "failing_allocations.h"
#include "wma_test_files.h"

#include <gtest/gtest.h>

using namespace wmacore;
using namespace wmacore::testfiles;

namespace {

// Runs `attempt` with the n-th allocation failing for n = 0, 1, ... until a run meets no
// failure; attempt answers whether every result was one it may give.
template <class Attempt>
int FailEachAllocationInTurn(Attempt attempt) {
  for (long n = 0; n < 10000; ++n) {
    bool failed = false;
    FailAllocationsAfter(n);
    const bool sound = attempt(&failed);
    AllowAllocations();
    EXPECT_TRUE(sound) << "allocation " << n;
    if (!sound || !failed) return static_cast<int>(n);
  }
  return -1;
}

bool Allowed(int32_t result, bool* failed) {
  if (result == kNoMemory) *failed = true;
  return result == kOk || result == kNoMemory;
}

TEST(WmaAllocationFailure, WriterAndReaderReportOutOfMemory) {
  const std::string path = TempPath("allocation.wma");
  const std::vector<uint8_t> pcm = Sine(22050, 2, 16, 22050);
  const int writerPoints = FailEachAllocationInTurn([&](bool* failed) {
    int32_t result = kFailed;
    AsfWmaWriter* w = OpenWriter(path.c_str(), &result);
    if (!w) return Allowed(result, failed);
    uint32_t written = 0;
    bool sound = Allowed(SetWriterOutput(w, 48000, 22050, 2, &written), failed) &&
                 Allowed(SetWriterInput(w, 22050, 2, 16), failed);
    for (size_t at = 0; sound && at < pcm.size(); at += 8000)
      sound = Allowed(WritePcm(w, pcm.data() + at, static_cast<uint32_t>(std::min<size_t>(8000, pcm.size() - at))),
                      failed);
    sound = sound && Allowed(FinishWriter(w), failed);
    CloseWriter(w);
    return sound;
  });
  // The writer itself allocates 4 times (itself, its silence, its scratch, ...); the rest
  // are our encoder's (its transforms, buffers and packets): 81 in all, measured.
  EXPECT_GE(writerPoints, 60);
  Encode(path, {48000, 22050, 2, 22050, 2, 16}, pcm, 8000);

  std::vector<uint8_t> block(4096);  // made before any allocation may fail
  const int readerPoints = FailEachAllocationInTurn([&](bool* failed) {
    int32_t result = kFailed;
    StreamInfo info;
    AsfWmaReader* r = OpenReader(path.c_str(), &info, &result);
    if (!r) return Allowed(result, failed);
    uint32_t state = kMore;
    size_t bytes = 0;
    while (state == kMore) bytes += ReadPcm(r, block.data(), 4096, &state);
    CloseReader(r);
    if (state == kDamaged) *failed = true;
    return state == kDamaged || (state == kEnded && bytes == pcm.size());
  });
  EXPECT_GE(readerPoints, 2);  // the reader itself, and its first block of PCM
}

}  // namespace
