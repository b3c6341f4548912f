// vell_aud.flt through its real exports, loaded the way the host loads it.
#include "aud_codec.h"
#include "plugin_loader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

LoadedPlugin& Plugin() {
  static LoadedPlugin plugin((ProgramDirectory() + "vell_aud.flt").c_str());
  return plugin;
}

std::string TempFile(const std::string& name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "vell_aud_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Store(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint32_t U32At(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }
uint16_t U16At(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

void PutU16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void PutU32(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }

Bytes FileHeader(uint32_t rate, uint32_t compressed, uint32_t uncompressed, uint8_t flags = 2, uint8_t type = 99) {
  Bytes b;
  PutU16(b, rate);
  PutU32(b, compressed);
  PutU32(b, uncompressed);
  b.insert(b.end(), {flags, type});
  return b;
}

void AppendChunk(Bytes& file, uint32_t compressed, uint32_t output, const Bytes& codes, uint32_t id = AUD_CHUNK_ID) {
  PutU16(file, compressed);
  PutU16(file, output);
  PutU32(file, id);
  file.insert(file.end(), codes.begin(), codes.end());
}

std::vector<int16_t> Signal(size_t count) {
  std::vector<int16_t> s(count);
  for (size_t i = 0; i < count; ++i) s[i] = static_cast<int16_t>(((i * 379) % 24000) - 12000 + ((i * 7919) % 301));
  return s;
}

// The chunk sample counts of a file written by the plug-in.
std::vector<uint32_t> ChunkSamples(const Bytes& file) {
  std::vector<uint32_t> counts;
  for (size_t at = 12; at + 8 <= file.size(); at += 8 + U16At(file, at)) {
    EXPECT_EQ(U32At(file, at + 4), AUD_CHUNK_ID);
    counts.push_back(U16At(file, at + 2) / 2u);
  }
  return counts;
}

// Exports `signal` cut into the given blocks (byte counts); returns each call's result.
std::vector<long> Export(const std::string& path, const std::vector<int16_t>& signal, std::vector<long> blocks,
                         long dataBytes) {
  long transfer = -1;
  FilterHandle out = Plugin().openOutput(path.c_str(), 22050, 16, 1, dataBytes, &transfer, 0);
  EXPECT_NE(out, nullptr);
  EXPECT_EQ(transfer, 65536);
  std::vector<long> results;
  const char* data = reinterpret_cast<const char*>(signal.data());
  for (long bytes : blocks) {
    results.push_back(Plugin().writeOutput(out, data, bytes));
    data += bytes;
  }
  Plugin().closeOutput(out);
  return results;
}

struct Import {
  std::vector<long> results;
  std::vector<int16_t> samples;
};

// Reads with `request`-byte calls until one comes back short.
Import ReadAll(const std::string& path, long request) {
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  FilterHandle in = Plugin().openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  EXPECT_NE(in, nullptr);
  Import got;
  if (!in) return got;
  std::vector<int16_t> buffer(request / 2 + 8, 0x7A7A);
  for (;;) {
    const long n = Plugin().readInput(in, buffer.data(), request);
    EXPECT_EQ(buffer[request / 2], 0x7A7A) << "stored beyond the request";
    got.results.push_back(n);
    got.samples.insert(got.samples.end(), buffer.begin(), buffer.begin() + n / 2);
    if (n < request) break;
  }
  Plugin().closeInput(in);
  return got;
}

// The samples the codec decodes from a run of whole chunks' codes.
std::vector<int16_t> Reference(const Bytes& codes, uint32_t count) {
  AudCodecState state{0, 0};
  std::vector<int16_t> out(count);
  AudDecodeCodes(&state, codes.data(), 0, count, out.data());
  return out;
}

TEST(VellAudQuery, WritesOnlyItsOwnFields) {
  ASSERT_TRUE(Plugin().loaded() && Plugin().query);
  uint8_t record[256];
  std::memset(record, 0xA5, sizeof record);
  FilterQuery* q = reinterpret_cast<FilterQuery*>(record);
  EXPECT_EQ(Plugin().query(q) & 0xFFFF, 0x0482);
  EXPECT_STREQ(q->name, "C&C soundtrack files");
  EXPECT_STREQ(q->extension, "AUD");
  EXPECT_GT(std::strlen(q->description), 0u);
  EXPECT_LT(std::strlen(q->description), 80u);
  EXPECT_EQ(q->flags, 6u);
  EXPECT_EQ(q->blockSize, 2048u);
  EXPECT_EQ(q->capabilityWords[10], 4);

  // Every byte outside the texts' characters and the three numbers must be the host's.
  std::vector<bool> written(sizeof record, false);
  auto mark = [&](size_t from, size_t count) { for (size_t i = from; i < from + count; ++i) written[i] = true; };
  mark(0, std::strlen(q->name) + 1);
  mark(24, std::strlen(q->description) + 1);
  mark(104 + 2 * 10, 2);
  mark(132, 4);
  mark(136, 4);
  mark(140, 4);
  for (size_t i = 0; i < sizeof record; ++i)
    if (!written[i]) {
      EXPECT_EQ(record[i], 0xA5) << "byte " << i;
    }
}

TEST(VellAudQuery, ConstantAnswers) {
  long rate = 0;
  WORD bits = 0, channels = 0;
  Plugin().suggestSampleType(&rate, &bits, &channels);
  EXPECT_EQ(rate, 22050);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(channels, 1);
  EXPECT_EQ(Plugin().getOptions(nullptr, nullptr, 1, 2, 3, 7), 0u);
  EXPECT_EQ(Plugin().writeSpecialData(nullptr, nullptr, nullptr, nullptr, 5), 0u);
  EXPECT_EQ(Plugin().getFirstSpecialData(nullptr, nullptr), 0u);
  EXPECT_EQ(Plugin().getNextSpecialData(nullptr, nullptr), 0u);
  Plugin().closeInput(nullptr);
  Plugin().closeOutput(nullptr);
  EXPECT_EQ(Plugin().writeOutput(nullptr, "ab", 2), 0);
  char buffer[4];
  EXPECT_EQ(Plugin().readInput(nullptr, buffer, 2), 0);
}

TEST(VellAudOutput, RefusesOtherSampleTypesWithoutCreatingAFile) {
  const std::string path = TempFile("refused.aud");
  DeleteFileA(path.c_str());
  long transfer = -1;
  EXPECT_EQ(Plugin().openOutput(path.c_str(), 44100, 16, 1, 100, &transfer, 0), nullptr);
  EXPECT_EQ(Plugin().openOutput(path.c_str(), 22050, 8, 1, 100, &transfer, 0), nullptr);
  EXPECT_EQ(Plugin().openOutput(path.c_str(), 22050, 16, 2, 100, &transfer, 0), nullptr);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(transfer, -1);
}

TEST(VellAudOutput, BlocksBecomeChunksThatEndWithEachCall) {
  const auto signal = Signal(40000);
  struct Case {
    std::vector<long> blocks;
    std::vector<uint32_t> chunks;
  };
  const std::vector<uint32_t> thirtyTwo(32, 1024);
  for (const Case& c : {Case{{4096}, {1024, 1024}}, Case{{65536}, thirtyTwo}, Case{{2050}, {1024, 1}},
                        Case{{3000, 1096}, {1024, 476, 548}}, Case{{0}, {}}}) {
    const std::string path = TempFile("blocks.aud");
    long total = 0;
    for (long b : c.blocks) total += b;
    EXPECT_EQ(Export(path, signal, c.blocks, total), c.blocks);
    const Bytes file = Load(path);
    EXPECT_EQ(ChunkSamples(file), c.chunks);
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(U32At(file, 2), file.size() - 12);
    EXPECT_EQ(U32At(file, 6), static_cast<uint32_t>(total));
    DeleteFileA(path.c_str());
  }
}

TEST(VellAudOutput, FileIsExactlyHeaderAndCodecChunks) {
  const auto signal = Signal(2048);
  const std::string path = TempFile("exact.aud");
  Export(path, signal, {4096}, 4096);
  const Bytes file = Load(path);
  ASSERT_EQ(file.size(), 1052u);
  Bytes expected = FileHeader(22050, 1040, 4096);
  AudCodecState state{0, 0};
  for (int chunk = 0; chunk < 2; ++chunk) {
    uint8_t bytes[520];
    const uint32_t n = AudEncodeChunk(&state, signal.data() + 1024 * chunk, 1024, bytes);
    expected.insert(expected.end(), bytes, bytes + n);
  }
  EXPECT_EQ(file, expected);
  DeleteFileA(path.c_str());
}

TEST(VellAudOutput, HeaderCountsTheSamplesReallyWritten) {
  const auto signal = Signal(3000);
  const std::string path = TempFile("announced.aud");
  Export(path, signal, {3000}, 1000000);  // the host announced more than it wrote
  const Bytes file = Load(path);
  EXPECT_EQ(U32At(file, 6), 3000u);
  EXPECT_EQ(U32At(file, 2), file.size() - 12);
  DeleteFileA(path.c_str());
}

TEST(VellAudInput, UnderstandsAndOpensAnyRateOfFlags2Type99) {
  const std::string path = TempFile("rate.aud");
  Bytes file = FileHeader(11025, 0, 4097);
  Store(path, file);
  EXPECT_EQ(Plugin().understandsFormat(path.c_str()), 1);
  long rate = 0, transfer = 0;
  WORD bits = 0, channels = 0;
  FilterHandle in = Plugin().openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(rate, 11025);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(channels, 1);
  EXPECT_EQ(transfer, 30720);
  EXPECT_EQ(Plugin().getFileSize(in), 4096);
  EXPECT_EQ(Plugin().options(in), 0u);
  char text[64];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(Plugin().optionsString(in, text), 1u);
  EXPECT_STREQ(text, "Westwood Studios AUD format");
  EXPECT_EQ(text[28], 'x');
  Plugin().closeInput(in);
  DeleteFileA(path.c_str());
}

TEST(VellAudInput, RefusesOtherHeadersShortFilesAndMissingFiles) {
  const std::string path = TempFile("refused.aud");
  for (const Bytes& file : {FileHeader(22050, 0, 100, 3, 99), FileHeader(22050, 0, 100, 2, 1),
                            Bytes{0x22, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 2}, Bytes{}}) {
    Store(path, file);
    EXPECT_EQ(Plugin().understandsFormat(path.c_str()), 0);
    long rate = -1, transfer = -1;
    WORD bits = 0, channels = 0;
    EXPECT_EQ(Plugin().openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer), nullptr);
    EXPECT_EQ(rate, -1);
  }
  DeleteFileA(path.c_str());
  EXPECT_EQ(Plugin().understandsFormat(path.c_str()), 0);
  EXPECT_EQ(Plugin().openInput(path.c_str(), nullptr, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(VellAudInput, TransferSizedReadsTakeFifteenChunksEach) {
  const auto signal = Signal(40000);
  const std::string path = TempFile("transfer.aud");
  Export(path, signal, {65536, 14464}, 80000);
  const Import got = ReadAll(path, 30720);
  EXPECT_EQ(got.results, (std::vector<long>{30720, 30720, 18560}));
  EXPECT_EQ(got.samples.size(), 40000u);
  DeleteFileA(path.c_str());
}

TEST(VellAudInput, ARequestEndingInsideAChunkLeavesTheRestForTheNext) {
  const auto signal = Signal(4096);
  const std::string path = TempFile("split.aud");
  Export(path, signal, {8192}, 8192);
  const Import whole = ReadAll(path, 30720);
  ASSERT_EQ(whole.samples.size(), 4096u);

  long rate, transfer;
  WORD bits, channels;
  FilterHandle in = Plugin().openInput(path.c_str(), &rate, &bits, &channels, 0, &transfer);
  ASSERT_NE(in, nullptr);
  std::vector<int16_t> first(500), second(1000);
  EXPECT_EQ(Plugin().readInput(in, first.data(), 1000), 1000);
  EXPECT_EQ(Plugin().readInput(in, second.data(), 2000), 2000);
  Plugin().closeInput(in);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), whole.samples.begin()));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), whole.samples.begin() + 500));

  // Any request size gives the same stream.
  EXPECT_EQ(ReadAll(path, 1000).samples, whole.samples);
  EXPECT_EQ(ReadAll(path, 6).samples, whole.samples);
  DeleteFileA(path.c_str());
}

