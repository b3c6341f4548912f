#include "wma_core.h"
#include "wma_expected_formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

TEST(WmaFormatTable, EveryRowIsTheEncodingItsNumberStandsFor) {
  ASSERT_EQ(kWmaFormatCount, 34u);
  for (uint32_t i = 0; i < kWmaFormatCount; ++i) {
    const WmaFormatRow& row = WmaFormatTable[i];
    const ExpectedFormatRow& e = kExpectedFormatRows[i];
    EXPECT_EQ(std::make_tuple(row.kbps, row.sampleRate, row.channels),
              std::make_tuple(e.kbps, e.sampleRate, e.channels))
        << "row " << i + 1 << " should be " << e.text;
  }
}

TEST(WmaFormatTable, ExportRowFallsBackToRowThirtyForZeroAndWordsBeyondTheTable) {
  for (uint32_t options : {0u, 35u, 1000u, 0xFFFFFFFFu}) {
    const WmaFormatRow& row = WmaExportRow(options);
    EXPECT_EQ(&row, &WmaFormatTable[29]) << options;
  }
  EXPECT_EQ(&WmaExportRow(1), &WmaFormatTable[0]);
  EXPECT_EQ(&WmaExportRow(34), &WmaFormatTable[33]);
  EXPECT_EQ(WmaDialogInitialRow(0), 30u);
  EXPECT_EQ(WmaDialogInitialRow(35), 35u);  // selects nothing in the dialog
}

TEST(MatchWmaFormat, PicksTheNearestBitRateFirstThenTheExactRateAndChannels) {
  struct Case { uint32_t bitRate; uint16_t channels; uint32_t sampleRate; uint32_t row; };
  const Case cases[] = {
      {128000, 2, 44100, 31}, {128000, 2, 48000, 32}, {127999, 2, 44100, 31},
      {0, 1, 8000, 1},        {0, 2, 8000, 0},        {56000, 2, 44100, 26},
      {56000, 2, 32000, 25},  {20000, 2, 44100, 0},   {1000000, 2, 48000, 34},
      {0xFFFFFFFFu, 2, 48000, 34}, {96000, 2, 44100, 30}, {96000, 1, 44100, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchWmaFormat(c.bitRate, c.channels, c.sampleRate), c.row)
        << c.bitRate << " " << c.channels << " " << c.sampleRate;
  // Every row maps back to itself.
  for (uint32_t row = 1; row <= kWmaFormatCount; ++row) {
    const WmaFormatRow& r = WmaFormatTable[row - 1];
    EXPECT_EQ(MatchWmaFormat(r.kbps * 1000, static_cast<uint16_t>(r.channels), r.sampleRate), row);
  }
}

TEST(FormatDecimal, WritesSignAndDigitsWithoutPadding) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "0"}, {96000, "96000"}, {-5, "-5"}, {INT32_MIN, "-2147483648"},
      {INT32_MAX, "2147483647"}, {10, "10"}};
  for (const auto& c : cases) {
    char text[kDecimalTextSize + 4];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(FormatDecimal(c.first, text), std::strlen(c.second));
    EXPECT_STREQ(text, c.second);
  }
  char text[kOptionsTextSize];
  FormatOptionsText(128000, text);
  EXPECT_STREQ(text, "128000 bps");
  FormatOptionsText(0xFFFFFFFFu, text);  // a bit rate read as signed, like the decimal text
  EXPECT_STREQ(text, "-1 bps");
}

TEST(WmaPcmFields, FollowTheHostsSampleType) {
  WmaPcmFields f = MakeWmaPcmFields(44100, 16, 2);
  EXPECT_EQ(std::make_tuple(f.formatTag, f.channels, f.samplesPerSec, f.avgBytesPerSec,
                            f.blockAlign, f.bitsPerSample, f.extraSize),
            std::make_tuple(1, 2, 44100u, 176400u, 4, 16, 0));
  f = MakeWmaPcmFields(22050, 8, 1);
  EXPECT_EQ(std::make_tuple(f.formatTag, f.channels, f.samplesPerSec, f.avgBytesPerSec,
                            f.blockAlign, f.bitsPerSample, f.extraSize),
            std::make_tuple(1, 1, 22050u, 22050u, 1, 8, 0));
}

// A port that hands out scripted blocks and then the end of the stream.
class ScriptedPort {
 public:
  explicit ScriptedPort(std::vector<std::vector<uint8_t>> blocks) : blocks_(std::move(blocks)) {}
  uint32_t Filled() const { return static_cast<uint32_t>(block_.size()); }
  uint32_t ReadPos() const { return readPos_; }
  void SetReadPos(uint32_t pos) { readPos_ = pos; }
  bool Ended() const { return ended_; }
  void AwaitBlock() {
    ++waits;
    if (next_ == blocks_.size()) {
      ended_ = true;
      return;
    }
    block_ = blocks_[next_++];
    readPos_ = 0;
  }
  bool CopyOut(uint32_t from, uint8_t* to, uint32_t n) {
    EXPECT_LE(from + n, block_.size());
    if (n) std::memcpy(to, block_.data() + from, n);
    return true;
  }
  int waits = 0;

 private:
  std::vector<std::vector<uint8_t>> blocks_;
  std::vector<uint8_t> block_;
  size_t next_ = 0;
  uint32_t readPos_ = 0;
  bool ended_ = false;
};

static std::vector<std::vector<uint8_t>> CountingBlocks(std::vector<size_t> sizes,
                                                        std::vector<uint8_t>* all) {
  std::vector<std::vector<uint8_t>> blocks;
  uint8_t value = 0;
  for (size_t size : sizes) {
    blocks.emplace_back();
    for (size_t i = 0; i < size; ++i) {
      blocks.back().push_back(value);
      all->push_back(value++);
    }
  }
  return blocks;
}

