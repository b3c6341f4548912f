// The core against the records of the rest of the project: its frame bits against the VQF
// plug-in's frame writer. (The stand-in encoder library's tests hold its own derivation of
// the layouts as an oracle for the core's.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bit_file.h"
#include "encoder_library.h"
#include "frame_bits.h"
#include "frame_writer.h"
#include "random_frames.h"
#include "stream_setup.h"

namespace {

using twinvq::FrameValues;
using twinvq::StreamSetup;

bool SameValues(const FrameValues& a, const FrameValues& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The plug-in's frame writer, bound to a library that reports our layout.
const StreamSetup* boundSetup = nullptr;
int32_t boundWidths0[4][twinvq::kMaxMainPairs];
int32_t boundWidths1[4][twinvq::kMaxMainPairs];

int32_t TVQ_API LayoutConf(EncoderConfig* config) {
  boundSetup->FillEncoderConfig(config);
  return 0;
}
int32_t TVQ_API LayoutVectors(int32_t** widths0, int32_t** widths1) {
  for (int32_t e = 0; e < 4; ++e) {
    boundSetup->FillCodebookWidths(e, boundWidths0[e], boundWidths1[e]);
    widths0[e] = boundWidths0[e];
    widths1[e] = boundWidths1[e];
  }
  return 0;
}
int32_t TVQ_API LayoutUpdate(int32_t, int32_t* count, int32_t* widths0, int32_t* widths1) {
  *count = boundSetup->part(twinvq::kLongBlock).pairs;
  boundSetup->FillCodebookWidths(twinvq::kLongBlock, widths0, widths1);
  return 0;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// For every mode and window type, the plug-in's record of a FrameIndex and our bitstream of
// the values loaded from it are the same bits; and the FrameIndex round trip keeps them.
TEST(TwinVqFrameBits, AgreesWithThePluginFrameRecords) {
  const EncoderEntryPoints saved = encoderEntryPoints;
  encoderEntryPoints.TvqEncGetConfInfo = LayoutConf;
  encoderEntryPoints.TvqEncGetVectorInfo = LayoutVectors;
  encoderEntryPoints.TvqEncUpdateVectorInfo = LayoutUpdate;
  std::mt19937 rng(7);
  const std::string path = ::testing::TempDir() + "twinvq_frame_records.bin";
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      StreamSetup setup;
      ASSERT_TRUE(setup.Init(m.kHzCode, m.kbpsPerChannel, channels));
      boundSetup = &setup;
      FrameLayout layout;
      FetchFrameLayout(&layout);
      BitFile* file = OpenBitFile(path.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      twinvq::BitWriter ours;
      for (int32_t type = 0; type < twinvq::kWindowTypeCount; ++type) {
        const FrameValues values = twinvq_test::RandomFrame(setup, type, rng);
        twinvq::FrameIndexArrays arrays;
        FrameIndex index{};
        twinvq::BindFrameIndex(&arrays, &index);
        twinvq::StoreInFrameIndex(setup, values, &index);
        WriteFrameRecord(&index, &layout, file);
        FrameValues loaded;
        twinvq::LoadFromFrameIndex(setup, index, &loaded);
        EXPECT_TRUE(SameValues(loaded, values));
        twinvq::WriteFrame(setup, loaded, &ours);
      }
      ASSERT_TRUE(CloseBitFile(file));
      EXPECT_EQ(ReadWholeFile(path), ours.bytes()) << m.kHzCode << "/" << m.kbpsPerChannel;
    }
  }
  std::remove(path.c_str());
  encoderEntryPoints = saved;
}

}  // namespace
