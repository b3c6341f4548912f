// EncoderContext natively under the sanitizers, with the stand-in encoder linked in
// directly: the file it writes, and what a failed open gives back.
#include <gtest/gtest.h>

#include <stdio.h>
#if defined(__linux__)
#include <signal.h>
#include <sys/resource.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "encoder_context.h"
#include "encoder_library.h"

using namespace vqf;

namespace {

int terminateCalls = 0;
int32_t TVQ_API CountingTerminate(FrameIndex* index) {
  ++terminateCalls;
  return TvqEncTerminate(index);
}

class EncoderContextTest : public testing::Test {
 protected:
  void SetUp() override {
    encoderEntryPoints = {TvqEncGetVectorInfo, TvqEncGetConfInfo, TvqEncUpdateVectorInfo, TvqEncGetFrameSize,
                          TvqEncInitialize,    TvqGetVersionID,   CountingTerminate,      TvqEncodeFrame};
    terminateCalls = 0;
  }
  void TearDown() override { encoderEntryPoints = EncoderEntryPoints{}; }

  static std::string Path(const char* name) { return testing::TempDir() + name; }

  static long FileSize(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return -1;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fclose(f);
    return size;
  }
};

}  // namespace

// 44 header bytes, then ceil(L / frame size) + 2 frame records of F bits, padded to a byte.
TEST_F(EncoderContextTest, WritesOneRecordPerStartedFrameAndTwoSilentOnes) {
  struct Case {
    uint32_t rate, channels, bits, kbps, samples;
    long frames, frameBits;
  } cases[] = {
      {8000, 1, 16, 8, 1000, 2 + 2, 512},
      {8000, 1, 16, 8, 1024, 2 + 2, 512},
      {44100, 2, 8, 48, 5000, 3 + 2, 4458},
      {11025, 1, 8, 8, 0, 0 + 2, 371},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.samples << " samples");
    std::string path = Path("context.vqf");
    EncoderContext* context = OpenEncoderContext(path.c_str(), c.channels, c.rate, c.bits, c.kbps);
    ASSERT_NE(context, nullptr);
    std::vector<uint8_t> pcm(c.samples * c.channels * c.bits / 8, 0x55);
    const size_t block = 6 * c.channels * c.bits / 8;  // blocks of 6 sample frames
    for (size_t at = 0; at < pcm.size(); at += block)
      EXPECT_TRUE(FeedEncoderContext(context, pcm.data() + at, std::min(block, pcm.size() - at)));
    FinishEncoderContext(context);
    EXPECT_EQ(terminateCalls, 1);
    terminateCalls = 0;
    EXPECT_EQ(FileSize(path), 44 + (c.frames * c.frameBits + 7) / 8);
  }
}

TEST_F(EncoderContextTest, FailedOpensLeaveNothingBehind) {
  std::string path = Path("refused.vqf");
  remove(path.c_str());
  EXPECT_EQ(OpenEncoderContext(path.c_str(), 2, 44100, 24, 48), nullptr);
  EXPECT_EQ(OpenEncoderContext(path.c_str(), 3, 44100, 16, 48), nullptr);
  EXPECT_EQ(OpenEncoderContext(path.c_str(), 2, 44100, 16, 8), nullptr) << "no 44 kHz mode at 8 kbps";
  EXPECT_EQ(terminateCalls, 0) << "nothing was initialised";
  EXPECT_EQ(FileSize(path), -1);
  // The encoder was initialised when the file cannot be created: it is terminated again.
  EXPECT_EQ(OpenEncoderContext((Path("no such dir") + "/x.vqf").c_str(), 1, 8000, 16, 8), nullptr);
  EXPECT_EQ(terminateCalls, 1);
}

#if defined(__linux__)
// The close writes the file's last piece and its tail frames and cannot report a failure:
// when the disk is full there, it removes the file rather than leave it cut short.
TEST_F(EncoderContextTest, FullDiskWhileClosingLeavesNoFileCutShort) {
  const std::string path = Path("closing.vqf");
  EncoderContext* context = OpenEncoderContext(path.c_str(), 1, 11025, 16, 8);
  ASSERT_NE(context, nullptr);
  const std::vector<int16_t> pcm(4000, 1000);  // about 500 bytes of file: all still buffered
  ASSERT_TRUE(FeedEncoderContext(context, pcm.data(), pcm.size() * 2));
  ASSERT_EQ(FileSize(path), 0);
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = 100;  // the header fits, the rest does not
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  FinishEncoderContext(context);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(FileSize(path), -1) << "the close left a file cut short";
}
#endif
