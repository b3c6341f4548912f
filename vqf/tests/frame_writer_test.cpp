// The frame record against a fake library: field order for two channels with every part
// present, the per-frame layout update of block type 2 only, and the diagnostics.
#include "frame_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "encoder_library.h"
#include "test_files.h"

namespace {

int32_t shapeWidths0[3][3] = {{5, 5, 5}, {5, 5, 5}, {6, 7, 8}};
int32_t shapeWidths1[3][3] = {{5, 5, 5}, {5, 5, 5}, {7, 6, 9}};
int32_t pitchWidths0[2] = {6, 7};
int32_t pitchWidths1[2] = {8, 6};

struct UpdateCall {
  int32_t which;
  int32_t* shapeCount;
  int32_t* widths0;
  int32_t* widths1;
};
std::vector<UpdateCall> updateCalls;
bool shrinkOnUpdate = false;

int32_t TVQ_API FakeGetConfInfo(EncoderConfig* c) {
  std::memset(c, 0, sizeof *c);
  c->channels = 2;
  c->typeCodeBits = 4;
  c->lsp0Bits = 6;
  c->lsp1Bits = 7;
  c->lsp2Bits = 6;
  c->lsp2Count = 2;
  c->forwardArBits = 6;
  c->powerBits = 8;
  c->subPowerBits = 6;
  c->pitchCodebookCount = 2;
  c->pitchBits = 8;
  c->pitchGainBits = 6;
  BlockTypeConfig& t = c->blockTypes[2];
  t.subBlocks = 2;
  t.shapeCount = 3;
  t.forwardCount = 2;
  t.forwardBits = 6;
  t.subPowerCount = 1;
  t.hasPitch = 1;
  t.hasPb = 1;
  t.pbStart = 1;
  t.pbEnd = 3;
  t.pbBits = 7;
  c->blockTypes[0] = t;
  c->blockTypes[0].hasPitch = 0;
  c->blockTypes[0].hasPb = 0;
  c->blockTypes[0].shapeCount = 1;
  c->blockTypes[1] = c->blockTypes[0];
  return 0;
}

int32_t TVQ_API FakeGetVectorInfo(int32_t** widths0, int32_t** widths1) {
  for (int t = 0; t < 3; ++t) {
    widths0[t] = shapeWidths0[t];
    widths1[t] = shapeWidths1[t];
  }
  widths0[3] = pitchWidths0;
  widths1[3] = pitchWidths1;
  return 0;
}

int32_t TVQ_API FakeUpdateVectorInfo(int32_t which, int32_t* shapeCount, int32_t* w0, int32_t* w1) {
  updateCalls.push_back({which, shapeCount, w0, w1});
  if (shrinkOnUpdate) {
    *shapeCount = 2;
    w0[0] = 9;
  }
  return 0;
}

class FrameWriter : public testing::Test {
 protected:
  void SetUp() override {
    shapeWidths0[2][0] = 6;  // an earlier update may have changed it
    updateCalls.clear();
    shrinkOnUpdate = false;
    encoderEntryPoints = EncoderEntryPoints{};
    encoderEntryPoints.TvqEncGetConfInfo = FakeGetConfInfo;
    encoderEntryPoints.TvqEncGetVectorInfo = FakeGetVectorInfo;
    encoderEntryPoints.TvqEncUpdateVectorInfo = FakeUpdateVectorInfo;
    layout = FrameLayout{};
    FetchFrameLayout(&layout);
    FillIndex();
  }
  void TearDown() override { encoderEntryPoints = EncoderEntryPoints{}; }

