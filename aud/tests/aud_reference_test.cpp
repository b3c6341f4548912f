// The codec and the chunk streams against the fuzz targets' reference model (fuzz/), which
// implements IMA ADPCM and the chunk layout on its own: long random runs that would show a
// wrong table entry, a wrong nibble or a chunk cut in the wrong place.
#include "aud_reference.h"
#include "aud_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
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

struct CountingSink {
  std::vector<uint8_t> bytes;
  size_t writes = 0;
  AudByteSink sink{this, [](void* self, const uint8_t* data, uint32_t length) -> uint32_t {
                     auto& s = *static_cast<CountingSink*>(self);
                     s.bytes.insert(s.bytes.end(), data, data + length);
                     ++s.writes;
                     return length;
                   }};
};

struct CountingSource {
  const std::vector<uint8_t>* bytes;
  size_t position = 0;
  size_t reads = 0;
  AudByteSource source{this,
                       [](void* self, uint8_t* data, uint32_t length) -> uint32_t {
                         auto& s = *static_cast<CountingSource*>(self);
                         ++s.reads;
                         const size_t size = s.bytes->size();
                         const size_t n = std::min<size_t>(length, size - std::min(s.position, size));
                         if (n) std::copy_n(s.bytes->begin() + s.position, n, data);
                         s.position += n;
                         return static_cast<uint32_t>(n);
                       },
                       [](void* self, uint32_t length) { static_cast<CountingSource*>(self)->position += length; }};
};

// Host blocks of random sizes become exactly the reference's chunks, one sink write for each
// block of up to 32 chunks; read back through read-aheads of several sizes with requests of
// random sizes, they give the reference decoder's samples, none lost at any boundary.
TEST(AudStreamReference, RandomBlocksAndRequestsMatchTheReference) {
  const auto signal = VariedSignal(600000, 77);
  std::mt19937 random(3);
  auto writer = std::make_unique<AudChunkWriter>();
  CountingSink file;
  fuzzref::ImaState model;
  std::vector<uint8_t> expected;
  size_t at = 0;
  while (at < signal.size()) {
    const uint32_t roomBytes = static_cast<uint32_t>(2 * (signal.size() - at));
    const uint32_t choice = random() % 4;
    uint32_t bytes = choice == 0 ? 65536 : choice == 1 ? 1 + random() % 4096 : random() % 100000;
    bytes = std::min(bytes, roomBytes);
    std::vector<std::vector<uint8_t>> chunks;
    fuzzref::EncodeAudBlock(model, signal.data() + at, bytes, chunks);
    for (const auto& chunk : chunks) expected.insert(expected.end(), chunk.begin(), chunk.end());
    const size_t writesBefore = file.writes;
    ASSERT_EQ(AudWriteBlock(writer.get(), &file.sink, signal.data() + at, bytes), bytes);
    ASSERT_EQ(file.writes - writesBefore, (chunks.size() + AUD_GATHER_CHUNKS - 1) / AUD_GATHER_CHUNKS)
        << "block of " << bytes << " bytes";
    at += bytes / 2;
  }
  ASSERT_EQ(file.bytes, expected);

  std::vector<int16_t> reference;
  for (const auto& event : fuzzref::DecodeAudChunks(expected.data(), expected.size())) reference.push_back(event.sample);
  for (uint32_t capacity : {1u, 7u, 520u, 4099u, 32768u}) {
    CountingSource source{&file.bytes};
    std::vector<uint8_t> buffer(capacity);
    AudReadAhead ahead;
    AudReadAheadInit(&ahead, &source.source, buffer.data(), capacity);
    const AudByteSource aheadSource = AudReadAheadSource(&ahead);
    AudChunkReader reader{};
    std::vector<int16_t> samples;
    size_t requests = 0;
    for (;; ++requests) {
      const uint32_t bytes = random() % 3 ? 30720 : random() % 70000;
      std::vector<int16_t> out(bytes / 2 + 1, 0x7E7E);
      const uint32_t got = AudReadBlock(&reader, &aheadSource, out.data(), bytes);
      ASSERT_EQ(out[bytes / 2], 0x7E7E) << "stored past the request";
      samples.insert(samples.end(), out.begin(), out.begin() + got / 2);
      if (got < (bytes & ~1u)) break;
    }
    EXPECT_EQ(samples, reference) << "read-ahead of " << capacity;
    if (capacity >= 520) {
      EXPECT_LE(source.reads, file.bytes.size() / capacity + requests + 2) << capacity;
    }
  }
}

}  // namespace
