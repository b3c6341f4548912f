// The chunk codec against hand-worked values and its invariants.
#include "aud_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Encode(AudCodecState& state, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> chunk(AUD_CHUNK_HEADER_BYTES + AUD_CHUNK_MAX_CODE_BYTES, 0xCC);
  chunk.resize(AudEncodeChunk(&state, samples.data(), static_cast<uint32_t>(samples.size()), chunk.data()));
  return chunk;
}

std::vector<int16_t> Decode(AudCodecState& state, const std::vector<uint8_t>& chunk,
                            uint32_t maxSamples = AUD_CHUNK_MAX_SAMPLES) {
  std::vector<int16_t> out(AUD_CHUNK_MAX_SAMPLES + 1, 0x5555);
  out.resize(AudDecodeChunk(&state, chunk.data(), static_cast<uint32_t>(chunk.size()), out.data(), maxSamples));
  return out;
}

std::vector<uint8_t> Codes(const std::vector<uint8_t>& chunk) {
  return std::vector<uint8_t>(chunk.begin() + AUD_CHUNK_HEADER_BYTES, chunk.end());
}

AudChunkHeader Header(const std::vector<uint8_t>& chunk) {
  AudChunkHeader header{};
  EXPECT_TRUE(AudParseChunkHeader(chunk.data(), &header));
  return header;
}

// The tables of the IMA ADPCM standard (Interactive Multimedia Association, 1992), written
// out here by row of ten rather than taken from the codec, so that a changed entry shows.
TEST(AudCodecTables, AreTheImaStepSizesAndIndexAdjustments) {
  const int16_t imaSteps[89] = {
      7,     8,     9,     10,    11,    12,    13,    14,    16,    17,     // 0
      19,    21,    23,    25,    28,    31,    34,    37,    41,    45,     // 10
      50,    55,    60,    66,    73,    80,    88,    97,    107,   118,    // 20
      130,   143,   157,   173,   190,   209,   230,   253,   279,   307,    // 30
      337,   371,   408,   449,   494,   544,   598,   658,   724,   796,    // 40
      876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,   // 50
      2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,   // 60
      5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899,  // 70
      15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};        // 80
  for (int i = 0; i < 89; ++i) EXPECT_EQ(kAudStepSizes[i], imaSteps[i]) << "step size " << i;
  // By whole code: the sign bit (8) does not change the adjustment.
  const int8_t imaAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
  for (int code = 0; code < 16; ++code) EXPECT_EQ(kAudIndexAdjust[code], imaAdjust[code & 7]) << "code " << code;
}

