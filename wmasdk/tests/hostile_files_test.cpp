// Files that hide what they are, or say nothing of their length: protected content behind
// a large header or an ID3v2 tag, files written to a pipe, unfinished exports, cut files
// at low rates, and sizes near the 64-bit limit.
#include "ffmpeg_reader.h"
#include "ffmpeg_writer.h"
#include "wma_test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace wmacore;
using namespace wmacore::testfiles;

namespace {

constexpr uint8_t kContentEncryption[16] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                            0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
constexpr uint8_t kPadding[16] = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                                  0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};
constexpr uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

uint64_t Get64(const std::vector<char>& b, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

void Put64(std::vector<char>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

// An ASF object: its GUID, its size, and a body of zeros.
std::vector<char> Object(const uint8_t (&guid)[16], size_t size) {
  std::vector<char> o(size, 0);
  std::copy(guid, guid + 16, o.begin());
  Put64(o, 16, size);
  return o;
}

// The objects put first among the header's children, its size and count kept true.
std::vector<char> WithChildren(std::vector<char> b, const std::vector<std::vector<char>>& objects) {
  size_t added = 0;
  for (auto it = objects.rbegin(); it != objects.rend(); ++it) {
    b.insert(b.begin() + 30, it->begin(), it->end());
    added += it->size();
  }
  Put64(b, 16, Get64(b, 16) + added);
  b[24] = static_cast<char>(b[24] + static_cast<char>(objects.size()));
  return b;
}

// An ID3v2 tag of `body` bytes (syncsafe size), with a footer when `footer`.
std::vector<char> Id3v2(uint32_t body, bool footer) {
  std::vector<char> t = {'I', 'D', '3', 4, 0, static_cast<char>(footer ? 0x10 : 0),
                         static_cast<char>(body >> 21 & 0x7F), static_cast<char>(body >> 14 & 0x7F),
                         static_cast<char>(body >> 7 & 0x7F), static_cast<char>(body & 0x7F)};
  t.resize(t.size() + body + (footer ? 10 : 0), 0);
  if (footer) std::copy_n("3DI", 3, t.end() - 10);
  return t;
}

std::vector<char> Prefixed(const std::vector<char>& prefix, const std::vector<char>& b) {
  std::vector<char> out = prefix;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

int32_t OpenResult(const std::string& path) {
  int32_t result = kOk;
  StreamInfo info;
  AsfWmaReader* r = OpenReader(path.c_str(), &info, &result);
  if (r) CloseReader(r);
  return result;
}

size_t FfmpegSamples(const std::string& path, uint32_t channels) {
  const std::string pcm = path + ".pcm";
  if (!Ffmpeg("-i " + path + " -f s16le " + pcm)) return 0;
  return ReadAll(pcm).size() / 2 / channels;
}

// Protection is seen however far into the header it sits and whatever precedes the header.
TEST(WmaHostileFiles, ProtectedContentIsRefusedWhereverTheHeaderHidesIt) {
  const std::string clearPath = TempPath("hostile-clear.wma"), path = TempPath("hostile-protected.wma");
  Encode(clearPath, {64000, 44100, 2, 44100, 2, 16}, Sine(44100, 2, 16, 8192), 65536);
  const std::vector<char> clear = ReadAll(clearPath);
  const std::vector<char> locked = WithChildren(clear, {Object(kContentEncryption, 40)});
  const std::vector<char> tags = Prefixed(Id3v2(1000, false), Id3v2(300, true));
  struct Case {
    const char* what;
    std::vector<char> bytes;
    int32_t result;
  } cases[] = {
      {"behind 1.1 MB of padding", WithChildren(clear, {Object(kPadding, 1100000), Object(kContentEncryption, 40)}),
       kProtected},
      {"behind an ID3v2 tag", Prefixed(Id3v2(1000, false), locked), kProtected},
      {"behind two tags, one with a footer", Prefixed(tags, locked), kProtected},
      {"clear, behind the tags", Prefixed(tags, clear), kOk},
      {"clear, behind the padding", WithChildren(clear, {Object(kPadding, 1100000)}), kOk},
      {"tags, then no header", Prefixed(tags, std::vector<char>(4096, 'x')), kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(path, c.bytes);
    EXPECT_EQ(OpenResult(path), c.result);
  }
}

// A header without a usable duration: the length is estimated from the file, never
// below what decodes by more than one packet, and the stream ends as whole.
TEST(WmaHostileFiles, FilesWithoutADurationAnnounceAnEstimateAndEndWhole) {
  const std::string made = TempPath("hostile-piped.wma"), path = TempPath("hostile-nolength.wma");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -f lavfi -i sine=f=440:r=44100:d=10.8 -ac 2 "
                         "-c:a wmav2 -b:a 128k -f asf pipe:1 > " + made).c_str()), 0);
  const std::vector<char> piped = ReadAll(made);
  struct Case {
    const char* what;
    std::vector<char> bytes;
  } cases[] = {
      {"written to a pipe", piped},
      {"and behind an ID3v2 tag", Prefixed(Id3v2(2000, false), piped)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(path, c.bytes);
    const size_t theirs = FfmpegSamples(path, 2);
    EXPECT_NEAR(static_cast<double>(theirs), 10.8 * 44100, 2 * 2048);
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.state, kEnded);
    EXPECT_EQ(d.pcm.size() / 2, theirs);
    EXPECT_LE(d.stream.samples, static_cast<int64_t>(theirs));
    EXPECT_GE(d.stream.samples, static_cast<int64_t>(theirs) - 44100 / 4);
  }
}

// A writer that never reached its finish (a failed write, a host that died) leaves a
// placeholder count that is never taken for a count of none.
TEST(WmaHostileFiles, AnUnfinishedExportImportsWhatFfmpegDecodes) {
  const std::string path = TempPath("hostile-unfinished.wma");
  int32_t result = kFailed;
  AsfWmaWriter* w = OpenWriter(path.c_str(), &result);
  ASSERT_NE(w, nullptr);
  uint32_t written = 0;
  ASSERT_EQ(SetWriterOutput(w, 64000, 44100, 2, &written), kOk);
  ASSERT_EQ(SetWriterInput(w, 44100, 2, 16), kOk);
  const std::vector<uint8_t> pcm = Sine(44100, 2, 16, 44100 * 3);
  ASSERT_EQ(WritePcm(w, pcm.data(), static_cast<uint32_t>(pcm.size())), kOk);
  CloseWriter(w);  // no finish
  const size_t theirs = FfmpegSamples(path, 2);
  EXPECT_GT(theirs, 44100u * 2);
  const Decoded d = Decode(path);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.pcm.size() / 2, theirs);
}

