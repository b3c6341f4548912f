// vell_vqf.flt through its real exports, with the stand-in encoder library beside the
// program: what the query reports, which sample types and modes open, what reaches the
// file's header, how many frames a stream becomes, and when the library is loaded.
#include <string.h>

#include "vqf_test_support.h"

using namespace vqftest;

namespace {

// The frame layout of the modes the tests use (samples per channel, bits per frame).
struct Mode {
  long sampleRate;
  WORD channels;
  DWORD options;
  uint32_t frameSize;
  uint32_t frameBits;
};
constexpr Mode kMono8k{8000, 1, 1, 512, 512};
constexpr Mode kStereo44k{44100, 2, 8, 2048, 4458};
constexpr Mode kMono11k{11025, 1, 1, 512, 371};

constexpr size_t kHeaderBytes = 44;  // root id, size, COMM and DATA with no header_info

// The size of a file holding the header and `frames` frame records.
size_t FileSizeFor(const Mode& mode, size_t frames) {
  return kHeaderBytes + (frames * mode.frameBits + 7) / 8;
}

}  // namespace

TEST(VqfQuery, WritesItsOwnFieldsOnly) {
  uint8_t record[200];
  memset(record, 0xCD, sizeof record);
  auto* query = reinterpret_cast<FilterQuery*>(record);
  ASSERT_TRUE(Plugin().loaded());
  EXPECT_EQ(Plugin().query(query), VELL_FILTER_QUERY_RESULT);
  EXPECT_STREQ(query->name, "TwinVQ");
  EXPECT_STREQ(query->description, "blah");
  EXPECT_STREQ(query->extension, "VQF");
  EXPECT_EQ(query->blockSize, 4096u);
  EXPECT_EQ(query->flags, 0x106u);  // writes, reads, has options
  const uint16_t expected[14] = {0, 0, 0, 20, 0xCDCD, 20, 0, 0, 20, 0xCDCD, 20, 0, 0, 0xCDCD};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(query->capabilityWords[i], expected[i]) << "word " << i;
  for (size_t i = offsetof(FilterQuery, extension2); i < sizeof record; ++i)
    EXPECT_EQ(record[i], 0xCD) << "byte " << i;
}

TEST(VqfQuery, SuggestsStereo16BitAt44100AndIgnoresWhatItDoesNotUse) {
  long rate = 0;
  WORD bits = 0, channels = 0;
  Plugin().suggestSampleType(&rate, &bits, &channels);
  EXPECT_EQ(rate, 44100);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(Plugin().writeSpecialData(nullptr, nullptr, nullptr, nullptr, 0), 0u);
  Plugin().closeOutput(nullptr);
  EXPECT_EQ(Plugin().writeOutput(nullptr, "ab", 2), 0);
}

// The COMM chunk holds what the library was initialised with: the options word's rate,
// times the channels, and the sampling rate in kHz.
TEST(VqfOutput, HeaderCarriesTheModeTheOptionsSelect) {
  ScratchDirectory scratch;
  struct Case {
    DWORD options;
    long sampleRate;
    WORD channels;
    uint32_t channelMode, bitRate, kHz;
  } cases[] = {
      {0, 44100, 2, 1, 96, 44},          {9, 44100, 2, 1, 96, 44},  {0xFFFFFFFFu, 44100, 1, 0, 48, 44},
      {8, 44100, 2, 1, 96, 44},          {1, 8000, 1, 0, 8, 8},     {3, 16000, 2, 1, 32, 16},
      {1, 11025, 1, 0, 8, 11},           {6, 22050, 2, 1, 64, 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "options " << c.options << ", " << c.sampleRate << " Hz");
    ASSERT_TRUE(ExportPcm("mode.vqf", c.sampleRate, 16, c.channels, c.options, {}));
    std::vector<uint8_t> file = ReadWholeFile("mode.vqf");
    ASSERT_GE(file.size(), kHeaderBytes);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 12), "TWIN97012000");
    EXPECT_EQ(BigEndian32(file, 12), 24u);
    EXPECT_EQ(std::string(file.begin() + 16, file.begin() + 20), "COMM");
    EXPECT_EQ(BigEndian32(file, 20), 16u);
    EXPECT_EQ(BigEndian32(file, 24), c.channelMode);
    EXPECT_EQ(BigEndian32(file, 28), c.bitRate);
    EXPECT_EQ(BigEndian32(file, 32), c.kHz);
    EXPECT_EQ(BigEndian32(file, 36), 0u) << "security level";
    EXPECT_EQ(std::string(file.begin() + 40, file.begin() + 44), "DATA");
  }
  EXPECT_FALSE(EncoderLoaded());
}