TEST(VellAudInput, LongChunksOfOtherWritersImportWhole) {
  // Other encoders write chunks of 2048 samples (1024 code bytes), and an odd last one.
  const auto signal = Signal(2048 * 3 + 333);
  AudCodecState encoder{0, 0};
  Bytes codes(AudCodeBytesFor(static_cast<uint32_t>(signal.size())));
  AudEncodeCodes(&encoder, signal.data(), static_cast<uint32_t>(signal.size()), codes.data());
  Bytes file = FileHeader(22050, 0, static_cast<uint32_t>(signal.size() * 2));
  for (size_t at = 0; at < codes.size(); at += 1024) {
    const size_t n = std::min<size_t>(1024, codes.size() - at);
    const uint32_t samples = at + n == codes.size() ? 333 : 2048;
    AppendChunk(file, static_cast<uint32_t>(n), samples * 2, Bytes(codes.begin() + at, codes.begin() + at + n));
  }
  const std::string path = TempFile("long.aud");
  Store(path, file);
  const auto expected = Reference(codes, static_cast<uint32_t>(signal.size()));
  EXPECT_EQ(ReadAll(path, 30720).samples, expected);
  EXPECT_EQ(ReadAll(path, 1000).samples, expected);
  DeleteFileA(path.c_str());
}