// A cut file ends as damaged when more than three of its own frames and 0.1 s are missing.
TEST(WmaHostileFiles, CutFilesAtLowRatesEndDamaged) {
  struct Case {
    uint32_t rate;
    int keptPercent;  // loses more than the slack, less than 3 * 4096 samples + 0.1 s
  } cases[] = {{8000, 90}, {22050, 96}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const std::string path = TempPath("hostile-lowrate.wma");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=f=440:r=" + std::to_string(c.rate) + ":d=10 -c:a wmav2 -b:a 24k " + path));
    std::vector<char> b = ReadAll(path);
    b.resize(b.size() * c.keptPercent / 100);
    WriteAll(path, b);
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.state, kDamaged) << d.pcm.size() << " of " << d.stream.samples;
  }
}

// Sizes near 2^62 and no duration: the length comes from the file's real size, and a
// forged count far beyond it is not believed.
TEST(WmaHostileFiles, AbsurdSizesAreBoundedByTheFile) {
  const std::string ours = TempPath("hostile-absurd-ours.wma"), path = TempPath("hostile-absurd.wma");
  Encode(ours, {32000, 22050, 1, 22050, 1, 16}, Sine(22050, 1, 16, 30001), 4096);
  std::vector<char> b = ReadAll(ours);
  ASSERT_TRUE(Replace(b, "0000000000030001", "0000999999999999"));
  Put64(b, static_cast<size_t>(Get64(b, 16)) + 16, (uint64_t{1} << 62) - 1);  // the data object's size
  const std::vector<char> guid(kFileProperties, kFileProperties + 16);
  const auto props = std::search(b.begin(), b.end(), guid.begin(), guid.end());
  ASSERT_NE(props, b.end());
  std::vector<char> noProps = b;
  noProps[props - b.begin()] ^= 0x55;  // no file properties at all
  std::vector<char> broadcast = b;
  broadcast[props - b.begin() + 88] |= 1;  // durations not set
  for (const auto& bytes : {noProps, broadcast}) {
    WriteAll(path, bytes);
    const Decoded d = Decode(path);
    if (!d.opened) continue;
    EXPECT_LE(d.stream.samples, 2 * 30001);
    EXPECT_LE(d.pcm.size(), 30001u + 3 * 1024);
  }
}

}  // namespace