TEST(VqfOutput, RefusedSampleTypesAndModesLeaveNoFileAndNoLibrary) {
  ScratchDirectory scratch;
  struct Case {
    long sampleRate;
    WORD bits, channels;
    DWORD options;
  } cases[] = {
      {44100, 24, 2, 8},  // 24-bit
      {44100, 16, 3, 8},  // three channels
      {44100, 16, 0, 8},  // no channels
      {44100, 16, 2, 1},  // 44100 Hz at 8 kbps per channel: no such mode
      {48000, 16, 2, 8},  // no 48 kHz mode
      {0, 16, 1, 1},
      // Near a mode's rate but not it: written as that rate, they would play at the wrong speed.
      {8999, 16, 1, 1},
      {11127, 16, 1, 1},
      {22254, 16, 2, 4},
      {44099, 16, 2, 8},
  };
  long transferSize = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sampleRate << " Hz " << c.bits << "-bit " << c.channels << " ch");
    DeleteFileA("refused.vqf");
    EXPECT_EQ(Plugin().openOutput("refused.vqf", c.sampleRate, c.bits, c.channels, 0, &transferSize,
                                  c.options),
              nullptr);
    EXPECT_FALSE(FileExists("refused.vqf"));
    EXPECT_FALSE(EncoderLoaded());
  }
  // A file that cannot be created fails after the encoder was set up; all is given back.
  EXPECT_EQ(Plugin().openOutput("no such dir\\x.vqf", 8000, 16, 1, 0, &transferSize, 1), nullptr);
  EXPECT_FALSE(EncoderLoaded());
  // And the count is where it was: an open afterwards works and unloads at its close.
  ASSERT_TRUE(ExportPcm("after.vqf", 8000, 16, 1, 1, {}));
  EXPECT_FALSE(EncoderLoaded());
}

// Header + one record per started frame + two silent records, bit-contiguous.
TEST(VqfOutput, FrameCountFollowsTheStreamLength) {
  ScratchDirectory scratch;
  for (const Mode& mode : {kMono8k, kStereo44k, kMono11k}) {
    const size_t fs = mode.frameSize;
    for (size_t length : {size_t(0), fs, 3 * fs, 3 * fs + 1, fs - 1, 2 * fs + fs / 2}) {
      SCOPED_TRACE(testing::Message() << mode.sampleRate << " Hz, " << length << " samples per channel");
      const size_t frames = (length + fs - 1) / fs + 2;
      for (size_t block : {size_t(4096), size_t(6 * 7)}) {
        ASSERT_TRUE(ExportPcm("count.vqf", mode.sampleRate, 16, mode.channels, mode.options,
                              TestSignal16(length, mode.channels), block));
        EXPECT_EQ(ReadWholeFile("count.vqf").size(), FileSizeFor(mode, frames)) << "block " << block;
      }
    }
  }
}

TEST(VqfOutput, EightBitInputGivesTheSameStreamAsTheEqualSixteenBitInput) {
  ScratchDirectory scratch;
  std::vector<uint8_t> eight(2 * 3000), sixteen(2 * 2 * 3000);
  for (size_t i = 0; i < eight.size(); ++i) {
    eight[i] = static_cast<uint8_t>(i * 7 + (i >> 5));
    int16_t value = static_cast<int16_t>(eight[i] * 257 - 32768);
    sixteen[2 * i] = static_cast<uint8_t>(value);
    sixteen[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
  }
  ASSERT_TRUE(ExportPcm("eight.vqf", 22050, 8, 2, 6, eight));
  ASSERT_TRUE(ExportPcm("sixteen.vqf", 22050, 16, 2, 6, sixteen));
  EXPECT_EQ(ReadWholeFile("eight.vqf"), ReadWholeFile("sixteen.vqf"));
}

TEST(VqfOutput, TwoOpenOutputsShareOneLoadOfTheLibrary) {
  ScratchDirectory scratch;
  long transferSize = 0;
  LoadedPlugin& p = Plugin();
  FilterHandle first = p.openOutput("first.vqf", 8000, 16, 1, 0, &transferSize, 1);
  ASSERT_NE(first, nullptr);
  HMODULE loaded = GetModuleHandleA("TVQENC.DLL");
  FilterHandle second = p.openOutput("second.vqf", 8000, 16, 1, 0, &transferSize, 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetModuleHandleA("TVQENC.DLL"), loaded);
  std::vector<uint8_t> pcm = TestSignal16(1000, 1);
  EXPECT_EQ(p.writeOutput(first, pcm.data(), 2000), 2000);
  EXPECT_EQ(p.writeOutput(second, pcm.data(), 1000), 1000);
  p.closeOutput(first);
  EXPECT_TRUE(EncoderLoaded()) << "the second output still needs the library";
  p.closeOutput(second);
  EXPECT_FALSE(EncoderLoaded());
  EXPECT_EQ(ReadWholeFile("first.vqf").size(), FileSizeFor(kMono8k, 2 + 2));
  EXPECT_EQ(ReadWholeFile("second.vqf").size(), FileSizeFor(kMono8k, 1 + 2));
}

// The bit-file table has 50 slots: the 51st open output fails with a null handle (the
// process goes on), and a slot freed by a close is taken again.
TEST(VqfOutput, RunningOutOfFileSlotsFailsTheOpenOnly) {
  ScratchDirectory scratch;
  long transferSize = 0;
  LoadedPlugin& p = Plugin();
  std::vector<FilterHandle> open;
  for (int i = 0; i < 50; ++i) {
    std::string name = "slot" + std::to_string(i) + ".vqf";
    open.push_back(p.openOutput(name.c_str(), 8000, 16, 1, 0, &transferSize, 1));
    ASSERT_NE(open.back(), nullptr) << i;
  }
  EXPECT_EQ(p.openOutput("slot50.vqf", 8000, 16, 1, 0, &transferSize, 1), nullptr);
  p.closeOutput(open.back());
  open.back() = p.openOutput("slot50.vqf", 8000, 16, 1, 0, &transferSize, 1);
  EXPECT_NE(open.back(), nullptr);
  for (FilterHandle h : open) p.closeOutput(h);
  EXPECT_FALSE(EncoderLoaded());
  EXPECT_EQ(ReadWholeFile("slot50.vqf").size(), FileSizeFor(kMono8k, 2));
}