TEST(VellAudBadInput, EndsWithWhatWasDecodedAndNeverReadsPastABuffer) {
  const auto signal = Signal(1024);
  AudCodecState encoder{0, 0};
  Bytes codes(512);
  AudEncodeCodes(&encoder, signal.data(), 1024, codes.data());
  const auto reference = Reference(codes, 1024);
  const std::string path = TempFile("bad.aud");
  struct Case {
    const char* what;
    Bytes file;
    size_t samples;
  };
  std::vector<Case> cases;
  auto start = [] { return FileHeader(22050, 0, 1u << 20); };
  {
    Bytes f = start();
    AppendChunk(f, 512, 2048, codes);
    AppendChunk(f, 512, 2048, codes, 0xDEAE);
    AppendChunk(f, 512, 2048, codes);
    cases.push_back({"wrong id in the middle", f, 1024});
  }
  {
    Bytes f = start();
    AppendChunk(f, 512, 2048, codes);
    AppendChunk(f, 512, 2048, Bytes(codes.begin(), codes.begin() + 77));
    cases.push_back({"truncated chunk", f, 1024 + 154});
  }
  {
    Bytes f = start();
    AppendChunk(f, 512, 2048, codes);
    f.insert(f.end(), {0x00, 0x02, 0x00});
    cases.push_back({"truncated chunk header", f, 1024});
  }
  {
    Bytes padded = codes;
    padded.resize(65535, 0x5A);
    Bytes f = start();
    AppendChunk(f, 65535, 2048, padded);
    AppendChunk(f, 512, 2048, codes);
    cases.push_back({"compressed size 65535", f, 2048});
  }
  {
    Bytes f = start();
    AppendChunk(f, 65535, 65534, codes);  // announces far more than the file holds
    cases.push_back({"compressed size 65535, file ends", f, 1024});
  }
  {
    Bytes f = start();
    AppendChunk(f, 100, 2048, Bytes(codes.begin(), codes.begin() + 100));
    AppendChunk(f, 512, 2048, codes);
    cases.push_back({"output size beyond the codes", f, 200 + 1024});
  }
  for (const Case& c : cases) {
    Store(path, c.file);
    for (long request : {30720L, 1000L}) {
      const Import got = ReadAll(path, request);
      EXPECT_EQ(got.samples.size(), c.samples) << c.what << ", requests of " << request;
      const size_t same = std::min<size_t>(got.samples.size(), 154);
      EXPECT_TRUE(std::equal(got.samples.begin(), got.samples.begin() + same, reference.begin())) << c.what;
    }
  }
  DeleteFileA(path.c_str());
}

