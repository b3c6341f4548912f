// VQF files for the tests: a minimal header around frame records, and ffmpeg's decode of
// such a file (an independent decoder).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stream_setup.h"

namespace twinvq_test {

inline void PutBigEndian(std::vector<uint8_t>& out, uint32_t v) {
  for (int32_t shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void PutText(std::vector<uint8_t>& out, const char* text) {
  out.insert(out.end(), text, text + std::strlen(text));
}

// A minimal VQF file: version id, the size of the chunk records, "COMM", "DATA", frames.
inline std::vector<uint8_t> MakeVqf(const twinvq::StreamSetup& setup, const std::vector<uint8_t>& frames) {
  std::vector<uint8_t> file;
  PutText(file, "TWIN97012000");
  PutBigEndian(file, 20);
  PutText(file, "COMM");
  PutBigEndian(file, 12);
  PutBigEndian(file, static_cast<uint32_t>(setup.channels() - 1));
  PutBigEndian(file, static_cast<uint32_t>(setup.mode().kbpsPerChannel * setup.channels()));
  PutBigEndian(file, static_cast<uint32_t>(setup.mode().kHzCode));
  PutText(file, "DATA");
  file.insert(file.end(), frames.begin(), frames.end());
  return file;
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// ffmpeg's decode of a VQF file as raw samples of `format` (f32le, s16le); empty when
// ffmpeg refuses the file.
template <typename Sample>
std::vector<Sample> DecodeWithFfmpeg(const std::vector<uint8_t>& vqf, const std::string& name,
                                     const char* format) {
  const std::string in = ::testing::TempDir() + name + ".vqf";
  const std::string out = ::testing::TempDir() + name + ".raw";
  WriteFile(in, vqf);
  std::remove(out.c_str());
  // ffmpeg reports an error at the end of a complete file; the output is whole regardless.
  const std::string command =
      "ffmpeg -nostdin -v quiet -y -i '" + in + "' -f " + format + " '" + out + "'";
  (void)std::system(command.c_str());
  std::ifstream f(out, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), {});
  std::vector<Sample> samples(bytes.size() / sizeof(Sample));
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(Sample));
  std::remove(in.c_str());
  std::remove(out.c_str());
  return samples;
}

}  // namespace twinvq_test