  void FillIndex() {
    // Every value is distinct, so the order read back shows where each one went.
    std::memset(&index, 0, sizeof index);
    index.typeCode = 1;
    index.blockType = 2;
    for (int i = 0; i < 6; ++i) shape[i] = 2 + i;
    for (int i = 0; i < 8; ++i) forward[i] = 10 + i;
    for (int i = 0; i < 4; ++i) forwardAr[i] = 20 + i;
    for (int i = 0; i < 4; ++i) power[i] = 24 + i;
    for (int i = 0; i < 4; ++i) lsp0[i] = 30 + i, lsp1[i] = 34 + i;
    for (int i = 0; i < 4; ++i) pitchCodebook[i] = 40 + i;
    for (int i = 0; i < 4; ++i) pb0[i] = 50 + i, pb1[i] = 54 + i;
    index.shape = shape;
    index.forward = forward;
    index.forwardAr = forwardAr;
    index.power = power;
    index.lsp[0] = lsp0;
    index.lsp[1] = lsp1;
    index.pitch[0] = 44;
    index.pitch[1] = 45;
    index.pitchGain[0] = 46;
    index.pitchGain[1] = 47;
    index.pitchCodebook = pitchCodebook;
    index.pb[0] = pb0;
    index.pb[1] = pb1;
  }

  // Writes the record and returns the file's bytes and the record's length in bits.
  std::pair<std::vector<uint8_t>, int32_t> Write() {
    ScratchDirectory dir("vqf_frame_writer");
    BitFile* file = OpenBitFile("frame", "wb");
    WriteFrameRecord(&index, &layout, file);
    const int32_t bits = file->bitCount;
    CloseBitFile(file);
    return {ReadFileBytes("frame"), bits};
  }

  FrameLayout layout;
  FrameIndex index;
  int32_t shape[6], forward[8], forwardAr[4], power[4], lsp0[4], lsp1[4], pitchCodebook[4];
  int32_t pb0[4], pb1[4];
};

// (value, width) in the order the record must hold them.
using Fields = std::vector<std::pair<uint32_t, int>>;

void ExpectFields(const std::vector<uint8_t>& bytes, int32_t bits, const Fields& fields) {
  BitReader reader(bytes);
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(reader.Read(fields[i].second), fields[i].first) << "field " << i;
  }
  EXPECT_EQ(reader.Position(), static_cast<size_t>(bits));
}

}  // namespace

TEST_F(FrameWriter, TwoChannelRecordHoldsEveryPartInOrder) {
  auto [bytes, bits] = Write();
  ExpectFields(bytes, bits, {
      {1, 4},                                            // type code
      {2, 6}, {5, 7}, {3, 7}, {6, 6}, {4, 8}, {7, 9},    // shape pairs, halves interleaved
      {10, 6}, {11, 6}, {12, 6}, {13, 6},                // forward, channel 0 (2 sub x 2)
      {14, 6}, {15, 6}, {16, 6}, {17, 6},                // forward, channel 1
      {20, 6}, {21, 6}, {22, 6}, {23, 6},                // forwardAr, both channels
      {24, 8}, {25, 6}, {26, 8}, {27, 6},                // power + sub-power per channel
      {30, 6}, {31, 7}, {32, 6}, {33, 6},                // lsp channel 0
      {34, 6}, {35, 7}, {36, 6}, {37, 6},                // lsp channel 1
      {40, 6}, {42, 8}, {41, 7}, {43, 6},                // pitch codebook pairs
      {44, 8}, {46, 6}, {45, 8}, {47, 6},                // pitch, gain per channel
      {50, 7}, {51, 7}, {52, 7}, {53, 7},                // pb channel 0
      {54, 7}, {55, 7}, {56, 7}, {57, 7},                // pb channel 1
  });
}