TEST(AudCodecWorkedExamples, ThousandZerosGiveZeroCodesAndKeepTheState) {
  AudCodecState state{0, 0};
  const auto chunk = Encode(state, std::vector<int16_t>(1024, 0));
  ASSERT_EQ(chunk.size(), 520u);
  const std::vector<uint8_t> header = {0x00, 0x02, 0x00, 0x08, 0xAF, 0xDE, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(chunk.begin(), chunk.begin() + 8), header);
  EXPECT_EQ(Codes(chunk), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(state.predictor, 0);
  EXPECT_EQ(state.stepIndex, 0);
}

TEST(AudCodecWorkedExamples, RisingRampEncodesAndDecodesToTheWorkedValues) {
  AudCodecState encoder{0, 0};
  const auto chunk = Encode(encoder, {100, 200, 300, 400});
  EXPECT_EQ(Codes(chunk), (std::vector<uint8_t>{0x77, 0x77}));
  EXPECT_EQ(encoder.predictor, 240);
  EXPECT_EQ(encoder.stepIndex, 32);

  AudCodecState decoder{0, 0};
  EXPECT_EQ(Decode(decoder, chunk), (std::vector<int16_t>{11, 41, 104, 240}));
  EXPECT_EQ(decoder.predictor, 240);
  EXPECT_EQ(decoder.stepIndex, 32);
}

TEST(AudCodecWorkedExamples, FullScaleInputsSaturateTheCodes) {
  AudCodecState top{0, 0};
  EXPECT_EQ(Codes(Encode(top, std::vector<int16_t>(4, 32767))), (std::vector<uint8_t>{0x77, 0x77}));
  AudCodecState bottom{0, 0};
  const auto chunk = Encode(bottom, std::vector<int16_t>(4, -32768));
  EXPECT_EQ(Codes(chunk), (std::vector<uint8_t>{0xFF, 0xFF}));
  AudCodecState decoder{0, 0};
  EXPECT_EQ(Decode(decoder, chunk), (std::vector<int16_t>{-11, -41, -104, -240}));
}

TEST(AudCodecWorkedExamples, OddChunkLeavesTheLastHighNibbleClear) {
  AudCodecState state{0, 0};
  const auto chunk = Encode(state, {-500, 700, -900});
  const AudChunkHeader header = Header(chunk);
  EXPECT_EQ(header.compressedSize, 2);
  EXPECT_EQ(header.outputSize, 6);
  ASSERT_EQ(chunk.size(), 10u);
  EXPECT_EQ(chunk[9] & 0xF0, 0);
  EXPECT_EQ(chunk[9] & 0x08, 0x08);  // the third sample lies below its prediction
}

TEST(AudCodecWorkedExamples, EmptyChunkIsAHeaderWithBothSizesZero) {
  AudCodecState state{0, 0};
  const auto chunk = Encode(state, {});
  ASSERT_EQ(chunk.size(), 8u);
  EXPECT_EQ(Header(chunk).compressedSize, 0);
  EXPECT_EQ(Header(chunk).outputSize, 0);
}

TEST(AudCodecDecoding, StopsAtTheSampleLimitAndAtTheCodesPresent) {
  AudCodecState state{0, 0};
  std::vector<int16_t> ramp(1024);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i * 31);
  const auto chunk = Encode(state, ramp);
  AudCodecState limited{0, 0};
  EXPECT_EQ(Decode(limited, chunk, 300).size(), 300u);

  // A chunk cut after 10 code bytes yields exactly the 20 samples those bytes hold.
  std::vector<uint8_t> cut(chunk.begin(), chunk.begin() + 18);
  AudCodecState whole{0, 0}, partial{0, 0};
  const auto all = Decode(whole, chunk);
  const auto some = Decode(partial, cut);
  ASSERT_EQ(some.size(), 20u);
  EXPECT_TRUE(std::equal(some.begin(), some.end(), all.begin()));

  // An output size announcing more samples than the codes hold stops at the last code.
  std::vector<uint8_t> boastful = cut;
  boastful[0] = 10;
  boastful[1] = 0;
  boastful[2] = 0xFF;
  boastful[3] = 0xFF;
  AudCodecState fromHeader{0, 0};
  EXPECT_EQ(Decode(fromHeader, boastful).size(), 20u);
}

TEST(AudCodecDecoding, RejectsWrongIdsAndShortHeadersWithoutTouchingTheState) {
  AudCodecState state{123, 45};
  std::vector<uint8_t> chunk = {2, 0, 4, 0, 0xAF, 0xDE, 1, 0, 0x77, 0x77};
  EXPECT_TRUE(Decode(state, chunk).empty());
  chunk[6] = 0;
  std::vector<uint8_t> shortHeader(chunk.begin(), chunk.begin() + 7);
  EXPECT_TRUE(Decode(state, shortHeader).empty());
  EXPECT_EQ(state.predictor, 123);
  EXPECT_EQ(state.stepIndex, 45);
}

TEST(AudCodecInvariants, StateStaysInRangeWhateverTheInput) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> anySample(-32768, 32767);
  AudCodecState encoder{0, 0}, decoder{0, 0};
  for (int round = 0; round < 200; ++round) {
    std::vector<int16_t> samples(1 + random() % 1024);
    // Alternate full-scale noise with bursts of extremes to drive both clamps.
    for (auto& s : samples) s = static_cast<int16_t>(round % 3 ? anySample(random) : (random() & 1 ? 32767 : -32768));
    const auto chunk = Encode(encoder, samples);
    ASSERT_GE(encoder.stepIndex, 0);
    ASSERT_LE(encoder.stepIndex, 88);
    ASSERT_GE(encoder.predictor, -32768);
    ASSERT_LE(encoder.predictor, 32767);
    const auto decoded = Decode(decoder, chunk);
    ASSERT_EQ(decoded.size(), samples.size());
    ASSERT_EQ(decoder.predictor, encoder.predictor);
    ASSERT_EQ(decoder.stepIndex, encoder.stepIndex);
    ASSERT_EQ(decoded.back(), encoder.predictor);
  }
  for (uint32_t code = 0; code < 16; ++code) {
    AudCodecState edge{32767, 88};
    AudApplyCode(&edge, code);
    EXPECT_LE(edge.stepIndex, 88);
    edge = {-32768, 0};
    AudApplyCode(&edge, code);
    EXPECT_GE(edge.predictor, -32768);
    EXPECT_GE(edge.stepIndex, 0);
  }
}

