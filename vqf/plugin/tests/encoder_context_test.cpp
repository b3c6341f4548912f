// EncoderContext natively under the sanitizers, with the stand-in encoder linked in
// directly: the file it writes, and what a failed open gives back.
#include <gtest/gtest.h>

#include <stdio.h>
#if defined(__linux__)
#include <signal.h>
#include <sys/resource.h>
#endif

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoder_context.h"
#include "encoder_library.h"
#include "failing_allocations.h"
#include "test_files.h"

using namespace vqf;

namespace {

int terminateCalls = 0;
int32_t TVQ_API CountingTerminate(FrameIndex* index) {
  ++terminateCalls;
  return TvqEncTerminate(index);
}

#if defined(__linux__)
// Runs body with the file-size limit at bytes and SIGXFSZ ignored, so writes past the limit
// fail as on a full disk.
template <typename Body>
void WithFileSizeLimit(rlim_t bytes, Body body) {
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = bytes;
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  body();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
}

// The process's open file descriptors.
size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}
#endif

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
  WithFileSizeLimit(100, [&] { FinishEncoderContext(context); });  // the header fits, the rest does not
  EXPECT_EQ(FileSize(path), -1) << "the close left a file cut short";
}

// A header larger than the first 1024-byte write that the disk does not take whole: the
// open fails and leaves no file (the library's stream is ended again).
TEST_F(EncoderContextTest, HeaderThatCannotBeWrittenFailsTheOpen) {
  ScratchDirectory dir("vqf_context_header");
  WriteTextFile("header_info/NOTE", std::string(6000, 'n'));
  EncoderContext* context = reinterpret_cast<EncoderContext*>(1);
  WithFileSizeLimit(2000, [&] { context = OpenEncoderContext("cut.vqf", 2, 44100, 16, 48); });
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(terminateCalls, 1);
  EXPECT_EQ(FileSize("cut.vqf"), -1) << "a file with a cut header was left";
}

// The host's file dialog may change the current directory between open and close: a close
// that cannot finish the file removes the file it created, not one of the same relative
// name in the new directory.
TEST_F(EncoderContextTest, CloseRemovesTheFileOfTheOpenAfterTheDirectoryChanged) {
  ScratchDirectory dir("vqf_context_cwd");
  WriteTextFile("other/x.vqf", "keep me");
  std::filesystem::create_directory("first");
  std::filesystem::current_path("first");
  EncoderContext* context = OpenEncoderContext("x.vqf", 1, 11025, 16, 8);
  ASSERT_NE(context, nullptr);
  std::filesystem::current_path("../other");
  WithFileSizeLimit(100, [&] { FinishEncoderContext(context); });
  EXPECT_EQ(FileSize("../first/x.vqf"), -1) << "the unfinished file stayed";
  EXPECT_EQ(ReadFileBytes("x.vqf"), Bytes("keep me")) << "another file was removed";
}

// Every allocation of the open failing in turn (storing the name, the header's chunks
// while a header_info file is open, the frame buffer): the open fails without an
// exception, with no file, no open stream and the encoder's stream ended.
TEST_F(EncoderContextTest, AllocationFailureAnywhereInTheOpenFailsItCleanly) {
  ScratchDirectory dir("vqf_context_memory");
  WriteTextFile("header_info/TRAC", "7\n");
  WriteTextFile("header_info/ALBM", std::string(300, 'a'));
  WriteTextFile("header_info/SCND/NAME", "second");
  const size_t descriptors = OpenDescriptors();
  long failedAt = 0;
  for (;; ++failedAt) {
    terminateCalls = 0;
    FailAllocationsAfter(failedAt);
    EncoderContext* context = nullptr;
    bool threw = false;
    try {
      context = OpenEncoderContext("memory.vqf", 1, 8000, 16, 8);
    } catch (...) {
      threw = true;
    }
    AllowAllocations();
    ASSERT_FALSE(threw) << "allocation " << failedAt;
    if (context) {
      FinishEncoderContext(context);
      break;
    }
    // Before the library's stream exists nothing is to end; after it, exactly once.
    EXPECT_LE(terminateCalls, 1) << "allocation " << failedAt;
    EXPECT_EQ(FileSize("memory.vqf"), -1) << "allocation " << failedAt;
    EXPECT_EQ(OpenDescriptors(), descriptors) << "allocation " << failedAt;
  }
  EXPECT_GT(failedAt, 20) << "the header's chunks allocate";
}
#endif

