// The stored tables against checksums taken from the source tables, and the layouts and
// permutations derived from them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream_setup.h"
#include "tables.h"

namespace {

struct Expected {
  const char* name;
  int32_t count;
  uint32_t fnv1a;
};

// FNV-1a over each value as a 32-bit little-endian integer (LSP values in 1/10000), as
// tools/make_codebooks.py --checksums prints them from the source header.
const Expected kExpected[] = {
    {"kBands08Long512", 30, 0x1CE0DD85u},
    {"kBands11Long512", 30, 0xB463F91Bu},
    {"kBands16Long1024", 30, 0xFC2EC059u},
    {"kBands22Long1024", 32, 0x7AC1095Du},
    {"kBands22Long512", 32, 0xC8205517u},
    {"kBands44Long2048", 40, 0xB99B120Cu},
    {"kBands08Medium256", 20, 0x55BA16BBu},
    {"kBands11Medium256", 20, 0xDA4BD6F9u},
    {"kBands16Medium512", 20, 0x5496F265u},
    {"kBands22Medium256", 20, 0x343F868Fu},
    {"kBands22Medium512", 20, 0x61C63173u},
    {"kBands44Medium512", 20, 0x8651B8FBu},
    {"kBands08Short64", 10, 0x5744BEF7u},
    {"kBands11Short64", 10, 0xF29D1805u},
    {"kBands16Short128", 10, 0x266BB951u},
    {"kBands22Short128", 10, 0x07B42D55u},
    {"kBands44Short128", 10, 0x11622375u},
    {"kVq0808Long0", 1088, 0x29702EB1u},
    {"kVq0808Long1", 1088, 0xB4B69174u},
    {"kVq0808Short0", 1152, 0x6494C928u},
    {"kVq0808Short1", 1152, 0x1599599Au},
    {"kVq0808Medium0", 1024, 0xB81859C3u},
    {"kVq0808Medium1", 1024, 0x04E6E938u},
    {"kVq1108Long0", 1728, 0xE5AB53FBu},
    {"kVq1108Long1", 1728, 0x79C0334Eu},
    {"kVq1108Short0", 1856, 0x0CF4775Au},
    {"kVq1108Short1", 1856, 0x22838EFDu},
    {"kVq1108Medium0", 1536, 0x53DFC323u},
    {"kVq1108Medium1", 1536, 0x3B362B04u},
    {"kVq1110Long0", 1280, 0x4E566C65u},
    {"kVq1110Long1", 1280, 0x23CB7DFDu},
    {"kVq1110Short0", 1344, 0x7B9F07EDu},
    {"kVq1110Short1", 1344, 0xDB3CFA7Cu},
    {"kVq1110Medium0", 1152, 0x8CAE6780u},
    {"kVq1110Medium1", 1152, 0x5BD7946Cu},
    {"kVq1616Long0", 1024, 0xAD832451u},
    {"kVq1616Long1", 1024, 0x9AFC4D7Eu},
    {"kVq1616Short0", 1024, 0x7F333A17u},
    {"kVq1616Short1", 1024, 0x9FCE2CB4u},
    {"kVq1616Medium0", 960, 0xB55BB0DBu},
    {"kVq1616Medium1", 960, 0x49B2900Eu},
    {"kVq2220Long0", 1152, 0x3C8A3C6Fu},
    {"kVq2220Long1", 1152, 0x475A0850u},
    {"kVq2220Short0", 1152, 0xD0250A30u},
    {"kVq2220Short1", 1152, 0xBCD3C1DBu},
    {"kVq2220Medium0", 1088, 0xD1EE2555u},
    {"kVq2220Medium1", 1088, 0x17E23103u},
    {"kVq2224Long0", 960, 0xDA6BA0E3u},
    {"kVq2224Long1", 960, 0xC4EA9E21u},
    {"kVq2224Short0", 960, 0xA9DB3CC5u},
    {"kVq2224Short1", 960, 0x531B422Cu},
    {"kVq2224Medium0", 896, 0x35C5BAB0u},
    {"kVq2224Medium1", 896, 0x9601362Fu},
    {"kVq2232Long0", 768, 0xE6E4109Du},
    {"kVq2232Long1", 768, 0xD5BA3066u},
    {"kVq2232Short0", 704, 0x1B10DE24u},
    {"kVq2232Short1", 704, 0xDC1DBE83u},
    {"kVq2232Medium0", 704, 0x699BCCFAu},
    {"kVq2232Medium1", 704, 0x4CD00C61u},
    {"kVq4440Long0", 1088, 0xB9F47F6Fu},
    {"kVq4440Long1", 1088, 0xBBBAAE0Cu},
    {"kVq4440Short0", 1152, 0x186A7F59u},
    {"kVq4440Short1", 1152, 0x8ACAEFE9u},
    {"kVq4440Medium0", 1088, 0x58F82FFEu},
    {"kVq4440Medium1", 1088, 0x74562092u},
    {"kVq4448Long0", 896, 0xE50BCD7Fu},
    {"kVq4448Long1", 896, 0xCB6D55D5u},
    {"kVq4448Short0", 960, 0x584666BCu},
    {"kVq4448Short1", 960, 0x1D7433C6u},
    {"kVq4448Medium0", 896, 0x1CDBDE9Fu},
    {"kVq4448Medium1", 896, 0xE512A3F4u},
    {"kBark08Long", 640, 0x72D67C97u},
    {"kBark08Medium", 320, 0x776DCC84u},
    {"kBark08Short", 320, 0xEB188068u},
    {"kBark11Long", 640, 0xC2AACCDBu},
    {"kBark11Medium", 320, 0x8541BA3Au},
    {"kBark11Short", 320, 0x7CDAF0FAu},
    {"kBark16Long", 640, 0xC0054BE8u},
    {"kBark16Medium", 320, 0x7978B4DCu},
    {"kBark16Short", 320, 0x71EFF1BBu},
    {"kBark22v1Long", 512, 0x497530F3u},
    {"kBark22v1Medium", 640, 0x9C2A4848u},
    {"kBark22v1Short", 640, 0x3967EDA0u},
    {"kBark22v2Long", 512, 0x9EEE1AACu},
    {"kBark22v2Medium", 640, 0x25911423u},
    {"kBark22v2Short", 640, 0xF3AC153Au},
    {"kBark44Long", 640, 0x9E486E68u},
    {"kBark44Medium", 640, 0xE5172A44u},
    {"kBark44Short", 640, 0x7E423824u},
    {"kPeak08", 1280, 0xE093A6B5u},
    {"kPeak11", 1280, 0x94041E7Cu},
    {"kPeak16", 1920, 0x62CA0171u},
    {"kPeak22v1", 1152, 0xEB95256Bu},
    {"kPeak22v2", 1152, 0x1F1422B8u},
    {"kPeak44", 1152, 0x7BB459D2u},
    {"kLsp08", 504, 0x46C1C70Bu},
    {"kLsp11", 1312, 0x01F56DF9u},
    {"kLsp16", 1400, 0x431F139Fu},
    {"kLsp22v1", 1312, 0x2CDDC99Fu},
    {"kLsp22v2", 1312, 0x1BC71383u},
    {"kLsp44", 1640, 0x89295D97u},
    {"kTies35", 385, 0xA163A2D4u},
    {"kTies5", 65, 0xF45707A5u},
    {"kTies45", 450, 0xF2F19DD5u},
    {"kTies25", 225, 0x0BB4F835u},
    {"kTies55", 495, 0x60A02844u},
    {"kTies15", 165, 0x874EEF65u},
};

uint32_t Checksum(const twinvq::StoredTable& t) {
  uint32_t h = 0x811C9DC5u;
  for (int32_t i = 0; i < t.count; ++i) {
    int32_t v;
    if (t.elementBytes == 1) {
      v = static_cast<const uint8_t*>(t.values)[i];
    } else if (t.isSigned) {
      v = static_cast<const int16_t*>(t.values)[i];
    } else {
      v = static_cast<const uint16_t*>(t.values)[i];
    }
    for (int32_t b = 0; b < 4; ++b) {
      h = (h ^ ((static_cast<uint32_t>(v) >> (8 * b)) & 0xFFu)) * 0x01000193u;
    }
  }
  return h;
}

TEST(TwinVqTables, EveryTableMatchesItsChecksum) {
  ASSERT_EQ(twinvq::kStoredTableCount, int32_t(sizeof kExpected / sizeof kExpected[0]));
  for (int32_t i = 0; i < twinvq::kStoredTableCount; ++i) {
    const twinvq::StoredTable& t = twinvq::kStoredTables[i];
    SCOPED_TRACE(t.name);
    EXPECT_STREQ(t.name, kExpected[i].name);
    EXPECT_EQ(t.count, kExpected[i].count);
    EXPECT_EQ(Checksum(t), kExpected[i].fnv1a);
  }
}

// Each mode's codebooks are as long as its layout reads: 64 vectors of the stride per main
// book, bark bands that cover a block, and bark codebooks of 2^bits rows.
TEST(TwinVqTables, ModesUseWholeTables) {
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    SCOPED_TRACE(std::to_string(m.kHzCode) + "/" + std::to_string(m.kbpsPerChannel));
    for (const twinvq::BlockTables& b : m.block) {
      int32_t bins = 0;
      for (int32_t i = 0; i < b.bandCount; ++i) bins += b.bandWidths[i];
      EXPECT_EQ(bins, m.frameSize / b.subBlocks);
      EXPECT_EQ(b.bandCount % b.barkValues, 0);
    }
  }
}

// Every codebook part's permutation reaches each spectrum slot exactly once, its inverse
// takes each slot back, and its vectors fit their codebook entries.
TEST(TwinVqTables, PermutationsCoverEverySlotOnce) {
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      twinvq::StreamSetup setup;
      ASSERT_TRUE(setup.Init(m.kHzCode, m.kbpsPerChannel, channels));
      for (int32_t k = 0; k < 4; ++k) {
        const twinvq::VectorPart& p = setup.part(static_cast<twinvq::BlockKind>(k));
        std::vector<int32_t> hits(p.destination.size(), 0);
        for (int32_t slot : p.destination) {
          ASSERT_GE(slot, 0);
          ASSERT_LT(slot, int32_t(hits.size()));
          ++hits[slot];
        }
        EXPECT_EQ(hits, std::vector<int32_t>(hits.size(), 1)) << m.kHzCode << "/" << m.kbpsPerChannel << " part " << k;
        ASSERT_EQ(p.source.size(), p.destination.size());
        for (size_t i = 0; i < p.destination.size(); ++i) EXPECT_EQ(p.source[p.destination[i]], int32_t(i));
        EXPECT_LE(p.length[0], p.codebookStride);
      }
    }
  }
}

}  // namespace
