// The VQF header reader: the headers our builder writes and the shapes other encoders wrote
// (more chunks, longer "COMM"), files of other kinds, damaged chunk trees and modes the
// decoder does not have.
#include "vqf_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>

#include "header_builder.h"
#include "test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

Bytes Chunk(const std::string& id, const Bytes& payload) {
  Bytes out;
  PutText(out, id);
  Put32(out, static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes Comm(uint32_t channelCode, uint32_t kbpsTotal, uint32_t kHz, size_t extraBytes = 0) {
  Bytes p;
  Put32(p, channelCode);
  Put32(p, kbpsTotal);
  Put32(p, kHz);
  p.resize(p.size() + extraBytes, 0);
  return Chunk("COMM", p);
}

// Version tag, the records' byte count (or `declared`), the records, "DATA" and 64 zero bytes.
Bytes Header(const std::vector<Bytes>& records, int64_t declared = -1, bool data = true) {
  Bytes body;
  for (const Bytes& r : records) body.insert(body.end(), r.begin(), r.end());
  Bytes out;
  PutText(out, "TWIN97012000");
  Put32(out, declared >= 0 ? uint32_t(declared) : uint32_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (data) PutText(out, "DATA");
  out.resize(out.size() + 64, 0);
  return out;
}

std::FILE* TemporaryFile(const Bytes& bytes) {
  std::FILE* file = std::tmpfile();
  if (file && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  return file;
}

// The header our builder writes for 22 kHz, 24 kbps mono, with a title and a
// "header_info" directory (a year chunk and a second-level title).
Bytes BuilderHeader() {
  ScratchDirectory dir("vqf_reader_builder");
  WriteTextFile(dir.Path() / "header_info" / "YEAR", "1999 7");
  WriteTextFile(dir.Path() / "header_info" / "SCND" / "NAME", "second title");
  HeaderInfo info;
  std::memset(&info, 0, sizeof info);
  std::strcpy(info.versionId, "TWIN97012000");
  info.channelMode = 0;
  info.bitRate = 24;
  info.samplingRate = 22;
  std::strcpy(info.name, "A title");
  info.dataSize = 1234;
  std::unique_ptr<CChunk> root = BuildHeader(info, "header_info");
  BitFile* file = OpenBitFile("out.vqf", "wb");
  WriteHeader(file, *root);
  CloseBitFile(file);
  Bytes bytes = ReadFileBytes("out.vqf");
  bytes.resize(bytes.size() + 64, 0);
  return bytes;
}

struct HeaderCase {
  const char* name;
  std::function<Bytes()> bytes;
  vqf::HeaderStatus status;
  int32_t channels, kbps;
  uint32_t rate;
};

TEST(VqfHeaderReader, ReadsHeadersAndRefusesOthers) {
  using S = vqf::HeaderStatus;
  const Bytes asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  const HeaderCase cases[] = {
      {"minimal", [] { return Header({Comm(1, 96, 44)}); }, S::kOk, 2, 48, 44100},
      {"our builder", BuilderHeader, S::kOk, 1, 24, 22050},
      {"other encoders' chunks", [] {
         return Header({Chunk("NAME", {'x'}), Chunk("ABCD", {1, 2, 3}), Comm(0, 8, 11, 4),
                        Chunk("DSIZ", {0, 0, 1, 0}), Chunk("_ID3", {})});
       }, S::kOk, 1, 8, 11025},
      {"the last COMM counts", [] { return Header({Comm(0, 8, 8), Comm(1, 32, 16)}); }, S::kOk, 2, 16, 16000},
      {"empty file", [] { return Bytes(); }, S::kNotVqf, 0, 0, 0},
      {"WAV", [] {
         Bytes b;
         PutText(b, "RIFF\x24\x00\x00\x00WAVEfmt ");
         b.resize(200, 0);
         return b;
       }, S::kNotVqf, 0, 0, 0},
      {"ASF", [&] { Bytes b = asf; b.resize(300, 0); return b; }, S::kNotVqf, 0, 0, 0},
      {"no COMM", [] { return Header({Chunk("NAME", {'x'})}); }, S::kNotVqf, 0, 0, 0},
      {"no DATA", [] { return Header({Comm(0, 8, 8)}, -1, false); }, S::kNotVqf, 0, 0, 0},
      {"chunk past the records", [] { return Header({Comm(0, 8, 8), Chunk("NAME", {'a', 'b'})}, 22); },
       S::kNotVqf, 0, 0, 0},
      {"short COMM", [] { return Header({Chunk("COMM", {0, 0, 0, 0, 0, 0, 0, 8})}); }, S::kNotVqf, 0, 0, 0},
      {"records' size negative", [] { return Header({Comm(0, 8, 8)}, 0x80000000LL); }, S::kNotVqf, 0, 0, 0},
      {"44 kHz 32 kbps", [] { return Header({Comm(0, 32, 44)}); }, S::kUnsupported, 0, 0, 0},
      {"three channels", [] { return Header({Comm(2, 144, 44)}); }, S::kUnsupported, 0, 0, 0},
      {"48 kHz", [] { return Header({Comm(0, 48, 48)}); }, S::kUnsupported, 0, 0, 0},
      {"odd stereo total", [] { return Header({Comm(1, 97, 44)}); }, S::kUnsupported, 0, 0, 0},
      {"no channels", [] { return Header({Comm(0xFFFFFFFFu, 48, 44)}); }, S::kUnsupported, 0, 0, 0},
      {"channel code at the top", [] { return Header({Comm(0x7FFFFFFFu, 48, 44)}); }, S::kUnsupported, 0, 0, 0},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::FILE* file = TemporaryFile(c.bytes());
    ASSERT_NE(file, nullptr);
    vqf::VqfHeader header;
    EXPECT_EQ(vqf::ReadVqfHeader(file, &header), c.status);
    if (c.status == S::kOk) {
      EXPECT_EQ(header.channels, c.channels);
      EXPECT_EQ(header.kbpsPerChannel, c.kbps);
      EXPECT_EQ(header.sampleRate, c.rate);
      // The frames start right after "DATA".
      std::fseek(file, static_cast<long>(header.dataOffset) - 4, SEEK_SET);
      char marker[4];
      ASSERT_EQ(std::fread(marker, 1, 4, file), 4u);
      EXPECT_EQ(std::memcmp(marker, "DATA", 4), 0);
    }
    std::fclose(file);
  }
}

TEST(VqfHeaderReader, CountsOnlyWholeFrameRecords) {
  struct Case { int64_t bytes; int32_t bits; int64_t frames; };
  // 4458 bits: 44 kHz 48 kbps stereo; a record is whole once its last bit's byte is there.
  const Case cases[] = {{0, 4458, 0}, {557, 4458, 0}, {558, 4458, 1}, {1114, 4458, 1},
                        {1115, 4458, 2}, {-5, 4458, 0}, {4096, 512, 64}, {4095, 512, 63}};
  for (const Case& c : cases)
    EXPECT_EQ(vqf::WholeFrameCount(c.bytes, c.bits), c.frames) << c.bytes << " bytes of " << c.bits;
}

TEST(VqfHeaderReader, SamplesRoundToNearestAndClip) {
  struct Case { float in; int16_t out; };
  const Case cases[] = {{0.0f, 0},           {0.5f / 32768, 0},   {1.5f / 32768, 2},
                        {-1.5f / 32768, -2}, {0.99999f, 32767},   {1.0f, 32767},
                        {-1.0f, -32768},     {7.0f, 32767},       {-7.0f, -32768},
                        {1e30f, 32767},      {-1e30f, -32768},    {std::nanf(""), -32768}};
  for (const Case& c : cases) EXPECT_EQ(vqf::ToPcm16(c.in), c.out) << c.in;
  // The block conversion (vector registers for whole groups of eight) gives the same at
  // every position: the cases rotated through a run of 21.
  for (size_t shift = 0; shift < 21; ++shift) {
    float in[21];
    int16_t out[21];
    for (size_t i = 0; i < 21; ++i) in[i] = cases[(i + shift) % std::size(cases)].in;
    vqf::ToPcm16(in, 21, out);
    for (size_t i = 0; i < 21; ++i)
      EXPECT_EQ(out[i], cases[(i + shift) % std::size(cases)].out) << in[i] << " at " << i;
  }
}

}  // namespace
