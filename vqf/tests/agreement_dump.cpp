// The decoder's output for the comparison with ffmpeg on a build that cannot start ffmpeg
// itself (the Windows builds under wine): for each of the 18 modes, the agreement stream
// as a VQF file, the decoder model's float output and the VQF reader's 16-bit output.
//   agreement_dump DIR    writes DIR/<kHz>_<kbps>_<channels>.{vqf,f32,s16}
// vqf/tests/agreement_check.py runs it and compares both outputs with ffmpeg's decode.
#include <gtest/gtest.h>  // vqf_test_file.h's ffmpeg helper names gtest's temporary folder

#include <cstdio>
#include <string>
#include <vector>

#include "agreement_stream.h"
#include "vqf_reader.h"
#include "vqf_test_file.h"

namespace {

bool WriteRaw(const std::string& path, const void* data, size_t bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(data, 1, bytes, f) == bytes;
  return std::fclose(f) == 0 && written;
}

// The reader's whole output of a file, interleaved; empty when it refuses the file.
std::vector<int16_t> ReadAll(const std::string& path) {
  vqf::VqfDecoder decoder;
  std::vector<int16_t> samples;
  if (decoder.Open(std::fopen(path.c_str(), "rb")) != vqf::HeaderStatus::kOk) return samples;
  const size_t channels = size_t(decoder.header().channels);
  std::vector<int16_t> block(4096 * channels);
  while (size_t got = decoder.Read(block.data(), 4096))
    samples.insert(samples.end(), block.begin(), block.begin() + std::ptrdiff_t(got * channels));
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      twinvq::StreamSetup setup;
      if (!setup.Init(m.kHzCode, m.kbpsPerChannel, channels)) return 1;
      const twinvq_test::AgreementStream stream = twinvq_test::MakeAgreementStream(setup, 0);
      const std::string base = dir + "/" + std::to_string(m.kHzCode) + "_" +
                               std::to_string(m.kbpsPerChannel) + "_" + std::to_string(channels);
      const std::vector<uint8_t> vqf = twinvq_test::MakeVqf(setup, stream.frames);
      if (!WriteRaw(base + ".vqf", vqf.data(), vqf.size()) ||
          !WriteRaw(base + ".f32", stream.expected.data(), stream.expected.size() * sizeof(float))) {
        std::fprintf(stderr, "cannot write %s\n", base.c_str());
        return 1;
      }
      const std::vector<int16_t> pcm = ReadAll(base + ".vqf");
      if (!WriteRaw(base + ".s16", pcm.data(), pcm.size() * sizeof(int16_t))) return 1;
    }
  }
  return 0;
}