TEST(ReadHandoff, DeliversEveryByteInOrderForHostBlocksOfAnySize) {
  for (uint32_t hostBlock : {1u, 7u, 100u, 256u, 1000u, 5000u}) {
    std::vector<uint8_t> expected;
    ScriptedPort port(CountingBlocks({256, 256, 0, 100, 256, 3}, &expected));
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer(hostBlock);
    for (;;) {
      const uint32_t n = ReadHandoff(port, buffer.data(), hostBlock);
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
      if (n < hostBlock) break;
    }
    EXPECT_EQ(got, expected) << hostBlock;
    EXPECT_EQ(ReadHandoff(port, buffer.data(), hostBlock), 0u);
  }
}

TEST(ReadHandoff, ServesFromTheBlockWithoutWaitingUntilItIsDrained) {
  std::vector<uint8_t> expected;
  ScriptedPort port(CountingBlocks({100, 100}, &expected));
  uint8_t buffer[100];
  EXPECT_EQ(ReadHandoff(port, buffer, 40), 40u);
  EXPECT_EQ(ReadHandoff(port, buffer, 60), 60u);
  EXPECT_EQ(port.waits, 1);
  // A read of 0 bytes with the block drained asks for the next one, then returns 0.
  EXPECT_EQ(ReadHandoff(port, buffer, 0), 0u);
  EXPECT_EQ(port.waits, 2);
  EXPECT_EQ(ReadHandoff(port, buffer, 100), 100u);
  EXPECT_EQ(buffer[0], expected[100]);
  // The end arriving right after the last block: the next read ends without copying.
  EXPECT_EQ(ReadHandoff(port, buffer, 100), 0u);
  EXPECT_TRUE(port.Ended());
}

// Memory that can be made to fail, recording what the store did with it.
struct FakeBuffer {
  std::vector<uint8_t> bytes;
  bool exists = false;
  bool failNext = false;
  int allocations = 0, growths = 0;
  bool HasBuffer() const { return exists; }
  uint32_t Capacity() const { return static_cast<uint32_t>(bytes.size()); }
  bool Allocate(uint32_t n) {
    ++allocations;
    if (failNext) return false;
    bytes.assign(n, 0);
    exists = true;
    return true;
  }
  bool Grow(uint32_t n) {
    ++growths;
    if (failNext) return false;
    bytes.resize(n);
    return true;
  }
  bool CopyIn(const void* data, uint32_t n) {
    EXPECT_LE(n, bytes.size());
    std::memcpy(bytes.data(), data, n);
    return true;
  }
};

TEST(StoreHandoffBlock, AllocatesOnceGrowsOnlyForLargerBlocksAndNeverShrinks) {
  std::vector<uint8_t> all;
  const auto blocks = CountingBlocks({100, 50, 300, 0, 300, 20}, &all);
  FakeBuffer buffer;
  std::vector<uint32_t> capacities;
  for (const auto& block : blocks) {
    ASSERT_TRUE(StoreHandoffBlock(buffer, block.data(), static_cast<uint32_t>(block.size())));
    if (!block.empty()) {
      EXPECT_TRUE(std::equal(block.begin(), block.end(), buffer.bytes.begin()));
    }
    capacities.push_back(buffer.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{100, 100, 300, 300, 300, 300}));
  EXPECT_EQ(buffer.allocations, 1);
  EXPECT_EQ(buffer.growths, 1);
}

TEST(StoreHandoffBlock, CopiesNothingWhenTheMemoryCannotBeHad) {
  const std::vector<uint8_t> block(500, 7);
  FakeBuffer none;
  none.failNext = true;
  EXPECT_FALSE(StoreHandoffBlock(none, block.data(), 500));
  EXPECT_FALSE(none.HasBuffer());

  FakeBuffer small;
  ASSERT_TRUE(StoreHandoffBlock(small, block.data(), 10));
  small.failNext = true;
  EXPECT_FALSE(StoreHandoffBlock(small, block.data(), 500));
  EXPECT_EQ(small.Capacity(), 10u);  // the old block stays as it was
}

TEST(WmaPcmByteCount, RoundsLikeMulDivAndHoldsLongStreamsAtTheLargestCount) {
  EXPECT_EQ(WmaPcmByteCount(1000, 2, 44100), 176576u);  // 1001 x 176400 / 1000 = 176576.4
  EXPECT_EQ(WmaPcmByteCount(0, 2, 44100), 176u);
  EXPECT_EQ(WmaPcmByteCount(4, 1, 8000), 80u);
  EXPECT_EQ(WmaPcmByteCount(0, 1, 11025), 22u);           // 22.05 rounds down
  EXPECT_EQ(WmaPcmByteCount(1000, 0, 44100), 0u);
  // 3 h 20 min at 48 kHz stereo is more than the host's count holds: not -1 but the most.
  EXPECT_EQ(WmaPcmByteCount(12000000, 2, 48000), 0x7FFFFFFFu);
  EXPECT_EQ(WmaPcmByteCount(0xFFFFFFFFu, 2, 44100), 0x7FFFFFFFu);  // not 0 after wrapping
  EXPECT_EQ(WmaPcmByteCount(1000, 0xFFFF, 0xFFFFFFFFu), 0x7FFFFFFFu);
  EXPECT_EQ(WmaPcmByteCount(11184810, 2, 48000), 0x7FFFFFFFu);  // 2147483712 would not fit
  EXPECT_EQ(WmaPcmByteCount(11184809, 2, 48000), 2147483520u);  // the last that fits
}