TEST_F(FrameWriter, OnlyLongBlocksAskForTheirLayoutFirst) {
  shrinkOnUpdate = true;
  auto [bytes, bits] = Write();
  ASSERT_EQ(updateCalls.size(), 1u);
  EXPECT_EQ(updateCalls[0].which, 0);
  EXPECT_EQ(updateCalls[0].shapeCount, &layout.config.blockTypes[2].shapeCount);
  EXPECT_EQ(updateCalls[0].widths0, layout.widths.widths0[2]);
  EXPECT_EQ(updateCalls[0].widths1, layout.widths.widths1[2]);
  // The record follows the updated layout: two pairs, the first 9 bits wide; the second
  // halves now start at shape[2].
  BitReader reader(bytes);
  EXPECT_EQ(reader.Read(4), 1u);
  EXPECT_EQ(reader.Read(9), 2u);
  EXPECT_EQ(reader.Read(7), 4u);
  EXPECT_EQ(reader.Read(7), 3u);
  EXPECT_EQ(reader.Read(6), 5u);

  updateCalls.clear();
  for (int type : {0, 1}) {
    index.blockType = type;
    index.typeCode = 2;
    auto [shortBytes, shortBits] = Write();
    // No pitch or pb part: the record ends after the LSP values.
    ExpectFields(shortBytes, shortBits, {{2, 4}, {2, 5}, {3, 5},
        {10, 6}, {11, 6}, {12, 6}, {13, 6}, {14, 6}, {15, 6}, {16, 6}, {17, 6},
        {20, 6}, {21, 6}, {22, 6}, {23, 6}, {24, 8}, {25, 6}, {26, 8}, {27, 6},
        {30, 6}, {31, 7}, {32, 6}, {33, 6}, {34, 6}, {35, 7}, {36, 6}, {37, 6}});
  }
  EXPECT_TRUE(updateCalls.empty());
}

// Each field's diagnostic when its value does not fit (one value too wide at a time); the
// type code has none. The record keeps its length: the value's low bits are written.
TEST_F(FrameWriter, EachTooWideFieldPrintsItsOwnLine) {
  struct Case {
    const char* field;
    int32_t* value;
    int32_t tooWide;
    const char* line;
  } cases[] = {
      {"type code", &index.typeCode, 0x1F, ""},
      {"shape, first of pair 1", &shape[1], 128, "shape0 1, 7 128\n"},
      {"shape, second of pair 2", &shape[5], 512, "shape1 2, 9 512\n"},
      {"forward ch 1 sub 0 k 1", &forward[5], 64, "forward short 1, 0, 1, 64\n"},
      {"forwardAr ch 1 sub 1", &forwardAr[3], 64, "forward AR param. ch: 1, sh_no: 1, ind: 64\n"},
      {"first power of ch 1", &power[2], 256, "power  8 256\n"},
      {"further power 0 of ch 0", &power[1], 64, "power 0, 6 64\n"},
      {"lsp0 of ch 1", &lsp1[0], 64, "lsp0 6 64\n"},
      {"lsp1 of ch 0", &lsp0[1], 128, "lsp1 7 128\n"},
      {"lsp2 j 1 of ch 0", &lsp0[3], 64, "lsp2 1, 6 64\n"},
      {"pitch codebook, first of pair 0", &pitchCodebook[0], 64, "codebook0_pit 0, 6 64\n"},
      {"pitch codebook, second of pair 1", &pitchCodebook[3], 64, "codebook1_pit 1, 6 64\n"},
      {"pitch of ch 1", &index.pitch[1], 256, "index_pitch 8 256\n"},
      {"pitch gain of ch 0", &index.pitchGain[0], 64, "index_pgain 6 64\n"},
      {"pb of ch 1", &pb1[2], 128, "index_pb 7 128"},
  };
  for (const Case& c : cases) {
    FillIndex();
    *c.value = c.tooWide;
    testing::internal::CaptureStdout();
    auto [bytes, bits] = Write();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line) << c.field;
    EXPECT_EQ(bits, 4 + 43 + 48 + 24 + 28 + 50 + 27 + 28 + 56) << c.field;
  }
  // The cut value's low bits: a type code of 0x1F in 4 bits reads back as 0xF.
  FillIndex();
  index.typeCode = 0x1F;
  auto [bytes, bits] = Write();
  EXPECT_EQ(BitReader(bytes).Read(4), 0xFu);
}
