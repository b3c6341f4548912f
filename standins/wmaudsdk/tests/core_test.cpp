// The portable parts: header layout, duration, the writer's format rules, the switches.
#include "container.h"
#include "switches.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace vwma;

TEST(Container, HeaderLayoutRoundTrips) {
  ContainerHeader h;
  h.bitRate = 128000;
  h.sampleRate = 48000;
  h.channels = 2;
  for (std::size_t i = 0; i < kPcmFormatSize; ++i) h.pcmFormat[i] = static_cast<uint8_t>(0xA0 + i);
  h.pcmBytes = 0x01020304;
  h.durationMs = 0x0A0B0C0D;
  uint8_t b[kHeaderSize];
  EncodeHeader(h, b);
  EXPECT_EQ(0, memcmp(b, "VWMA\x30\0\0\0\x00\xF4\x01\0\x80\xBB\0\0\x02\0\0\0", 20));
  EXPECT_EQ(b[20], 0xA0);
  EXPECT_EQ(b[37], 0xA0 + 17);
  EXPECT_EQ(b[38] | b[39], 0);
  EXPECT_EQ(0, memcmp(b + 40, "\x04\x03\x02\x01\x0D\x0C\x0B\x0A", 8));

  ContainerHeader back;
  ASSERT_TRUE(DecodeHeader(b, &back));
  EXPECT_EQ(back.bitRate, h.bitRate);
  EXPECT_EQ(back.channels, h.channels);
  EXPECT_EQ(0, memcmp(back.pcmFormat, h.pcmFormat, kPcmFormatSize));
  EXPECT_EQ(back.pcmBytes, h.pcmBytes);
  EXPECT_EQ(back.durationMs, h.durationMs);

  uint8_t wrongSize[kHeaderSize];
  memcpy(wrongSize, b, sizeof b);
  wrongSize[4] = 44;
  EXPECT_FALSE(DecodeHeader(wrongSize, &back));
  b[0] = 'X';
  EXPECT_FALSE(DecodeHeader(b, &back));
}

TEST(Container, DurationRoundsDownAndSaturates) {
  EXPECT_EQ(DurationMs(176400, 176400), 1000u);
  EXPECT_EQ(DurationMs(176399, 176400), 999u);
  EXPECT_EQ(DurationMs(12345, 0), 0u);
  EXPECT_EQ(DurationMs(0xFFFFFFFEu, 1), 0xFFFFFFFFu);
}

TEST(Container, InputRuleTakesPlainPcmOnly) {
  const PcmFormat good{1, 2, 44100, 176400, 4, 16, 0};
  EXPECT_TRUE(IsAcceptedPcm(good));
  EXPECT_TRUE(IsAcceptedPcm(PcmFormat{1, 1, 22050, 22050, 1, 8, 0}));
  PcmFormat f = good;
  f.formatTag = 3;
  EXPECT_FALSE(IsAcceptedPcm(f));
  f = good, f.bitsPerSample = 24, f.blockAlign = 6, f.avgBytesPerSec = 264600;
  EXPECT_FALSE(IsAcceptedPcm(f));
  f = good, f.channels = 3, f.blockAlign = 6, f.avgBytesPerSec = 264600;
  EXPECT_FALSE(IsAcceptedPcm(f));
  f = good, f.blockAlign = 2;
  EXPECT_FALSE(IsAcceptedPcm(f));
  f = good, f.avgBytesPerSec = 176401;
  EXPECT_FALSE(IsAcceptedPcm(f));
  f = good, f.samplesPerSec = 0x40000000, f.avgBytesPerSec = 0;  // product wraps in 32 bits
  EXPECT_FALSE(IsAcceptedPcm(f));
}

TEST(Container, OutputRuleOffersExactly34Encodings) {
  int offered = 0;
  for (uint32_t kbps = 0; kbps <= 200; ++kbps) {
    for (uint32_t rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u}) {
      for (uint32_t channels = 0; channels <= 3; ++channels) {
        offered += IsOfferedEncoding(kbps * 1000, rate, channels);
      }
    }
  }
  EXPECT_EQ(offered, 34);
  EXPECT_TRUE(IsOfferedEncoding(5000, 8000, 1));
  EXPECT_TRUE(IsOfferedEncoding(160000, 48000, 2));
  EXPECT_FALSE(IsOfferedEncoding(96001, 44100, 2));
  EXPECT_FALSE(IsOfferedEncoding(20000, 44100, 2));
}

namespace {
using Vars = std::map<std::string, std::string>;
const char* FromMap(const char* name, void* state) {
  auto* vars = static_cast<Vars*>(state);
  auto it = vars->find(name);
  return it == vars->end() ? nullptr : it->second.c_str();
}
}  // namespace

TEST(Switches, ParseLists) {
  EXPECT_EQ(ParseCreateFailures("reader,info"), kCreateReader | kCreateInfo);
  EXPECT_EQ(ParseCreateFailures(" writer "), kCreateWriter);
  EXPECT_EQ(ParseCreateFailures("bogus,,reader"), kCreateReader);
  EXPECT_EQ(ParseCreateFailures(""), 0u);

  uint32_t s = 0;
  uint64_t k = 0;
  EXPECT_TRUE(ParseStatusAt("7@2", &s, &k));
  EXPECT_EQ(s, 7u);
  EXPECT_EQ(k, 2u);
  for (const char* bad : {"7", "@2", "x@1", "7@", "7@-1"}) EXPECT_FALSE(ParseStatusAt(bad, &s, &k)) << bad;

  uint32_t v = 0;
  EXPECT_TRUE(ParseCount("4294967295", &v));
  EXPECT_FALSE(ParseCount("4294967296", &v));
  EXPECT_FALSE(ParseCount("12k", &v));
}

TEST(Switches, ReaderBlocksAndEvents) {
  Vars vars;
  ReaderSwitches d = ReadReaderSwitches(FromMap, &vars);
  EXPECT_EQ(d.BlockSize(0), 4096u);
  EXPECT_EQ(d.BlockSize(9), 4096u);
  EXPECT_FALSE(d.hasStatus || d.silent || d.extraRef);

  vars = {{"VELL_WMA_BLOCK", "0"}};  // ignored: blocks need at least one byte
  EXPECT_EQ(ReadReaderSwitches(FromMap, &vars).BlockSize(3), 4096u);
  vars = {{"VELL_WMA_BLOCK", "1000"}, {"VELL_WMA_BLOCK_GROW", "3000"},
          {"VELL_WMA_STATUS", "0@5"}, {"VELL_WMA_SILENT_AFTER", "0"}, {"VELL_WMA_EXTRA_REF_MS", "250"}};
  ReaderSwitches s = ReadReaderSwitches(FromMap, &vars);
  EXPECT_EQ(s.BlockSize(0), 3000u);  // growth wins over a fixed size
  EXPECT_EQ(s.BlockSize(2), 9000u);
  EXPECT_TRUE(s.hasStatus && s.status == 0 && s.statusBefore == 5);
  EXPECT_TRUE(s.silent && s.silentAfter == 0);
  EXPECT_TRUE(s.extraRef && s.extraRefMs == 250);

  vars = {{"VELL_WMA_REFUSE_WRITE", "3"}, {"VELL_WMA_REFUSE_INPUT", "1"}};
  WriterSwitches w = ReadWriterSwitches(FromMap, &vars);
  EXPECT_EQ(w.refuseWrite, 3u);
  EXPECT_TRUE(w.refuseInput);
  EXPECT_FALSE(w.refuseOutput);
}