#ifdef AUD_TEST_FILE_LIMIT
// Run only under a file-size limit of AUD_TEST_FILE_LIMIT bytes with SIGXFSZ ignored, so that
// writes past it really fail as on a full disk.
TEST(AudDiskFull, AFailedWriteIsReportedWithTheBytesStoredBeforeIt) {
  const std::string path = TempFile("full.aud");
  const auto signal = Signal(32768);
  long transfer = 0;
  FilterHandle out = Plugin().openOutput(path.c_str(), 22050, 16, 1, 65536, &transfer, 0);
  ASSERT_NE(out, nullptr);
  // The block's 32 chunks go out in one write, which the limit cuts inside the sixth chunk.
  const long wholeChunks = (AUD_TEST_FILE_LIMIT - 12) / 520;
  EXPECT_EQ(Plugin().writeOutput(out, signal.data(), 65536), wholeChunks * 2048);
  EXPECT_EQ(Plugin().writeOutput(out, signal.data(), 2048), 0);
  Plugin().closeOutput(out);
  // The file keeps exactly the chunks reported written, and its header says so.
  const Bytes file = Load(path);
  EXPECT_EQ(file.size(), static_cast<size_t>(12 + wholeChunks * 520));
  EXPECT_EQ(ChunkSamples(file), std::vector<uint32_t>(wholeChunks, 1024));
  EXPECT_EQ(U32At(file, 2), static_cast<uint32_t>(wholeChunks * 520));
  EXPECT_EQ(U32At(file, 6), static_cast<uint32_t>(wholeChunks * 2048));
  DeleteFileA(path.c_str());
}
#endif

}  // namespace
