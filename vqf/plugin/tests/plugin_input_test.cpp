// vell_vqf.flt's import side through its real exports: files our encoder wrote come back
// with the sample type, options word and size of their mode, and every byte announced is
// delivered; what is not VQF, or names a mode the decoder lacks, is refused at open; damaged
// files deliver what decodes, exactly the announced count, then end.
#include <string.h>

#include "vqf_test_support.h"

using namespace vqftest;

namespace {

struct Opened {
  FilterHandle handle = nullptr;
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
};

Opened Open(const char* name) {
  Opened o;
  o.handle = Plugin().openInput(name, &o.rate, &o.bits, &o.channels, 0, &o.transfer);
  return o;
}

// Reads in blocks of the transfer size until a short read; the bytes delivered.
uint64_t ReadAll(const Opened& o) {
  std::vector<uint8_t> block(size_t(o.transfer));
  uint64_t total = 0;
  for (;;) {
    const long got = Plugin().readInput(o.handle, block.data(), o.transfer);
    EXPECT_GE(got, 0);
    total += uint64_t(got);
    if (got < o.transfer) break;
  }
  EXPECT_EQ(Plugin().readInput(o.handle, block.data(), o.transfer), 0) << "a read after the end";
  return total;
}

void WriteFile(const char* name, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(name, "wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

}  // namespace

TEST(VqfInput, ExportsComeBackInTheirModeWithTheAnnouncedSize) {
  ScratchDirectory scratch;
  struct Case {
    long rate;
    WORD channels;
    DWORD options;
    uint32_t frameSize, samples;
    const char* text;
  } cases[] = {
      {8000, 1, 1, 512, 3000, "8000 bps"},
      {11025, 2, 2, 512, 512, "20000 bps"},
      {16000, 2, 3, 1024, 5000, "32000 bps"},
      {22050, 1, 5, 1024, 9000, "24000 bps"},
      {44100, 2, 8, 2048, 20000, "96000 bps"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(ExportPcm("round.vqf", c.rate, 16, c.channels, c.options, TestSignal16(c.samples, c.channels)));
    EXPECT_EQ(Plugin().understandsFormat("round.vqf"), 1);
    const Opened o = Open("round.vqf");
    ASSERT_NE(o.handle, nullptr);
    EXPECT_EQ(o.rate, c.rate);
    EXPECT_EQ(o.bits, 16);
    EXPECT_EQ(o.channels, c.channels);
    EXPECT_GT(o.transfer, 0);
    EXPECT_EQ(o.transfer % (2 * c.channels), 0) << "whole sample frames";
    EXPECT_EQ(Plugin().options(o.handle), c.options);
    char text[64];
    memset(text, 'x', sizeof text);
    EXPECT_EQ(Plugin().optionsString(o.handle, text), 0u);
    EXPECT_STREQ(text, c.text);
    // The encoder's frames, rounded up to a whole frame: the two silent ones at the end
    // make up for the two the decoder drops.
    const uint64_t expected = uint64_t((c.samples + c.frameSize - 1) / c.frameSize) * c.frameSize * 2 * c.channels;
    EXPECT_EQ(uint64_t(Plugin().getFileSize(o.handle)), expected);
    EXPECT_EQ(ReadAll(o), expected);
    Plugin().closeInput(o.handle);
  }
}

TEST(VqfInput, RefusesWhatIsNotVqfAndIgnoresNullHandles) {
  ScratchDirectory scratch;
  ASSERT_TRUE(ExportPcm("good.vqf", 44100, 16, 2, 8, TestSignal16(5000, 2)));
  const std::vector<uint8_t> good = ReadWholeFile("good.vqf");
  std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  wav.resize(400, 0);
  std::vector<uint8_t> asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  asf.resize(400, 0);
  std::vector<uint8_t> mode32 = good;  // the COMM chunk's bit rate, 96, as 64 at 44 kHz
  ASSERT_EQ(BigEndian32(mode32, 28), 96u);
  mode32[31] = 64;
  struct Case { const char* name; std::vector<uint8_t> bytes; } cases[] = {
      {"wav.vqf", wav},
      {"asf.vqf", asf},
      {"empty.vqf", {}},
      {"header_cut.vqf", {good.begin(), good.begin() + 30}},
      {"no_data_marker.vqf", {good.begin(), good.begin() + 40}},
      {"mode_44k_32.vqf", mode32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.name, c.bytes);
    EXPECT_EQ(Plugin().understandsFormat(c.name), 0);
    EXPECT_EQ(Open(c.name).handle, nullptr);
  }
  EXPECT_EQ(Plugin().understandsFormat("missing.vqf"), 0);
  EXPECT_EQ(Open("missing.vqf").handle, nullptr);
  EXPECT_EQ(Plugin().understandsFormat(nullptr), 0);
  EXPECT_EQ(Open(nullptr).handle, nullptr);
  char buffer[16];
  EXPECT_EQ(Plugin().readInput(nullptr, buffer, sizeof buffer), 0);
  EXPECT_EQ(Plugin().getFileSize(nullptr), 0);
  EXPECT_EQ(Plugin().options(nullptr), 0u);
  EXPECT_EQ(Plugin().optionsString(nullptr, buffer), 0u);
  EXPECT_EQ(Plugin().getFirstSpecialData(nullptr, nullptr), 0u);
  EXPECT_EQ(Plugin().getNextSpecialData(nullptr, nullptr), 0u);
  Plugin().closeInput(nullptr);
}

TEST(VqfInput, DamagedFilesDeliverExactlyWhatTheyAnnounce) {
  ScratchDirectory scratch;
  ASSERT_TRUE(ExportPcm("good.vqf", 22050, 16, 1, 5, TestSignal16(30000, 1)));
  const std::vector<uint8_t> good = ReadWholeFile("good.vqf");
  ASSERT_GT(good.size(), 2000u);
  std::vector<std::vector<uint8_t>> files;
  for (size_t cut : {size_t(44), size_t(45), size_t(300), good.size() / 2, good.size() - 1})
    files.push_back({good.begin(), good.begin() + std::ptrdiff_t(cut)});
  for (size_t at : {size_t(44), size_t(200), good.size() / 3}) {
    std::vector<uint8_t> f = good;
    for (size_t i = at; i < at + 40 && i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 37 + 0xF0);
    files.push_back(f);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "damaged file " << i << ", " << files[i].size() << " bytes");
    WriteFile("damaged.vqf", files[i]);
    const Opened o = Open("damaged.vqf");
    ASSERT_NE(o.handle, nullptr);
    const long announced = Plugin().getFileSize(o.handle);
    EXPECT_LE(announced, long(30720 * 2));
    EXPECT_EQ(ReadAll(o), uint64_t(announced));
    Plugin().closeInput(o.handle);
  }
}