TEST(AudCodecInvariants, SequenceLoopsAgreeWithTheSampleStep) {
  // The block loops use tables built from the step; they must match it from any state.
  std::mt19937 random(99);
  for (int round = 0; round < 300; ++round) {
    const AudCodecState start{static_cast<int32_t>(random() % 65536) - 32768, static_cast<int32_t>(random() % 89)};
    std::vector<int16_t> samples(64);
    const int spread = 1 << (random() % 17);
    for (auto& s : samples) s = static_cast<int16_t>(start.predictor + static_cast<int>(random() % (2 * spread + 1)) - spread);
    AudCodecState block = start, single = start;
    std::vector<uint8_t> codes(32);
    AudEncodeCodes(&block, samples.data(), 64, codes.data());
    for (size_t i = 0; i < samples.size(); ++i)
      ASSERT_EQ(AudEncodeSample(&single, samples[i]), (codes[i / 2] >> (4 * (i % 2))) & 15u) << "sample " << i;
    ASSERT_EQ(block.predictor, single.predictor);
    ASSERT_EQ(block.stepIndex, single.stepIndex);

    AudCodecState decoded = start, stepped = start;
    std::vector<int16_t> out(64);
    AudDecodeCodes(&decoded, codes.data(), 0, 64, out.data());
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_EQ(out[i], AudApplyCode(&stepped, (codes[i / 2] >> (4 * (i % 2))) & 15u));
    ASSERT_EQ(decoded.stepIndex, stepped.stepIndex);
  }
}

TEST(AudCodecInvariants, ChunkByChunkEqualsOneSequence) {
  std::mt19937 random(7);
  std::vector<int16_t> signal(5000);
  for (size_t i = 0; i < signal.size(); ++i)
    signal[i] = static_cast<int16_t>(8000 * ((i / 37) % 2 ? 1 : -1) + static_cast<int>(random() % 2001) - 1000);

  // Encoding in chunks of uneven length gives the same codes as one long sequence.
  AudCodecState chunked{0, 0};
  std::vector<int16_t> decodedByChunk;
  AudCodecState decoder{0, 0};
  std::vector<uint8_t> chunkCodes;
  size_t at = 0;
  for (uint32_t length : {1024u, 1u, 700u, 1024u, 2u, 1024u, 1024u, 201u}) {
    const auto chunk = Encode(chunked, std::vector<int16_t>(signal.begin() + at, signal.begin() + at + length));
    const auto part = Decode(decoder, chunk);
    decodedByChunk.insert(decodedByChunk.end(), part.begin(), part.end());
    at += length;
  }
  ASSERT_EQ(at, signal.size());

  AudCodecState whole{0, 0};
  std::vector<uint8_t> codes(AudCodeBytesFor(5000));
  AudEncodeCodes(&whole, signal.data(), 5000, codes.data());
  AudCodecState sequence{0, 0};
  std::vector<int16_t> decodedWhole(5000);
  AudDecodeCodes(&sequence, codes.data(), 0, 2501, decodedWhole.data());
  AudDecodeCodes(&sequence, codes.data(), 2501, 2499, decodedWhole.data() + 2501);  // resumes mid-byte
  EXPECT_EQ(decodedByChunk, decodedWhole);
  EXPECT_EQ(chunked.predictor, whole.predictor);
  EXPECT_EQ(chunked.stepIndex, whole.stepIndex);
}

}  // namespace
