// The AUD export path: host blocks of random sizes and samples cut into chunks and written
// to a sink that may run full at any byte (a full disk). Checked against an independent
// encoder: the bytes stored are exactly the chunks the format prescribes; each call returns
// its whole count until the failing write, then the bytes of the chunks stored whole before
// it, then 0; the samples counted as written are those of whole chunks only.
//
// Input: block sizes and the sink's capacity from the end, sample bytes from the front.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "aud_reference.h"
#include "aud_stream.h"

namespace {

struct MemorySink {
  std::vector<uint8_t> bytes;
  size_t capacity;
};

uint32_t WriteMemory(void* context, const uint8_t* bytes, uint32_t length) {
  auto* sink = static_cast<MemorySink*>(context);
  const size_t room = sink->capacity - sink->bytes.size();
  const size_t n = length < room ? length : room;  // a full disk may take part of a write
  sink->bytes.insert(sink->bytes.end(), bytes, bytes + n);
  return static_cast<uint32_t>(n);
}

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "AUD export: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const bool limited = provider.ConsumeBool();
  const size_t capacity = limited ? provider.ConsumeIntegralInRange<size_t>(0, 40000) : SIZE_MAX;
  std::vector<uint32_t> blocks(provider.ConsumeIntegralInRange<size_t>(1, 8));
  for (uint32_t& b : blocks) {
    b = provider.ConsumeIntegralInRange<uint32_t>(0, 9000);
    if (b % 16 == 15) b *= 15;  // one block in 16 up to 66 chunks long: several gathered writes
  }
  const std::vector<uint8_t> pcm = provider.ConsumeRemainingBytes<uint8_t>();

  MemorySink sink = {{}, capacity};
  const AudByteSink byteSink = {&sink, WriteMemory};
  std::unique_ptr<AudChunkWriter> owned(new AudChunkWriter);
  AudChunkWriter& writer = *owned;
  std::memset(&writer, 0, sizeof writer);

  fuzzref::ImaState model;
  std::vector<uint8_t> expected;  // what the file holds if nothing fails
  size_t source = 0;
  bool failed = false;
  uint32_t wholeSamples = 0;
  size_t wholeBytes = 0;
  for (uint32_t bytes : blocks) {
    // Exactly bytes / 2 samples: the odd last byte must not even be read.
    std::unique_ptr<int16_t[]> samples(new int16_t[bytes / 2]);
    for (uint32_t i = 0; i < bytes / 2; ++i, source += 2) {
      samples[i] = pcm.empty() ? 0
                               : static_cast<int16_t>(pcm[source % pcm.size()] |
                                                      pcm[(source + 1) % pcm.size()] << 8);
    }
    std::vector<std::vector<uint8_t>> chunks;
    fuzzref::EncodeAudBlock(model, samples.get(), bytes, chunks);

    const uint32_t got = AudWriteBlock(&writer, &byteSink, samples.get(), bytes);
    uint32_t consumed = 0;
    for (const auto& chunk : chunks) {
      if (failed) break;
      expected.insert(expected.end(), chunk.begin(), chunk.end());
      if (expected.size() > capacity) {
        failed = true;
        break;
      }
      const uint32_t n = (chunk[2] | chunk[3] << 8) / 2;
      wholeSamples += n;
      wholeBytes += chunk.size();
      consumed += 2 * n;  // only whole 2048-byte pieces come before a failing chunk
    }
    // Until the failing write every call takes everything; a call after it takes nothing.
    if (!failed) consumed = bytes;
    Check(got == consumed, "returned count");
    Check(writer.failed == (failed ? 1u : 0u), "failure flag");
  }
  if (expected.size() > capacity) expected.resize(capacity);
  Check(sink.bytes == expected, "bytes written differ from the reference encoder");
  Check(writer.samplesWritten == wholeSamples, "samples counted as written");
  Check(writer.bytesWritten == wholeBytes, "bytes counted as written");
  return 0;
}
