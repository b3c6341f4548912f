// The codec against the fuzz targets' reference model (fuzz/), which implements IMA ADPCM on
// its own: a long random run that would show a wrong table entry or a wrong nibble.
#include "aud_reference.h"
#include "aud_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// Silence, quiet and loud noise, square waves and full-scale extremes in random segments,
// so that the step index falls to 0, climbs to 88 and both clamps are met.
std::vector<int16_t> VariedSignal(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int16_t> out;
  out.reserve(count);
  while (out.size() < count) {
    const size_t length = 1 + random() % 5000;
    const uint32_t kind = random() % 5;
    const int amplitude = 1 << (random() % 16);
    for (size_t i = 0; i < length && out.size() < count; ++i) {
      int value = 0;
      if (kind == 1) value = static_cast<int>(random() % (2 * amplitude + 1)) - amplitude;
      if (kind == 2) value = (i / (1 + amplitude % 97)) % 2 ? 32767 : -32768;
      if (kind == 3) value = static_cast<int>(random() % 65536) - 32768;
      if (kind == 4) value = ((i / 40) % 2 ? amplitude : -amplitude) - 1;
      out.push_back(static_cast<int16_t>(std::clamp(value, -32768, 32767)));
    }
  }
  return out;
}

TEST(AudCodecReference, LongRandomSequencesCodeAndDecodeAsTheReferenceDoes) {
  const auto signal = VariedSignal(1500000, 20261208);
  std::vector<uint8_t> codes(AudCodeBytesFor(static_cast<uint32_t>(signal.size())));
  AudCodecState encoder{0, 0};
  AudEncodeCodes(&encoder, signal.data(), static_cast<uint32_t>(signal.size()), codes.data());

  fuzzref::ImaState model;
  std::vector<bool> indexSeen(89), codeSeen(16);
  for (size_t i = 0; i < signal.size(); ++i) {
    indexSeen[model.stepIndex] = true;
    const uint32_t expected = fuzzref::ImaEncode(model, signal[i]);
    codeSeen[expected] = true;
    ASSERT_EQ((codes[i / 2] >> (4 * (i % 2))) & 15u, expected) << "sample " << i;
  }
  EXPECT_EQ(encoder.predictor, model.predictor);
  EXPECT_EQ(encoder.stepIndex, model.stepIndex);
  EXPECT_EQ(std::count(indexSeen.begin(), indexSeen.end(), true), 89) << "not every step size was used";
  EXPECT_EQ(std::count(codeSeen.begin(), codeSeen.end(), true), 16) << "not every code was used";

  // Decoding: the codes above, then codes drawn at random (any code from any state).
  std::mt19937 random(5);
  for (size_t i = codes.size() / 2; i < codes.size(); ++i) codes[i] = static_cast<uint8_t>(random());
  std::vector<int16_t> decoded(signal.size());
  AudCodecState decoder{0, 0};
  AudDecodeCodes(&decoder, codes.data(), 0, static_cast<uint32_t>(signal.size()), decoded.data());
  fuzzref::ImaState reference;
  for (size_t i = 0; i < signal.size(); ++i)
    ASSERT_EQ(decoded[i], fuzzref::ImaDecode(reference, (codes[i / 2] >> (4 * (i % 2))) & 15u)) << "code " << i;
  EXPECT_EQ(decoder.stepIndex, reference.stepIndex);
}

}  // namespace
