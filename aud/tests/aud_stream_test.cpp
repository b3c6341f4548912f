// Chunk streams over memory: how host blocks become chunks, and how requests of any size
// are filled from chunks of any size, intact, truncated or foreign.
#include "aud_header.h"
#include "aud_reference.h"
#include "aud_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

namespace {

// A sink that stores everything until `capacity` bytes, then fails (a full disk).
struct MemorySink {
  std::vector<uint8_t> bytes;
  size_t capacity = SIZE_MAX;
  MemorySink() = default;
  MemorySink(const MemorySink&) = delete;
  size_t writes = 0;
  AudByteSink sink{this, [](void* self, const uint8_t* data, uint32_t length) -> uint32_t {
                     auto& s = *static_cast<MemorySink*>(self);
                     const size_t room = s.capacity - std::min(s.capacity, s.bytes.size());
                     const size_t n = std::min<size_t>(length, room);
                     s.bytes.insert(s.bytes.end(), data, data + n);
                     ++s.writes;
                     return static_cast<uint32_t>(n);
                   }};
};

// A source over a byte vector: short reads at its end, skips may run past it.
struct MemorySource {
  std::vector<uint8_t> bytes;
  size_t position = 0;
  size_t reads = 0;
  MemorySource() = default;
  // A copy reads its own bytes: `source` below is re-made for it, pointing at the copy.
  MemorySource(const MemorySource& other) : bytes(other.bytes), position(other.position) {}
  AudByteSource source{this,
                       [](void* self, uint8_t* data, uint32_t length) -> uint32_t {
                         auto& s = *static_cast<MemorySource*>(self);
                         ++s.reads;
                         const size_t n = std::min<size_t>(length, s.bytes.size() - std::min(s.position, s.bytes.size()));
                         if (n) std::copy_n(s.bytes.begin() + s.position, n, data);
                         s.position += n;
                         return static_cast<uint32_t>(n);
                       },
                       [](void* self, uint32_t length) { static_cast<MemorySource*>(self)->position += length; }};
};

std::vector<int16_t> Signal(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<int16_t> samples(count);
  int phase = 0;
  for (auto& s : samples) s = static_cast<int16_t>((phase += 97) % 20000 - 10000 + static_cast<int>(random() % 512));
  return samples;
}

// One chunk with the given header fields followed by `codes`.
std::vector<uint8_t> RawChunk(uint32_t compressedSize, uint32_t outputSize, const std::vector<uint8_t>& codes,
                              uint32_t id = AUD_CHUNK_ID) {
  std::vector<uint8_t> chunk = {static_cast<uint8_t>(compressedSize), static_cast<uint8_t>(compressedSize >> 8),
                                static_cast<uint8_t>(outputSize),     static_cast<uint8_t>(outputSize >> 8),
                                static_cast<uint8_t>(id),             static_cast<uint8_t>(id >> 8),
                                static_cast<uint8_t>(id >> 16),       static_cast<uint8_t>(id >> 24)};
  chunk.insert(chunk.end(), codes.begin(), codes.end());
  return chunk;
}

// Codes for `samples` from state `state`, as one sequence.
std::vector<uint8_t> CodesFor(AudCodecState& state, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> codes(AudCodeBytesFor(static_cast<uint32_t>(samples.size())));
  AudEncodeCodes(&state, samples.data(), static_cast<uint32_t>(samples.size()), codes.data());
  return codes;
}

std::vector<int16_t> DecodeAll(AudCodecState& state, const std::vector<uint8_t>& codes, uint32_t count) {
  std::vector<int16_t> out(count);
  AudDecodeCodes(&state, codes.data(), 0, count, out.data());
  return out;
}

std::vector<uint32_t> ChunkSampleCounts(const std::vector<uint8_t>& stream) {
  std::vector<uint32_t> counts;
  for (size_t at = 0; at + 8 <= stream.size();) {
    AudChunkHeader header;
    EXPECT_TRUE(AudParseChunkHeader(&stream[at], &header));
    counts.push_back(header.outputSize / 2u);
    at += 8 + header.compressedSize;
  }
  return counts;
}

// Reads with the given request sizes (cycled) until a request comes back short.
std::vector<int16_t> ReadInRequests(MemorySource& file, std::initializer_list<uint32_t> sizes,
                                    std::vector<uint32_t>* results = nullptr) {
  AudChunkReader reader{};
  std::vector<int16_t> all;
  for (size_t i = 0;; ++i) {
    const uint32_t bytes = sizes.begin()[i % sizes.size()];
    std::vector<int16_t> buffer(bytes / 2 + 1, 0x1234);
    const uint32_t got = AudReadBlock(&reader, &file.source, buffer.data(), bytes);
    EXPECT_EQ(buffer[bytes / 2], 0x1234) << "stored past the request";
    if (results) results->push_back(got);
    all.insert(all.end(), buffer.begin(), buffer.begin() + got / 2);
    if (got < bytes - (bytes & 1)) return all;
  }
}

TEST(AudWriteBlock, CutsEachBlockIntoFullChunksAndARest) {
  const auto signal = Signal(8192, 1);
  struct Case {
    std::vector<uint32_t> blocks;
    std::vector<uint32_t> chunks;
  };
  for (const Case& c : {Case{{4096}, {1024, 1024}}, Case{{2050}, {1024, 1}}, Case{{3000, 1096}, {1024, 476, 548}},
                        Case{{65536 / 8}, {1024, 1024, 1024, 1024}}, Case{{0}, {}}, Case{{5}, {2}}}) {
    MemorySink file;
    AudChunkWriter writer{};
    uint32_t at = 0;
    for (uint32_t bytes : c.blocks) {
      EXPECT_EQ(AudWriteBlock(&writer, &file.sink, signal.data() + at / 2, bytes), bytes);
      EXPECT_EQ(file.writes, at + bytes ? 1u + (at ? 1u : 0u) : 0u);  // one write per block
      at += bytes;
    }
    EXPECT_EQ(ChunkSampleCounts(file.bytes), c.chunks);
    uint32_t total = 0;
    for (uint32_t n : c.chunks) total += n;
    EXPECT_EQ(writer.samplesWritten, total);
  }
}

TEST(AudWriteBlock, AFailedWriteReportsOnlyTheChunksStoredWhole) {
  // The chunks of a block go out in writes of up to 32; a full disk may cut any of them.
  const auto signal = Signal(40 * 1024, 2);
  struct Case {
    uint32_t block;
    size_t capacity;
    uint32_t wholeChunks;  // stored whole before the failure
    size_t writes;
  };
  for (const Case& c : {Case{8192, 2 * 520 + 100, 2, 1},     // inside the one write of a small block
                        Case{81920, 35 * 520 + 3, 35, 2},    // inside the second write of a long block
                        Case{81920, 32 * 520, 32, 2},        // the first write fills the disk exactly
                        Case{1000, 8, 0, 1}}) {              // not even the last chunk's codes fit
    MemorySink file;
    file.capacity = c.capacity;
    auto writer = std::make_unique<AudChunkWriter>();
    EXPECT_EQ(AudWriteBlock(writer.get(), &file.sink, signal.data(), c.block), c.wholeChunks * 2048) << c.block;
    EXPECT_EQ(writer->samplesWritten, c.wholeChunks * 1024);
    EXPECT_EQ(writer->bytesWritten, c.wholeChunks * 520);
    EXPECT_EQ(file.writes, c.writes);
    EXPECT_TRUE(writer->failed);
    EXPECT_EQ(AudWriteBlock(writer.get(), &file.sink, signal.data(), 2), 0u);  // nothing after a failure
    EXPECT_EQ(file.writes, c.writes);
  }
}

// Chunks of 1024, 2048 (as other encoders write them), 1, 0 and 777 samples.
struct MixedFile {
  std::vector<int16_t> expected;
  MemorySource file;
  MixedFile() {
    AudCodecState encoder{0, 0}, decoder{0, 0};
    size_t at = 0;
    const auto signal = Signal(1024 + 2048 + 1 + 777, 3);
    for (uint32_t n : {1024u, 2048u, 1u, 0u, 777u}) {
      const auto codes = CodesFor(encoder, std::vector<int16_t>(signal.begin() + at, signal.begin() + at + n));
      const auto chunk = RawChunk(static_cast<uint32_t>(codes.size()), 2 * n, codes);
      file.bytes.insert(file.bytes.end(), chunk.begin(), chunk.end());
      const auto part = DecodeAll(decoder, codes, n);
      expected.insert(expected.end(), part.begin(), part.end());
      at += n;
    }
  }
};

TEST(AudReadBlock, RequestsOfAnySizeLoseNoSample) {
  for (auto sizes : {std::initializer_list<uint32_t>{1000}, {2}, {30720}, {4097, 6, 2046}, {3, 1}}) {
    MixedFile mixed;
    EXPECT_EQ(ReadInRequests(mixed.file, sizes), mixed.expected);
  }
}

TEST(AudReadBlock, FullRequestsOverFullChunksEndOnChunkBoundaries) {
  MemorySink sink;
  AudChunkWriter writer{};
  const auto signal = Signal(15 * 1024 * 2 + 300, 4);
  AudWriteBlock(&writer, &sink.sink, signal.data(), static_cast<uint32_t>(signal.size() * 2));
  MemorySource file;
  file.bytes = sink.bytes;
  std::vector<uint32_t> results;
  const auto samples = ReadInRequests(file, {30720}, &results);
  EXPECT_EQ(results, (std::vector<uint32_t>{30720, 30720, 600}));
  EXPECT_EQ(samples.size(), signal.size());

  // After one request the source stands exactly at the 16th chunk.
  MemorySource again;
  again.bytes = sink.bytes;
  AudChunkReader reader{};
  std::vector<int16_t> buffer(15360);
  EXPECT_EQ(AudReadBlock(&reader, &again.source, buffer.data(), 30720), 30720u);
  EXPECT_EQ(again.position, 15u * 520);
}

TEST(AudReadBlock, BadChunksEndTheDataWithWhatWasDecoded) {
  AudCodecState encoder{0, 0};
  const auto codes = CodesFor(encoder, Signal(1024, 5));
  const auto good = RawChunk(512, 2048, codes);
  auto file = [&](std::vector<std::vector<uint8_t>> pieces) {
    MemorySource source;
    for (auto& p : pieces) source.bytes.insert(source.bytes.end(), p.begin(), p.end());
    return source;
  };
  auto samplesRead = [](MemorySource source) { return ReadInRequests(source, {30720}).size(); };

  // A foreign id in the middle ends the data after the first chunk.
  EXPECT_EQ(samplesRead(file({good, RawChunk(512, 2048, codes, 0xBEEF), good})), 1024u);
  // A chunk cut after 101 code bytes yields the 202 samples those bytes hold.
  EXPECT_EQ(samplesRead(file({good, std::vector<uint8_t>(good.begin(), good.begin() + 8 + 101)})), 1024u + 202);
  // A header cut short, or no header at all, ends the data.
  EXPECT_EQ(samplesRead(file({good, std::vector<uint8_t>(good.begin(), good.begin() + 5)})), 1024u);
  EXPECT_EQ(samplesRead(file({})), 0u);
  // An output size beyond the codes stops at the last code.
  EXPECT_EQ(samplesRead(file({RawChunk(512, 0xFFFE, codes)})), 1024u);
  // A compressed size of 65535 holding 1024 samples: the rest is passed over, the next chunk follows.
  std::vector<uint8_t> padded = codes;
  padded.resize(65535, 0xAB);
  EXPECT_EQ(samplesRead(file({RawChunk(65535, 2048, padded), good})), 2048u);
  // The same with its codes missing decodes what is there and stops.
  EXPECT_EQ(samplesRead(file({RawChunk(65535, 0xFFFE, codes)})), 1024u);
}

// Host blocks of random sizes become exactly the reference model's chunks (fuzz/), one sink
// write for each block of up to 32 chunks; read back through read-aheads of several sizes
// with requests of random sizes, they give the model's samples, none lost at any boundary.
TEST(AudStreamReference, RandomBlocksAndRequestsMatchTheReference) {
  const auto signal = Signal(600000, 77);
  std::mt19937 random(3);
  auto writer = std::make_unique<AudChunkWriter>();
  MemorySink sink;
  fuzzref::ImaState model;
  std::vector<uint8_t> expected;
  for (size_t at = 0; at < signal.size();) {
    const uint32_t choice = random() % 4;
    const uint32_t bytes = std::min<uint32_t>(choice == 0 ? 65536 : choice == 1 ? 1 + random() % 4096 : random() % 100000,
                                              static_cast<uint32_t>(2 * (signal.size() - at)));
    std::vector<std::vector<uint8_t>> chunks;
    fuzzref::EncodeAudBlock(model, signal.data() + at, bytes, chunks);
    for (const auto& chunk : chunks) expected.insert(expected.end(), chunk.begin(), chunk.end());
    const size_t writesBefore = sink.writes;
    ASSERT_EQ(AudWriteBlock(writer.get(), &sink.sink, signal.data() + at, bytes), bytes);
    ASSERT_EQ(sink.writes - writesBefore, (chunks.size() + AUD_GATHER_CHUNKS - 1) / AUD_GATHER_CHUNKS) << bytes;
    at += bytes / 2;
  }
  ASSERT_EQ(sink.bytes, expected);

  std::vector<int16_t> reference;
  for (const auto& event : fuzzref::DecodeAudChunks(expected.data(), expected.size())) reference.push_back(event.sample);
  for (uint32_t capacity : {1u, 7u, 520u, 4099u, 32768u}) {
    MemorySource file;
    file.bytes = expected;
    std::vector<uint8_t> buffer(capacity);
    AudReadAhead ahead;
    AudReadAheadInit(&ahead, &file.source, buffer.data(), capacity);
    const AudByteSource source = AudReadAheadSource(&ahead);
    AudChunkReader reader{};
    std::vector<int16_t> samples;
    size_t requests = 1;
    for (;; ++requests) {
      const uint32_t bytes = random() % 3 ? 30720 : random() % 70000;
      std::vector<int16_t> out(bytes / 2 + 1, 0x7E7E);
      const uint32_t got = AudReadBlock(&reader, &source, out.data(), bytes);
      ASSERT_EQ(out[bytes / 2], 0x7E7E) << "stored past the request";
      samples.insert(samples.end(), out.begin(), out.begin() + got / 2);
      if (got < (bytes & ~1u)) break;
    }
    EXPECT_EQ(samples, reference) << "read-ahead of " << capacity;
    if (capacity >= 520) {
      EXPECT_LE(file.reads, expected.size() / capacity + requests + 1) << capacity;
    }
  }
}

TEST(AudFileHeader, RoundTripsAndAcceptsOnlyFlags2Type99) {
  const AudFileHeader written = {11025, 1040, 4096, AUD_FLAGS_16BIT_MONO, AUD_TYPE_IMA_ADPCM};
  uint8_t bytes[12];
  AudWriteFileHeader(&written, bytes);
  const std::vector<uint8_t> expected = {0x11, 0x2B, 0x10, 0x04, 0, 0, 0x00, 0x10, 0, 0, 2, 99};
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 12), expected);
  AudFileHeader read{};
  EXPECT_TRUE(AudReadFileHeader(bytes, &read));
  EXPECT_EQ(read.sampleRate, 11025);
  EXPECT_EQ(read.uncompressedSize, 4096u);
  bytes[10] = 3;
  EXPECT_FALSE(AudReadFileHeader(bytes, &read));
  bytes[10] = 2;
  bytes[11] = 1;
  EXPECT_FALSE(AudReadFileHeader(bytes, &read));
}

}  // namespace