namespace {

struct Mode {
  uint32_t rate, channels, kbps, frameSize, samples;
};

// A tone whose loudness steps every 3000 sample frames, so every block type occurs.
std::vector<int16_t> TestSignal(const Mode& m) {
  std::vector<int16_t> pcm(m.samples * m.channels);
  for (uint32_t i = 0; i < m.samples; ++i)
    for (uint32_t c = 0; c < m.channels; ++c)
      pcm[i * m.channels + c] = static_cast<int16_t>(((i / 3000) % 2 ? 20000 : 600) *
                                                     std::sin(0.05 * (c + 1) * i));
  return pcm;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    for (int c; (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    fclose(f);
  }
  return bytes;
}

// Samples per channel that ffmpeg decodes from the file, or -1 without ffmpeg.
long FfmpegSamplesPerChannel(const std::string& path, uint32_t channels) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) return -1;
  const std::string raw = path + ".raw";
  std::remove(raw.c_str());
  std::system(("ffmpeg -nostdin -v quiet -i '" + path + "' -f s16le -y '" + raw + "'").c_str());
  return static_cast<long>(ReadAll(raw).size() / (2 * channels));
}

}  // namespace

// Two exports of different modes at once: each keeps the frame layout of its own mode, so
// its file is byte for byte what it would be alone, whatever the order of writes and closes.
TEST_F(EncoderContextTest, ContextsOfDifferentModesKeepTheirOwnLayouts) {
  const Mode modes[2] = {{8000, 1, 8, 512, 7000}, {44100, 2, 48, 2048, 20000}};
  std::vector<int16_t> pcm[2];
  std::vector<uint8_t> alone[2];
  for (int m = 0; m < 2; ++m) {
    pcm[m] = TestSignal(modes[m]);
    const std::string path = Path("alone.vqf");
    EncoderContext* context = OpenEncoderContext(path.c_str(), modes[m].channels, modes[m].rate, 16, modes[m].kbps);
    ASSERT_NE(context, nullptr);
    ASSERT_TRUE(FeedEncoderContext(context, pcm[m].data(), pcm[m].size() * 2));
    FinishEncoderContext(context);
    alone[m] = ReadAll(path);
  }
  for (int firstClosed = 0; firstClosed < 2; ++firstClosed) {
    SCOPED_TRACE(testing::Message() << "context " << firstClosed << " closed first");
    std::string paths[2] = {Path("together0.vqf"), Path("together1.vqf")};
    EncoderContext* contexts[2];
    for (int m = 0; m < 2; ++m) {
      contexts[m] = OpenEncoderContext(paths[m].c_str(), modes[m].channels, modes[m].rate, 16, modes[m].kbps);
      ASSERT_NE(contexts[m], nullptr);
    }
    // Blocks of 700 sample frames, taking turns until both streams are through.
    size_t at[2] = {0, 0};
    while (at[0] < modes[0].samples || at[1] < modes[1].samples) {
      for (int m = 0; m < 2; ++m) {
        const size_t frames = std::min<size_t>(700, modes[m].samples - at[m]);
        if (frames == 0) continue;
        ASSERT_TRUE(FeedEncoderContext(contexts[m], pcm[m].data() + at[m] * modes[m].channels,
                                       frames * modes[m].channels * 2));
        at[m] += frames;
      }
    }
    FinishEncoderContext(contexts[firstClosed]);
    FinishEncoderContext(contexts[1 - firstClosed]);
    for (int m = 0; m < 2; ++m) {
      EXPECT_TRUE(ReadAll(paths[m]) == alone[m]) << "file " << m << " differs from the one written alone";
      const long decoded = FfmpegSamplesPerChannel(paths[m], modes[m].channels);
      const long expected = (modes[m].samples + modes[m].frameSize - 1) / modes[m].frameSize * modes[m].frameSize;
      if (decoded >= 0) EXPECT_EQ(decoded, expected) << "ffmpeg's decode of file " << m;
    }
  }
}
