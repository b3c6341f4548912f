// The AUD import path from the 12-byte header to the last chunk, over any bytes, with host
// requests of random sizes, read straight from the file and through a read-ahead. Every request must return exactly what an independent decoder
// of the same bytes says: all the samples asked for while the data lasts, in order, none
// lost at a request boundary, a foreign chunk header ending the request it falls in.
//
// Input: the file's bytes first; the last bytes choose up to 8 request sizes, used in turn
// (fuzz/make_seeds.py writes them); without them every request is 30720 bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "aud_codec.h"
#include "aud_header.h"
#include "aud_reference.h"
#include "aud_stream.h"

namespace {

struct MemoryFile {
  const uint8_t* data;
  size_t size;
  size_t pos;  // may pass the end, as a file pointer may
};

uint32_t ReadMemory(void* context, uint8_t* bytes, uint32_t length) {
  auto* f = static_cast<MemoryFile*>(context);
  if (f->pos >= f->size) return 0;
  const size_t n = length < f->size - f->pos ? length : f->size - f->pos;
  std::memcpy(bytes, f->data + f->pos, n);
  f->pos += n;
  return static_cast<uint32_t>(n);
}

void SkipMemory(void* context, uint32_t length) { static_cast<MemoryFile*>(context)->pos += length; }

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "AUD import: %s\n", what);
    abort();
  }
}

// The whole-chunk decoder in memory must agree with the reference on the first chunk.
void CheckFirstChunk(const uint8_t* chunk, size_t size, uint32_t maxSamples) {
  AudCodecState state = {0, 0};
  std::unique_ptr<int16_t[]> out(new int16_t[maxSamples ? maxSamples : 1]);
  const uint32_t got = AudDecodeChunk(&state, chunk, static_cast<uint32_t>(size), out.get(), maxSamples);
  Check(got <= maxSamples && state.stepIndex >= 0 && state.stepIndex <= 88, "chunk decode range");
  // The reference of this one chunk alone (cut after it, so a break cannot follow).
  std::vector<fuzzref::AudEvent> expected;
  if (size >= 8) {
    const size_t codeBytes = chunk[0] | (chunk[1] << 8);
    expected = fuzzref::DecodeAudChunks(chunk, size < 8 + codeBytes ? size : 8 + codeBytes);
  }
  uint32_t n = 0;
  for (const auto& e : expected) {
    if (e.isBreak || n == maxSamples) break;
    Check(out[n] == e.sample, "chunk decode sample");
    ++n;
  }
  Check(got == n, "chunk decode count");
}

// Reads the chunk data with the requests in turn, each checked against the reference.
// `aheadBytes` 0 reads the file directly, else through a read-ahead of that size.
void ReadInRequests(const std::vector<uint8_t>& file, const std::vector<uint32_t>& requests,
                    const std::vector<fuzzref::AudEvent>& expected, uint32_t aheadBytes) {
  size_t next = 0;  // the next expected event
  MemoryFile memory = {file.data(), file.size(), AUD_FILE_HEADER_BYTES};
  const AudByteSource fileSource = {&memory, ReadMemory, SkipMemory};
  std::vector<uint8_t> aheadBuffer(aheadBytes);
  AudReadAhead ahead;
  AudReadAheadInit(&ahead, &fileSource, aheadBuffer.data(), aheadBytes);
  const AudByteSource source = aheadBytes ? AudReadAheadSource(&ahead) : fileSource;
  // Where the reader stands in the file: the read-ahead's bytes not yet taken are ahead of it.
  auto position = [&] { return memory.pos - (aheadBytes ? ahead.end - ahead.next : 0); };
  AudChunkReader reader;
  std::memset(&reader, 0, sizeof reader);
  bool anyProgress = false;
  for (size_t call = 0; call < 1u << 20; ++call) {
    const uint32_t bytes = requests[call % requests.size()];
    if (call % requests.size() == 0) {
      if (call != 0 && !anyProgress) break;  // a whole round of requests that moved nothing
      anyProgress = false;
    }
    // Exactly the bytes asked for, so a sample stored past the request is caught.
    std::unique_ptr<int16_t[]> buffer(new int16_t[bytes / 2]);
    const size_t before = position();
    const uint32_t got = AudReadBlock(&reader, &source, buffer.get(), bytes);
    Check(got % 2 == 0 && got <= bytes, "request size");
    Check(reader.state.predictor >= -32768 && reader.state.predictor <= 32767 &&
              reader.state.stepIndex >= 0 && reader.state.stepIndex <= 88,
          "codec state range");
    // The reference: samples until the request is full, a break (consumed) or the end.
    uint32_t want = bytes / 2, n = 0;
    while (n < want && next < expected.size()) {
      if (expected[next].isBreak) {
        ++next;
        break;
      }
      Check(buffer[n] == expected[next].sample, "sample differs from the reference decoder");
      ++n;
      ++next;
    }
    Check(got == 2 * n, "sample count differs from the reference decoder");
    if (got != 0 || position() != before) anyProgress = true;
    if (want != 0 && next >= expected.size() && position() >= memory.size && got == 0) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<uint32_t> requests;
  const size_t requestCount = size > 64 ? provider.ConsumeIntegralInRange<size_t>(0, 8) : 0;
  for (size_t i = 0; i < requestCount; ++i) requests.push_back(provider.ConsumeIntegralInRange<uint32_t>(0, 70000));
  if (requests.empty()) requests.push_back(30720);
  const std::vector<uint8_t> file = provider.ConsumeRemainingBytes<uint8_t>();
  if (file.size() < AUD_FILE_HEADER_BYTES) return 0;

  AudFileHeader header;
  AudReadFileHeader(file.data(), &header);  // the chunks are read whatever the header says
  CheckFirstChunk(file.data() + 12, file.size() - 12, requests[0] / 2 > 1024 ? 1024 : requests[0] / 2);

  const std::vector<fuzzref::AudEvent> expected = fuzzref::DecodeAudChunks(file.data() + 12, file.size() - 12);
  // Straight from the file, then through a read-ahead of a size the file's length picks
  // (as the plug-in reads), which must deliver the same.
  ReadInRequests(file, requests, expected, 0);
  ReadInRequests(file, requests, expected, 1 + static_cast<uint32_t>(file.size() % 1500));
  return 0;
}
