// The whole VQF import path: header, frame records, decoder. The first byte chooses between
// the input as a whole file (the header reader's cases) and a well-formed header of one of
// the 18 modes (the next byte) followed by the input as frame records, so that most inputs
// reach the decoder. The reads, in blocks of sizes the input chooses, must deliver exactly
// the sample count announced at open, and then nothing more.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tables.h"
#include "vqf_reader.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "VQF import: %s\n", what);
    std::abort();
  }
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

std::vector<uint8_t> HeaderOfMode(uint8_t choice) {
  const twinvq::RateMode& mode = twinvq::kRateModes[(choice >> 1) % 9];
  const uint32_t channels = 1 + (choice & 1);
  std::vector<uint8_t> out = {'T', 'W', 'I', 'N', '9', '7', '0', '1', '2', '0', '0', '0'};
  Put32(out, 20);
  out.insert(out.end(), {'C', 'O', 'M', 'M'});
  Put32(out, 12);
  Put32(out, channels - 1);
  Put32(out, uint32_t(mode.kbpsPerChannel) * channels);
  Put32(out, uint32_t(mode.kHzCode));
  out.insert(out.end(), {'D', 'A', 'T', 'A'});
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool wholeFile = input.ConsumeBool();
  const uint8_t mode = input.ConsumeIntegral<uint8_t>();
  const size_t block = input.ConsumeIntegralInRange<size_t>(1, 5000);
  std::vector<uint8_t> file = wholeFile ? std::vector<uint8_t>() : HeaderOfMode(mode);
  const std::vector<uint8_t> rest = input.ConsumeRemainingBytes<uint8_t>();
  file.insert(file.end(), rest.begin(), rest.end());

  std::FILE* stream = std::tmpfile();
  Check(stream != nullptr, "no temporary file");
  if (!file.empty()) std::fwrite(file.data(), 1, file.size(), stream);
  vqf::VqfDecoder decoder;
  if (decoder.Open(stream) != vqf::HeaderStatus::kOk) return 0;
  const size_t channels = size_t(decoder.header().channels);
  std::vector<int16_t> pcm(block * channels);
  uint64_t delivered = 0;
  for (;;) {
    const size_t got = decoder.Read(pcm.data(), block);
    Check(got <= block, "more than asked");
    delivered += got;
    if (got < block) break;
  }
  Check(delivered == decoder.totalSampleFrames(), "delivered a count other than announced");
  Check(decoder.Read(pcm.data(), block) == 0, "a read after the end delivered");
  return 0;
}
